// disc verify IMAGE... --dat FILE: the files of each image against a catalogue of good dumps.
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "console.h"
#include "disc/datcatalog.h"
#include "disc/describedimage.h"
#include "platform/dbcspath.h"
#include "platform/platform.h"
#include "textconv.h"

namespace vrtool {
namespace {

// The text of a file of at most `limit` bytes: a sheet, a descriptor or a DAT.
std::string TextOf(vr::TPlatform& p, const std::string& path, int64_t limit = vr::kMaxDescriptionBytes) {
  std::unique_ptr<vr::TImageBytes> bytes = vr::OpenImageBytes(p, path);
  if (bytes->Size() > limit) throw vr::EDiscError(path + ": too large for its kind");
  std::string text(static_cast<size_t>(bytes->Size()), '\0');
  if (!bytes->ReadAt(0, text.data(), text.size())) throw vr::EDiscError(path + ": cannot be read");
  return text;
}

// The files an image consists of (code page 932 paths): the sheet or descriptor with the files it names,
// or the image file alone.
std::vector<std::string> FilesOf(vr::TPlatform& p, const std::string& image) {
  std::vector<std::string> files{image};
  const std::string ext = vr::LowerCaseAscii(vr::ExtractFileExt(image));
  const std::string name = vr::ExtractFileName(image);
  const std::string folder = vr::ExtractFilePath(image);
  if (ext == ".cue") {
    for (const std::string& f : vr::ParseCueSheet(TextOf(p, image)).Files) files.push_back(folder + f);
  } else if (ext == ".mds") {
    files.push_back(folder + vr::ParseMds(TextOf(p, image), name).DataFile);
  } else if (ext == ".ccd") {
    files.push_back(folder + vr::ParseCcd(TextOf(p, image), name).DataFile);
    const std::string sub = vr::ChangeFileExt(image, ".sub");
    if (p.GetFileKind(sub) == vr::TFileKind::File) files.push_back(sub);
  }
  return files;
}

vr::TFileDigest Digest(vr::TPlatform& p, const std::string& image, const std::string& path) {
  const std::string shown = ToUtf8(vr::ExtractFileName(path));
  vr::TFileDigest missing;
  missing.Name = shown;
  missing.Missing = true;
  if (path == image) {
    if (p.GetFileKind(path) != vr::TFileKind::File) return missing;
  } else {
    // Named by the image: beside it, a regular file reached without a link.
    const std::string relative = path.substr(vr::ExtractFilePath(image).size());
    if (p.GetFileKind(vr::ExtractFilePath(image) + vr::ReplaceDelimiters(relative, '\\')) ==
        vr::TFileKind::None)
      return missing;
    vr::FileBesideDescription(p, image, relative);
  }
  std::unique_ptr<vr::TImageBytes> bytes = vr::OpenImageBytes(p, path);
  return vr::DigestOf(*bytes, shown);
}

}  // namespace

int CmdDiscVerifyDat(const std::vector<std::string>& images, const std::string& dat, const Options&) {
  vr::TPlatform& p = vr::Platform();
  std::vector<vr::TDatGame> games;
  try {
    games = vr::ParseDat(TextOf(p, HostPathToCp932(dat, "file name"), vr::kMaxDatBytes));
  } catch (const vr::EDiscError& e) {
    throw ToolError(dat + ": " + ToUtf8(e.Message));
  }
  int status = 0;
  for (const std::string& image : images) {
    const std::string path = HostPathToCp932(image, "file name");
    std::vector<vr::TFileDigest> digests;
    for (const std::string& file : FilesOf(p, path)) digests.push_back(Digest(p, path, file));
    const vr::TDatVerdict verdict = vr::MatchDat(games, digests);
    std::string text =
        image + ": " + (verdict.Game ? "game \"" + verdict.Game->Name + "\"" : "no game of the DAT") + "\n";
    for (const vr::TDatVerdict::TLine& line : verdict.Lines)
      text += "  " + Printable(line.Name) + ": " + line.What + "\n";
    const bool good = verdict.AllGood();
    text += good ? "good dump\n" : "not a good dump\n";
    WriteStdout(text);
    if (!good) status = 1;
  }
  return status;
}

}  // namespace vrtool
