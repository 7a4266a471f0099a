// disc info, and verify of a whole image: the commands about disc images themselves.
#include <algorithm>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "archive/vrfiles.h"
#include "commands.h"
#include "console.h"
#include "disc/discplatform.h"
#include "discmedia.h"
#include "framework/classes.h"
#include "platform/dbcspath.h"
#include "platform/platform.h"
#include "startup/instset.h"
#include "startup/syshelpers.h"
#include "textconv.h"

namespace vrtool {
namespace {

const char* const kNotAnImage = "not a disc image (ISO 9660, UDF, BIN/CUE, MDS/MDF, CCD/IMG, NRG)";
constexpr size_t kConvertPiece = 1 << 20;

vr::TDiscImage& ImageAt(const std::string& root) {
  auto* discs = dynamic_cast<vr::TDiscPlatform*>(&vr::Platform());
  vr::TDiscImage* image = discs ? discs->ImageOf(root) : nullptr;
  if (!image) throw ToolError(root + ": no image is served there");
  return *image;
}

// Every archive below a folder of an image: data files ("game.dat", or any file beside its ".ext"
// directory file) and programs with an archive appended.
void FindArchives(const std::string& folder, std::vector<std::string>& out) {
  std::optional<std::vector<vr::TFindData>> entries = vr::Platform().ListFolder(folder);
  if (!entries) return;
  std::vector<std::string> names;
  for (const vr::TFindData& e : *entries)
    if (!(e.Attr & vr::faDirectory)) names.push_back(vr::LowerCaseAscii(e.Name));
  auto has = [&](const std::string& lower) {
    for (const std::string& n : names)
      if (n == lower) return true;
    return false;
  };
  for (const vr::TFindData& e : *entries) {
    const std::string path = folder + e.Name;
    if (e.Attr & vr::faDirectory) {
      FindArchives(path + "\\", out);
      continue;
    }
    const std::string lower = vr::LowerCaseAscii(e.Name);
    const std::string ext = vr::LowerCaseAscii(vr::ExtractFileExt(e.Name));
    if (lower == vr::kDataFileName ||
        (ext != ".ext" && has(vr::LowerCaseAscii(vr::ChangeFileExt(e.Name, ".ext")))))
      out.push_back(path);
    else if (ext == ".exe" && PackageArchiveIn(folder) == path)
      out.push_back(path);
  }
}

}  // namespace

int CmdDiscInfo(const std::string& imagePath) {
  if (!IsDiscImage(imagePath)) throw ToolError(imagePath + ": " + kNotAnImage);
  const std::string root = MountImage(imagePath);
  const vr::TDiscImage& image = ImageAt(root);
  const vr::TDiscInfo& info = image.Info();
  std::string text = "image: " + imagePath + " (" + info.Kind + ")\n";
  text += "label: " + ToUtf8(info.Label) + "\n";
  if (!info.Udf.empty()) {
    text += "file system: UDF " + info.Udf +
            (info.Kind == "UDF" ? " (UDF names)\n" : ", ISO 9660 bridge (UDF names)\n");
  } else {
    text += "file system: ISO 9660";
    if (info.Joliet) text += ", Joliet";
    if (info.RockRidge) text += ", Rock Ridge";
    text += info.JolietNames ? " (Joliet names)\n"
            : info.RockRidge ? " (Rock Ridge names)\n"
                             : " (primary names)\n";
  }
  text += "sectors: " + std::to_string(info.Sectors) + " of 2048 bytes\n";
  for (const vr::TDiscTrack& t : info.Tracks) {
    char line[128];
    std::snprintf(line, sizeof line, "track %02d: %-10s", t.Number, vr::TrackModeName(t.Mode));
    text += line;
    if (t.Start >= 0) text += " start " + std::to_string(t.Start);
    if (t.Sectors >= 0) text += ", " + std::to_string(t.Sectors) + " sectors";
    text += t.Mode == vr::TTrackMode::tmAudio ? " (skipped)\n" : "\n";
  }
  uint32_t files = 0, folders = 0;
  for (const vr::TDiscNode& n : image.Nodes()) (n.Folder ? folders : files) += 1;
  text += "files: " + std::to_string(files) + ", folders: " + std::to_string(folders - 1);
  if (info.LeftOut)
    text += ", left out: " + std::to_string(info.LeftOut) +
            " (links, special files, names Windows cannot hold or tell apart)";
  text += "\n";

  vr::TRovaInstallSet settings;
  bool found = false;
  try {
    if (vr::FileExists(root + vr::kSettingsFileName)) {
      settings.LoadFromFile(root + vr::kSettingsFileName);
      found = true;
    } else if (const std::string archive = PackageArchiveIn(root); !archive.empty()) {
      vr::TVrFileCollection collection;
      collection.Open(archive);
      vr::TMemoryStream stream;
      collection.ExtractToStream(stream, vr::kSettingsFileName);
      settings.LoadFromStream(stream);
      found = true;
    }
  } catch (const vr::Exception& e) {
    text += "package: unreadable (" + Localize(ToUtf8(e.Message)) + ")\n";
    WriteStdout(text);
    return 1;
  }
  if (found)
    text += "package: " + ToUtf8(settings.Title) + ", disc " + std::to_string(settings.DiskIndex + 1) +
            " of " + std::to_string(settings.DiskCount) + "\n";
  else
    text += "package: none\n";
  WriteStdout(text);
  return 0;
}

int CmdDiscConvert(const std::string& imagePath, const std::string& out, const Options& opt) {
  if (!IsDiscImage(imagePath)) throw ToolError(imagePath + ": " + kNotAnImage);
  const std::string target = HostPathToCp932(out, "file name");
  if (vr::LowerCaseAscii(target) == vr::LowerCaseAscii(HostPathToCp932(imagePath, "file name")))
    throw ToolError(out + ": is the image itself");
  vr::TDiscImage& image = ImageAt(MountImage(imagePath));
  const int64_t total = image.Info().Sectors * 2048;

  std::string temp;
  for (int attempt = 0; attempt < 100; ++attempt) {
    temp = vr::ExtractFilePath(target) + "~vrtool-convert-" +
           std::to_string(std::random_device{}() % 1000000) + ".iso";
    if (!vr::FileExists(temp)) break;
  }
  const vr::THandle h = vr::Platform().FileCreateNew(temp);
  if (h == vr::kInvalidHandle) throw ToolError(out + ": cannot be written beside (" + ToUtf8(temp) + ")");
  RegisterTempFile(temp);
  ProgressBar bar(!opt.Quiet && StderrIsTerminal(), "convert");
  bool open = true;
  try {
    std::vector<char> piece(kConvertPiece);
    for (int64_t done = 0; done < total;) {
      const size_t n =
          static_cast<size_t>(std::min<int64_t>(total - done, static_cast<int64_t>(piece.size())));
      image.ReadTrack(done, piece.data(), n);
      if (vr::Platform().FileWrite(h, piece.data(), static_cast<int32_t>(n)) != static_cast<int32_t>(n))
        throw ToolError(out + ": cannot be written (disk full?)");
      done += static_cast<int64_t>(n);
      bar.Update(done, total, std::string());
    }
    if (!vr::Platform().FileFlush(h)) throw ToolError(out + ": cannot be written");
    vr::Platform().FileClose(h);
    open = false;
    bar.Finish();
    if (!vr::Platform().MoveFileReplace(temp, target)) throw ToolError(out + ": cannot be written");
  } catch (...) {
    bar.Finish();
    if (open) vr::Platform().FileClose(h);
    vr::Platform().DeleteFile(temp);
    UnregisterTempFile(temp);
    throw;
  }
  UnregisterTempFile(temp);
  WriteStdout(out + ": " + std::to_string(image.Info().Sectors) + " sectors from " + imagePath + " (" +
              image.Info().Kind + ")\n");
  return 0;
}

int CmdVerifyDisc(const ArchiveSource& src, const Options& opt) {
  std::vector<std::string> archives;
  FindArchives(src.ImageRoot, archives);
  if (archives.empty()) throw ToolError(src.Path + ": the image holds no archive");
  int status = 0;
  for (const std::string& path : archives) {
    ArchiveSource one;
    one.Path = src.Path + ":" + ToUtf8(path.substr(src.ImageRoot.size()));
    one.Mounted = path;
    WriteStdout("== " + one.Path + "\n");
    try {
      status = std::max(status, CmdVerify(one, opt));
    } catch (const ToolError& e) {
      PrintError(e.what());
      status = std::max(status, 1);
    } catch (const vr::Exception& e) {
      PrintError(Localize(ToUtf8(e.Message)));
      status = std::max(status, 1);
    }
  }
  return status;
}

}  // namespace vrtool
