#include "discmedia.h"

#include <map>
#include <memory>

#include "archive/vrfiles.h"
#include "console.h"
#include "disc/discplatform.h"
#include "framework/classes.h"
#include "platform/dbcspath.h"
#include "platform/platform.h"
#include "startup/instset.h"
#include "startup/setupswitches.h"
#include "startup/syshelpers.h"
#include "textconv.h"

namespace vrtool {
namespace {

// The process's platform with the images as drives; made when the first image is opened and kept to
// the end of the process.
vr::TDiscPlatform& Discs() {
  static vr::TDiscPlatform* discs = [] {
    auto* p = new vr::TDiscPlatform(vr::Platform());
    vr::SetPlatform(p);
    return p;
  }();
  return *discs;
}

std::map<std::string, std::string>& Mounted() {
  static std::map<std::string, std::string> roots;  // image path (code page 932) -> drive root
  return roots;
}

// The first bytes of a host file; fewer when it is shorter or cannot be read.
std::string Head(vr::TPlatform& p, const std::string& path, int64_t at, int32_t count) {
  std::string bytes;
  const vr::THandle h = p.FileOpen(path, vr::fmOpenRead | vr::fmShareDenyNone);
  if (h == vr::kInvalidHandle) return bytes;
  bytes.resize(static_cast<size_t>(count));
  const int32_t got =
      p.FileSeek(h, at, vr::TSeekOrigin::soBeginning) == at ? p.FileRead(h, bytes.data(), count) : 0;
  bytes.resize(got > 0 ? static_cast<size_t>(got) : 0);
  p.FileClose(h);
  return bytes;
}

bool IsImageFile(vr::TPlatform& p, const std::string& cp932) {
  const uint32_t attr = p.GetFileAttributes(cp932);
  if (attr == vr::faInvalid || (attr & vr::faDirectory)) return false;
  if (p.GetFileKind(cp932) == vr::TFileKind::Other) return false;  // reading a pipe could block
  // Images described apart from their sectors are known by their description's extension.
  const std::string ext = vr::LowerCaseAscii(vr::ExtractFileExt(cp932));
  if (ext == ".cue" || ext == ".mds" || ext == ".ccd" || ext == ".nrg") return true;
  static const std::string sync("\0\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\0", 12);
  if (Head(p, cp932, 0, 12) == sync) return true;
  // ISO 9660 (and a UDF bridge) or UDF alone: the first volume descriptor at sector 16.
  const std::string id = Head(p, cp932, 16 * 2048 + 1, 5);
  return id == "CD001" || id == "BEA01";
}

bool HasAppendedArchive(const std::string& path) {
  vr::TPlatform& p = vr::Platform();
  const vr::THandle h = p.FileOpen(path, vr::fmOpenRead | vr::fmShareDenyNone);
  if (h == vr::kInvalidHandle) return false;
  const int64_t size = p.FileSeek(h, 0, vr::TSeekOrigin::soEnd);
  char tail[2] = {0, 0};
  const bool ok = size >= 6 && p.FileSeek(h, size - 2, vr::TSeekOrigin::soBeginning) == size - 2 &&
                  p.FileRead(h, tail, 2) == 2 && tail[0] == 'r' && tail[1] == 'v';
  p.FileClose(h);
  return ok;
}

// One medium of an install: where it is and what its settings say.
struct TMedium {
  std::string Shown;   // as the user named it (UTF-8)
  std::string Folder;  // code page 932, trailing backslash
  std::string Run;     // what the run takes: the folder, or the archive holding install.dat
  std::string Pass;    // the folder for the console host (UTF-8)
  vr::TRovaInstallSet Settings;
};

void LoadMedium(TMedium& m) {
  const std::string settings = m.Folder + vr::kSettingsFileName;
  m.Run = m.Folder;
  if (vr::FileExists(settings)) {
    m.Settings.LoadFromFile(settings);
    return;
  }
  // A single program carrying its archive: the settings are in the archive.
  const std::string archive = PackageArchiveIn(m.Folder);
  if (archive.empty()) throw ToolError(m.Shown + ": no install.dat and no package archive on this medium");
  vr::TVrFileCollection collection;
  collection.Open(archive);
  vr::TMemoryStream stream;
  collection.ExtractToStream(stream, vr::kSettingsFileName);
  m.Settings.LoadFromStream(stream);
  m.Run = archive;
}

}  // namespace

bool IsDiscImage(const std::string& utf8Path) {
  try {
    return IsImageFile(vr::Platform(), HostPathToCp932(utf8Path, "file name"));
  } catch (const ToolError&) {
    return false;  // a name the libraries cannot take is no image they could read
  }
}

std::string MountImage(const std::string& utf8Path) {
  const std::string path = HostPathToCp932(utf8Path, "file name");
  vr::TDiscPlatform& discs = Discs();
  auto known = Mounted().find(path);
  if (known != Mounted().end()) return known->second;
  std::unique_ptr<vr::TDiscImage> image = vr::TDiscImage::Open(discs.Inner(), path);
  const char letter = discs.FreeLetter();
  if (!letter) throw ToolError(utf8Path + ": no drive letter is left for another image");
  discs.Mount(letter, std::move(image));
  const std::string root = std::string(1, letter) + ":\\";
  Mounted()[path] = root;
  ShowDriveAsImage(root, utf8Path);
  for (const std::string& line : discs.ImageOf(root)->Info().LeftOutLines)
    PrintError(utf8Path + ":" + ToUtf8(line));
  return root;
}

bool ResolveImageSource(ArchiveSource& src) {
  if (src.Resource) return false;
  if (IsDiscImage(src.Path)) {
    src.ImageRoot = MountImage(src.Path);
    src.Mounted = PackageArchiveIn(src.ImageRoot);
    if (src.Mounted.empty())
      throw ToolError(src.Path + ": the image holds no game.dat and no program with an archive");
    return true;
  }
  // IMAGE:PATH, the image being the longest part before a colon that names one.
  for (size_t colon = src.Path.rfind(':'); colon != std::string::npos && colon > 0;
       colon = src.Path.rfind(':', colon - 1)) {
    const std::string image = src.Path.substr(0, colon);
    if (!IsDiscImage(image)) continue;
    std::string inner = vr::ReplaceDelimiters(ToCp932(src.Path.substr(colon + 1), "file name"), '\\');
    while (!inner.empty() && inner[0] == '\\') inner.erase(0, 1);
    if (inner.empty()) throw ToolError(src.Path + ": no file named after the image's name");
    src.Mounted = MountImage(image) + inner;
    return true;
  }
  return false;
}

std::string PackageArchiveIn(const std::string& folder) {
  if (vr::FileExists(folder + vr::kDataFileName)) return folder + vr::kDataFileName;
  std::optional<std::vector<vr::TFindData>> entries = vr::Platform().ListFolder(folder);
  if (!entries) return std::string();
  for (const vr::TFindData& e : *entries) {
    if (e.Attr & vr::faDirectory) continue;
    if (vr::LowerCaseAscii(vr::ExtractFileExt(e.Name)) == ".exe" && HasAppendedArchive(folder + e.Name))
      return folder + e.Name;
  }
  return std::string();
}

TInstallMedia PlanInstallMedia(const InstallOptions& io) {
  std::vector<std::string> named{io.Medium};
  named.insert(named.end(), io.MoreMedia.begin(), io.MoreMedia.end());
  const std::vector<std::string> dirs = vr::SplitList(io.MediaDirs, ';');
  bool images = false;
  for (const std::string& n : named) images = images || IsDiscImage(n);
  for (const std::string& n : dirs) images = images || IsDiscImage(n);
  if (!images && named.size() == 1) return TInstallMedia{ToCp932(io.Medium, "folder name"), dirs};

  std::vector<std::unique_ptr<TMedium>> media;
  auto add = [&](const std::string& utf8) {
    auto m = std::make_unique<TMedium>();
    m->Shown = utf8;
    if (IsDiscImage(utf8)) {
      m->Folder = MountImage(utf8);
      m->Pass = m->Folder;
    } else {
      m->Folder = vr::AddTrailingBackslash(ToCp932(utf8, "folder name"));
      if (!vr::DirectoryExists(m->Folder))
        throw ToolError(utf8 + ": neither a disc image nor a package folder");
      m->Pass = utf8;
    }
    LoadMedium(*m);
    media.push_back(std::move(m));
  };
  for (const std::string& n : named) add(n);
  for (const std::string& n : dirs) add(n);

  const TMedium& first = *media.front();
  const int32_t count = first.Settings.DiskCount;
  std::vector<const TMedium*> byIndex(static_cast<size_t>(std::max(count, 1)), nullptr);
  for (const auto& m : media) {
    if (m->Settings.Uninstaller) throw ToolError(m->Shown + ": this is an installed game, not a package");
    if (m->Settings.Title != first.Settings.Title)
      throw ToolError(m->Shown + ": holds another game (\"" + ToUtf8(m->Settings.Title) + "\", not \"" +
                      ToUtf8(first.Settings.Title) + "\")");
    const int32_t i = m->Settings.DiskIndex;
    if (i < 0 || i >= count)
      throw ToolError(m->Shown + ": its install.dat calls it disc " + std::to_string(i + 1) + " of " +
                      std::to_string(count));
    if (byIndex[static_cast<size_t>(i)])
      throw ToolError(m->Shown + " and " + byIndex[static_cast<size_t>(i)]->Shown + " are both disc " +
                      std::to_string(i + 1));
    byIndex[static_cast<size_t>(i)] = m.get();
  }
  TInstallMedia plan;
  plan.Medium = first.Run;
  // Started from the first disc, the run installs every disc; from another, that disc alone.
  if (first.Settings.DiskIndex == 0) {
    for (int32_t i = 1; i < count; ++i) {
      if (!byIndex[static_cast<size_t>(i)])
        throw ToolError("disc " + std::to_string(i + 1) + " of " + std::to_string(count) +
                        " is missing: name its image or folder");
      plan.Further.push_back(byIndex[static_cast<size_t>(i)]->Pass);
    }
  }
  return plan;
}

}  // namespace vrtool
