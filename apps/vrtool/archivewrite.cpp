// pack, merge, append: the commands that write archives.
#include <algorithm>
#include <random>
#include <vector>

#include "archive/bigstreams.h"
#include "archive/vrfiles.h"
#include "archiveaccess.h"
#include "commands.h"
#include "console.h"
#include "framework/classes.h"
#include "platform/dbcspath.h"
#include "platform/durablefiles.h"
#include "platform/platform.h"
#include "platform/windowsnames.h"
#include "startup/syshelpers.h"
#include "textconv.h"

namespace vrtool {
namespace {

bool ShowProgress(const Options& opt) { return !opt.Quiet && StderrIsTerminal(); }

#ifdef _WIN32
const char kHostDelimiter[] = "\\";
#else
const char kHostDelimiter[] = "/";
#endif

}  // namespace

void CollectFiles(const std::string& folder, const std::string& shown, const std::string& prefix,
                  std::vector<std::string>& names, int depth) {
  if (depth > 64) throw ToolError(shown + ": folders nested too deeply");
  auto list = vr::Platform().ListFolder(folder);
  if (!list) throw ToolError(shown + ": the folder cannot be listed");
  std::vector<vr::TFindData> items = std::move(*list);
  std::sort(items.begin(), items.end(),
            [](const vr::TFindData& a, const vr::TFindData& b) { return a.Name < b.Name; });
  for (const vr::TFindData& f : items) {
    std::string rel = prefix.empty() ? f.Name : prefix + "\\" + f.Name;
    // Only regular files and real folders: a pipe would hang the reader, a device never ends, a link
    // may lead anywhere.
    const vr::TFileKind kind = vr::Platform().GetFileKind(folder + "\\" + f.Name);
    const std::string shownItem = shown + kHostDelimiter + ToUtf8(f.Name);
    if (kind == vr::TFileKind::None) {
      // Listed, yet not there under the listed name: a name code page 932 cannot hold comes back with
      // its characters replaced.
      const std::string name = UnrepresentableName(folder, f.Name);
      if (name.empty()) throw ToolError(shownItem + ": cannot be reached under its name");
      throw ToolError(shown + kHostDelimiter + name +
                      ": the name cannot be represented in code page 932, which entry names are written in");
    }
    // A name Windows cannot hold would give an archive or a medium that cannot be installed.
    const vr::TNameFault fault = vr::WindowsNameFault(rel);
    if (fault != vr::TNameFault::None)
      throw ToolError(shownItem + ": a name Windows cannot hold (" + vr::NameFaultText(fault) + ")");
    if (kind != vr::TFileKind::File && kind != vr::TFileKind::Directory) {
      throw ToolError(shownItem + (kind == vr::TFileKind::Link
                                       ? ": is a symbolic link; pack takes regular files and folders only"
                                       : ": is not a regular file (a pipe, device or socket); pack "
                                         "takes regular files and folders only"));
    }
    if (kind == vr::TFileKind::Directory) {
      CollectFiles(folder + "\\" + f.Name, shownItem, rel, names, depth + 1);
    } else {
      names.push_back(rel);
    }
  }
  if (depth > 0) return;
  // Two names Windows cannot tell apart would be one file once installed.
  vr::TNameClashSet seen;
  const auto shownName = [&](const std::string& name) {
    return shown + kHostDelimiter + ToUtf8(vr::ReplaceDelimiters(name, kHostDelimiter[0]));
  };
  for (const std::string& name : names) {
    const std::string earlier = seen.Add(name);
    if (!earlier.empty())
      throw ToolError(shownName(name) + ": the same name to Windows as " + shownName(earlier) +
                      " (Windows does not tell upper and lower case apart)");
  }
}

namespace {

// Deletes a file this run wrote and its numbered part files.
void RemoveBigFile(const std::string& name) {
  for (int i = 0; i < 10000; ++i) {
    std::string part = vr::TKoBigFileStream::PartFileName(name, i);
    if (!vr::Platform().DeleteFile(part) && i > 0) break;
  }
}

bool Exists(const std::string& name) { return vr::Platform().GetFileKind(name) != vr::TFileKind::None; }

// Number of part files an existing archive `target` spans by its own directory (0 when it is no
// archive with its directory at its start): only those were written by the tool before.
int OwnParts(const std::string& target) {
  if (vr::Platform().GetFileKind(target) != vr::TFileKind::File) return 0;
  try {
    vr::TVrFileCollection old;
    old.Open(target);
    if (!old.DataStream || old.Count() == 0) return 0;
    int64_t end = 0;
    for (int i = 0; i < old.Count(); ++i)
      end = std::max(end, old.Items(i)->Offset + std::max<int64_t>(old.Items(i)->Size, 0));
    const int64_t part = vr::TKoBigFileStream::DefaultPartSize();
    return static_cast<int>(std::max<int64_t>(1, (end + part - 1) / part));
  } catch (const vr::Exception&) {
    return 0;
  }
}

// Refuses to replace or remove part files (target.001 ...) that the archive `target` does not span:
// the user never named them. `written` parts are about to be put in place.
void CheckForeignParts(const std::string& target, const std::string& shownTarget, int ownParts, int written) {
  for (int i = 1;; ++i) {
    const std::string part = vr::TKoBigFileStream::PartFileName(target, i);
    const bool exists = Exists(part);
    if (!exists && i >= written) break;
    if (exists && i >= ownParts) {
      throw ToolError(ToUtf8(part) + ": exists and is not a part of the archive " + shownTarget +
                      "; writing " + shownTarget +
                      " would replace or remove it. Move it away or choose another name");
    }
  }
}

}  // namespace

int CmdPack(const std::string& dir, const std::string& out, bool scramble,
            const std::vector<std::string>& separate, unsigned threads, const Options& opt) {
  std::string folder = vr::ExcludeTrailingBackslash(HostPathToCp932(dir, "folder name"));
  uint32_t attr = vr::Platform().GetFileAttributes(folder);
  if (attr == vr::faInvalid || !(attr & vr::faDirectory)) throw ToolError(dir + ": not a folder");
  std::string target = HostPathToCp932(out, "file name");
  std::string ext = LowerExt(target);
  if (ext == ".exe" || ext == ".scr") {
    throw ToolError(out + ": a program's archive is made with pack and then append");
  }
  std::vector<std::string> names;
  std::string shown = dir;
  while (shown.size() > 1 && (shown.back() == '/' || shown.back() == kHostDelimiter[0])) shown.pop_back();
  CollectFiles(folder, shown, "", names, 0);

  vr::TVrFileCollection archive;
  archive.EncodeThreads = threads;
  // A folder name opens nothing: entries without a source are read from the loose files below it.
  archive.OpenPath(folder, false);
  for (const std::string& name : names) {
    archive.AddFile(name);
  }
  for (const std::string& s : separate) {
    vr::TVrFile* e = FindEntry(archive, s);
    if (!e) throw ToolError(s + ": --separate names no file below " + dir);
    e->Separate = 1;
  }

  // Part files beside the target that its old archive does not span are the user's, not ours.
  const int ownParts = OwnParts(target);
  CheckForeignParts(target, out, ownParts, 1);

  // Written beside the target under a temporary name, renamed when complete; removed when the run
  // fails or is interrupted.
  std::string temp;
  for (int attempt = 0; attempt < 100; ++attempt) {
    temp = vr::ExtractFilePath(target) + "~vrtool-pack-" + std::to_string(std::random_device{}() % 1000000) +
           ext;
    if (!Exists(temp) && !Exists(vr::TKoBigFileStream::PartFileName(temp, 1))) break;
  }
  ProgressBar bar(ShowProgress(opt), "pack");
  int count = archive.Count();
  // Raised before (size 0) and after (bytes written) each entry.
  archive.OnProgress = [&](vr::TVrFileCollection*, vr::TVrFile* item, int64_t size, int32_t index, int32_t,
                           bool&) {
    bar.Update(index + (size > 0 ? 1 : 0), count, item ? ToUtf8(item->Name()) : std::string());
  };
  int parts = 0;
  RegisterTempFile(temp, true);
  try {
    {
      vr::TKoBigFileStream stream(temp, vr::fmCreate);
      if (!archive.SaveToStream(stream, scramble)) throw ToolError("packing was cancelled");
      parts = stream.PartCount();
    }
    bar.Finish();
    CheckForeignParts(target, out, ownParts, parts);
    for (int i = 0; i < parts; ++i) {
      std::string from = vr::TKoBigFileStream::PartFileName(temp, i);
      std::string to = vr::TKoBigFileStream::PartFileName(target, i);
      if (!vr::Platform().MoveFileReplace(from, to)) throw ToolError(ToUtf8(to) + ": cannot be written");
    }
  } catch (...) {
    bar.Finish();
    RemoveBigFile(temp);
    UnregisterTempFile(temp);
    throw;
  }
  UnregisterTempFile(temp);
  // Parts of the old archive beyond the new one's end are stale.
  for (int i = parts; i < ownParts; ++i)
    vr::Platform().DeleteFile(vr::TKoBigFileStream::PartFileName(target, i));
  // The parts' data reached the disk when the stream closed; their new names do here.
  if (!vr::FlushFolderOf(target)) throw ToolError(out + ": the archive cannot be written to the disk");
  return 0;
}

int CmdMerge(const std::string& dataFile, const ArchiveSource& source, const Options& opt) {
  std::string data = HostPathToCp932(dataFile, "file name");
  std::string ext = LowerExt(data);
  if (ext == ".exe" || ext == ".scr" || ext == ".ext") {
    // Appending after a program's trailer, or into a directory file, would break the file.
    throw ToolError(dataFile + ": merge needs a data file (its directory goes into the .ext file beside it)");
  }
  auto src = OpenArchive(source);
  vr::TVrFileCollection target;
  if (vr::FileExists(data)) {
    target.Open(data);
  } else {
    target.OpenPath(data, true);
  }
  ProgressBar bar(ShowProgress(opt), "merge");
  // Progress comes for every entry taken (and for every piece of the bytes copied), in entry order.
  int merged = 0;
  const vr::TVrFile* last = nullptr;
  target.OnProgress = [&](vr::TVrFileCollection*, vr::TVrFile* item, int64_t, int32_t index, int32_t count,
                          bool&) {
    if (item && item != last) ++merged;
    last = item;
    bar.Update(index, count, item ? ToUtf8(item->Name()) : std::string());
  };
  bool changed = target.MergeFrom(*src);
  bar.Finish();
  WriteStdout(changed ? std::to_string(merged) + (merged == 1 ? " entry" : " entries") + " merged\n"
                      : std::string("nothing newer to merge\n"));
  return 0;
}

int CmdAppend(const std::string& program, const std::string& archivePath) {
  std::string exe = HostPathToCp932(program, "file name");
  std::string arc = HostPathToCp932(archivePath, "file name");
  if (!vr::FileExists(exe)) throw ToolError(program + ": no such file");
  if (!vr::FileExists(arc)) throw ToolError(archivePath + ": no such file");
  std::string arcExt = LowerExt(arc);
  if (arcExt == ".exe" || arcExt == ".scr" || vr::FileExists(vr::ChangeFileExt(arc, ".ext"))) {
    throw ToolError(archivePath + ": only an archive with its directory at its start can be appended");
  }
  {
    // It must load as an archive on its own.
    vr::TVrFileCollection check;
    check.Open(arc);
    if (!check.DataStream) throw ToolError(archivePath + ": cannot be opened as an archive");
  }
  vr::TKoBigFileStream source(arc, vr::fmOpenRead | vr::fmShareDenyWrite);
  vr::TFileStream target(exe, vr::fmOpenReadWrite | vr::fmShareExclusive);
  int64_t oldLength = target.Size();
  // The trailer holds the archive's start as a signed 32-bit value.
  if (oldLength > INT32_MAX)
    throw ToolError(program + ": too large to carry an appended archive (2 GiB at most)");
  target.SetPosition(oldLength);
  try {
    source.SetPosition(0);
    std::vector<uint8_t> buffer(1 << 20);
    for (;;) {
      int64_t got = source.Read(buffer.data(), static_cast<int64_t>(buffer.size()));
      if (got <= 0) break;
      target.WriteBuffer(buffer.data(), static_cast<int32_t>(got));
    }
    uint8_t trailer[6] = {static_cast<uint8_t>(oldLength),
                          static_cast<uint8_t>(oldLength >> 8),
                          static_cast<uint8_t>(oldLength >> 16),
                          static_cast<uint8_t>(oldLength >> 24),
                          'r',
                          'v'};
    target.WriteBuffer(trailer, 6);
  } catch (...) {
    // The program is left as it was.
    target.SetPosition(oldLength);
    target.SetSize(oldLength);
    throw;
  }
  return 0;
}

}  // namespace vrtool
