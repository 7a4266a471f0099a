#include "mediabuild.h"

#include <zlib.h>

#include <algorithm>
#include <map>
#include <random>

#include "archive/bigstreams.h"
#include "archive/vrfiles.h"
#include "archiveaccess.h"
#include "console.h"
#include "consolehost.h"
#include "framework/classes.h"
#include "isowrite.h"
#include "platform/dbcspath.h"
#include "platform/durablefiles.h"
#include "platform/platform.h"
#include "startup/syshelpers.h"
#include "textconv.h"
#include "wizard/destination.h"

namespace vrtool {
namespace {

constexpr int64_t kSector = 2048;
#ifdef _WIN32
const char kHostDelimiter = '\\';
#else
const char kHostDelimiter = '/';
#endif

const char kAutorunName[] = "autorun.inf";
const char kInterruptedText[] = "interrupted; nothing was written to the output folder";
const char kSetupName[] = "setup.exe";
// Files the builder writes at a medium's root; the loose files may not bring their own.
const char* const kBuilderNames[] = {"setup.exe", "install.exe", "install.dat",
                                     "game.dat",  "game.ext",    "autorun.inf"};
// A file's size, opened for reading only (an input or a medium may be read-only); an error when it
// cannot be opened.
int64_t SizeOf(const std::string& path) {
  return vr::TFileStream(path, vr::fmOpenRead | vr::fmShareDenyNone).Size();
}

int64_t Sectors(int64_t bytes) { return (bytes + kSector - 1) / kSector * kSector; }

std::string Thousands(int64_t v) { return ToUtf8(vr::FormatThousands(v)); }

// ---- the project file ------------------------------------------------------------------------------

std::string HostFolderOf(const std::string& file) {
  const size_t slash = file.find_last_of(kHostDelimiter == '/' ? "/" : "/\\");
  return slash == std::string::npos ? std::string() : file.substr(0, slash + 1);
}

bool IsAbsoluteHostPath(const std::string& p) {
  if (p.empty()) return false;
#ifdef _WIN32
  return p[0] == '\\' || p[0] == '/' || (p.size() > 1 && p[1] == ':');
#else
  return p[0] == '/';
#endif
}

int64_t CapacityOf(const Json& v, const std::string& where) {
  if (v.is_string()) {
    const std::string s = v.get<std::string>();
    // Sectors of 2048 bytes: 74 and 80 minute CDs, single- and dual-layer DVDs.
    if (s == "cd650") return 333000 * kSector;
    if (s == "cd700") return 360000 * kSector;
    if (s == "dvd5") return INT64_C(2295104) * kSector;
    if (s == "dvd9") return INT64_C(4173824) * kSector;
    throw ToolError(where + "field capacity: \"" + s +
                    "\" is not one of cd650, cd700, dvd5, dvd9 or a byte count");
  }
  if (!v.is_number_integer() || v.get<int64_t>() < 64 * kSector)
    throw ToolError(where + "field capacity: cd650, cd700, dvd5, dvd9 or a byte count of at least " +
                    std::to_string(64 * kSector) + " is expected");
  return v.get<int64_t>();
}

// ---- the size of a medium on a disc ------------------------------------------------------------------

// An upper bound of the bytes an ISO 9660 image with Joliet names takes for the files added: each file in
// whole sectors, each folder's records in both name trees, the path tables and the volume descriptors.
class TFootprint {
 public:
  TFootprint() { folders_[""] = {68, 68}; }
  void AddFile(const std::string& name, int64_t size) {
    files_ += Sectors(size);
    AddName(name);
  }
  // The record of a file or folder in its folder's extents of both trees.
  void AddName(const std::string& name) {
    const std::string parent = ParentOf(name);
    if (!folders_.count(parent)) AddFolder(parent);
    const int64_t n = LastLength(name);
    folders_[parent].first += 36 + n + 1;
    folders_[parent].second += 34 + 2 * n;
  }
  int64_t Bytes() const {
    int64_t sectors = 16 + 3 + 2 * ((pathTable_ + kSector - 1) / kSector) +
                      2 * ((jolietPathTable_ + kSector - 1) / kSector);
    // A record never crosses a sector's end, so a sector holds at least 2048 - 254 bytes of records.
    for (const auto& f : folders_)
      sectors += (f.second.first + 1793) / 1794 + (f.second.second + 1793) / 1794;
    return sectors * kSector + files_;
  }

 private:
  static std::string ParentOf(const std::string& name) {
    const size_t cut = vr::LastDelimiter("\\", name);
    return cut == std::string::npos ? std::string() : name.substr(0, cut);
  }
  static int64_t LastLength(const std::string& name) {
    const size_t cut = vr::LastDelimiter("\\", name);
    return static_cast<int64_t>(name.size() - (cut == std::string::npos ? 0 : cut + 1));
  }
  // A folder's own extents, its records in the path tables, and its record in its parent.
  void AddFolder(const std::string& folder) {
    folders_[folder] = {68, 68};
    const int64_t n = LastLength(folder);
    pathTable_ += 9 + n;
    jolietPathTable_ += 8 + 2 * n;
    AddName(folder);
  }

  std::map<std::string, std::pair<int64_t, int64_t>> folders_;
  int64_t pathTable_ = 10, jolietPathTable_ = 10;
  int64_t files_ = 0;
};

// Bytes an entry of `size` content bytes takes in an archive at most: zlib's bound (or the content
// stored as it is), the scrambled container's header, and its directory record.
int64_t EntryBound(const std::string& name, int64_t size) {
  const int64_t zlibBound =
      static_cast<int64_t>(compressBound(static_cast<uLong>(std::min<int64_t>(size, INT32_MAX)))) +
      (size > INT32_MAX ? size / 1000 : 0);
  return std::max(size, zlibBound) + 8 + 22 + static_cast<int64_t>(name.size());
}

// game.dat of `bytes`, with a part file for every further GiB.
int64_t DataFileFootprint(int64_t bytes) {
  return Sectors(bytes) + (bytes / vr::TKoBigFileStream::DefaultPartSize() + 1) * kSector;
}

struct TItem {
  std::string Name;    // on the medium, or the entry's name
  std::string Source;  // code page 932 path of the content
  std::string Shown;   // for messages (UTF-8)
  bool Entry = false;
  bool Separate = false;
  int64_t Size = 0;
};

struct TPlan {
  std::vector<TItem> Items;
  std::vector<std::vector<size_t>> Media;  // item indices per medium
  vr::TStringList PackageFiles;
  int64_t SetupSize = 0;
  uint32_t Time = 0;  // the newest input's DOS time
};

std::string AutorunText() { return "[autorun]\r\nopen=setup.exe\r\nicon=setup.exe,0\r\n"; }

void Collect(const TMediaProject& p, TPlan& plan) {
  auto stamp = [&](const std::string& path) {
    const int64_t age = vr::FileAge(path);
    if (age > 0) plan.Time = std::max(plan.Time, static_cast<uint32_t>(age));
  };
  if (vr::Platform().GetFileKind(p.Setup) != vr::TFileKind::File)
    throw ToolError(p.SetupShown + ": the setup program is not there (project field setup, or --setup)");
  plan.SetupSize = SizeOf(p.Setup);
  stamp(p.Setup);

  vr::TRovaInstallSet settings;
  SettingsFromJson(p.Settings, settings);
  std::vector<TItem> base, entries, sound, movie;
  {
    TItem uninstaller;
    uninstaller.Name = vr::kUninstallerName;
    uninstaller.Source = p.Setup;
    uninstaller.Shown = p.SetupShown;
    uninstaller.Size = plan.SetupSize;
    base.push_back(uninstaller);
  }
  if (!p.Files.empty()) {
    std::vector<std::string> names;
    CollectFiles(p.Files, p.FilesShown, "", names, 0);
    for (const std::string& name : names) {
      for (const char* reserved : kBuilderNames)
        if (vr::Platform().LowerCaseJ(name) == reserved)
          throw ToolError(
              p.FilesShown + kHostDelimiter + ToUtf8(name) +
              ": the builder writes this file on the media itself; remove it from the loose files");
      TItem item;
      item.Name = name;
      item.Source = p.Files + "\\" + name;
      item.Shown = p.FilesShown + kHostDelimiter + ToUtf8(vr::ReplaceDelimiters(name, kHostDelimiter));
      item.Size = SizeOf(item.Source);
      stamp(item.Source);
      const vr::TFileGroup group = vr::FileGroupOf(vr::ExtractFileExt(name));
      (group == vr::TFileGroup::fgSound   ? sound
       : group == vr::TFileGroup::fgMovie ? movie
                                          : base)
          .push_back(item);
    }
  }
  if (!p.Archive.empty()) {
    std::vector<std::string> names;
    CollectFiles(p.Archive, p.ArchiveShown, "", names, 0);
    for (const std::string& name : names) {
      if (!vr::IsSafeRelativeName(name)) throw ToolError(ToUtf8(name) + ": not usable as an entry name");
      TItem item;
      item.Name = name;
      item.Source = p.Archive + "\\" + name;
      item.Shown = p.ArchiveShown + kHostDelimiter + ToUtf8(vr::ReplaceDelimiters(name, kHostDelimiter));
      item.Entry = true;
      item.Size = SizeOf(item.Source);
      stamp(item.Source);
      entries.push_back(item);
    }
    // The launcher draws the backdrop from the first medium's archive.
    const std::string backdrop = vr::Platform().LowerCaseJ(settings.BackdropPicture);
    std::stable_partition(entries.begin(), entries.end(),
                          [&](const TItem& e) { return vr::Platform().LowerCaseJ(e.Name) == backdrop; });
  }
  for (const std::string& s : p.Separate) {
    auto it = std::find_if(entries.begin(), entries.end(), [&](const TItem& e) {
      return vr::Platform().CompareTextJ(e.Name, vr::ReplaceDelimiters(s, '\\')) == 0;
    });
    if (it == entries.end())
      throw ToolError(p.Shown + ": field separate: \"" + ToUtf8(s) +
                      "\" names no file of the archive folder");
    it->Separate = true;
  }
  for (auto* group : {&base, &entries, &sound, &movie})
    for (TItem& item : *group) {
      if (!item.Entry) plan.PackageFiles.Add(vr::Platform().LowerCaseJ(item.Name));
      plan.Items.push_back(std::move(item));
    }
}

// Places the items in their order, each on the current medium while it fits, else on the next one.
void Assign(const TMediaProject& p, TPlan& plan) {
  for (int32_t assumed = 1;;) {
    vr::TRovaInstallSet settings;
    SettingsFromJson(p.Settings, settings);
    settings.PackageFiles = plan.PackageFiles;
    settings.SetDiskCount(assumed);
    vr::TMemoryStream settingsBytes;
    settings.SaveToStream(settingsBytes);

    plan.Media.clear();
    TFootprint fp;
    int64_t data = 0;
    auto open = [&] {
      plan.Media.emplace_back();
      fp = TFootprint();
      fp.AddFile(kSetupName, plan.SetupSize);
      fp.AddFile(vr::kSettingsFileName, settingsBytes.Size());
      fp.AddFile(kAutorunName, static_cast<int64_t>(AutorunText().size()));
      fp.AddName(vr::kDataFileName);
      data = 18;  // the archive's header and end offset
    };
    open();
    for (size_t i = 0; i < plan.Items.size(); ++i) {
      const TItem& item = plan.Items[i];
      for (;;) {
        TFootprint trial = fp;
        int64_t trialData = data;
        if (item.Entry)
          trialData += EntryBound(item.Name, item.Size);
        else
          trial.AddFile(item.Name, item.Size);
        if (trial.Bytes() + DataFileFootprint(trialData) <= p.Capacity) {
          fp = trial;
          data = trialData;
          plan.Media.back().push_back(i);
          break;
        }
        if (plan.Media.back().empty())
          throw ToolError(item.Shown + ": " + Thousands(item.Size) + " bytes do not fit on one medium of " +
                          Thousands(p.Capacity) + " bytes (beside setup.exe, install.dat and autorun.inf)");
        open();
      }
    }
    const auto count = static_cast<int32_t>(plan.Media.size());
    if (count <= assumed) return;
    assumed = count;  // install.dat grows with the count: place again with room for it
  }
}

// ---- writing ----------------------------------------------------------------------------------------

void SetTime(const std::string& path, uint32_t time) {
  const vr::THandle h = vr::Platform().FileOpen(path, vr::fmOpenReadWrite | vr::fmShareExclusive);
  if (h == vr::kInvalidHandle) throw ToolError(ToUtf8(path) + ": cannot be opened to set its time");
  const bool ok = vr::Platform().FileSetDosTime(h, time);
  vr::Platform().FileClose(h);
  if (!ok) throw ToolError(ToUtf8(path) + ": cannot set its time");
}

void CopyInto(const std::string& from, const std::string& to, const std::string& shown) {
  if (!vr::ForceDirectories(vr::ExtractFilePath(to)))
    throw ToolError(ToUtf8(vr::ExtractFilePath(to)) + ": cannot be created");
  if (!vr::Platform().CopyFile(from, to, true))
    throw ToolError(shown + ": cannot be copied to " + ToUtf8(to));
}

void WriteDataFile(const TMediaProject& p, const TPlan& plan, const std::vector<size_t>& items,
                   const std::string& target, unsigned threads, uint32_t seed, ProgressBar& bar) {
  vr::TVrFileCollection archive;
  archive.EncodeThreads = threads;
  archive.OnProgress = [&](vr::TVrFileCollection*, vr::TVrFile* item, int64_t size, int32_t index,
                           int32_t count, bool& cancel) {
    bar.Update(index + (size > 0 ? 1 : 0), count, item ? ToUtf8(item->Name()) : std::string());
    if (Interrupted()) cancel = true;
  };
  archive.OpenPath(p.Archive.empty() ? vr::ExtractFilePath(target) : p.Archive, false);
  for (size_t i : items) {
    const TItem& item = plan.Items[i];
    if (!item.Entry) continue;
    archive.AddFile(item.Name)->Separate = item.Separate ? 1 : 0;
  }
  // Scrambled entries draw their seeds from this: the same project gives the same bytes.
  vr::SeedScrambleSeeds(seed);
  int parts = 0;
  {
    vr::TKoBigFileStream stream(target, vr::fmCreate);
    if (!archive.SaveToStream(stream, p.Scramble)) throw ToolError(kInterruptedText);
    parts = stream.PartCount();
  }
  for (int k = 0; k < parts; ++k) SetTime(vr::TKoBigFileStream::PartFileName(target, k), plan.Time);
}

std::vector<int64_t> Column(const std::vector<TMediumSizes>& sizes, int64_t TMediumSizes::*field) {
  std::vector<int64_t> v;
  for (const TMediumSizes& s : sizes) v.push_back(s.*field);
  return v;
}

int64_t Sum(const std::vector<int64_t>& v) {
  int64_t total = 0;
  for (int64_t x : v) total += x;
  return total;
}

void SetComputed(vr::TRovaInstallSet& s, int32_t index, const std::vector<TMediumSizes>& sizes,
                 const vr::TStringList& packageFiles) {
  s.SetDiskCount(static_cast<int32_t>(sizes.size()));
  s.DiskIndex = index;
  s.BaseSizes = Column(sizes, &TMediumSizes::Base);
  s.DataSizes = Column(sizes, &TMediumSizes::Data);
  s.SoundSizes = Column(sizes, &TMediumSizes::Sound);
  s.MovieSizes = Column(sizes, &TMediumSizes::Movie);
  s.BaseSizeTotal = Sum(s.BaseSizes);
  s.DataSizeTotal = Sum(s.DataSizes);
  s.SoundSizeTotal = Sum(s.SoundSizes);
  s.MovieSizeTotal = Sum(s.MovieSizes);
  s.PackageFiles = packageFiles;
  s.InstalledFiles.Clear();
  s.Uninstaller = false;
}

// A computed field the project gives must be what the builder computed for the first medium.
void CheckGivenFields(const TMediaProject& p, const vr::TRovaInstallSet& first) {
  vr::TRovaInstallSet given;
  SettingsFromJson(p.Settings, given);
  auto refuse = [&](const std::string& field, const std::string& says, const std::string& made) {
    throw ToolError(p.Shown + ": settings field " + field + " says " + says + ", the media give " + made +
                    "; leave it out to have it computed");
  };
  auto list = [](const std::vector<int64_t>& v) {
    std::string s = "[";
    for (size_t i = 0; i < v.size(); ++i) s += (i ? ", " : "") + std::to_string(v[i]);
    return s + "]";
  };
  const Json& j = p.Settings;
  if (j.contains("DiskIndex") && given.DiskIndex != 0)
    refuse("DiskIndex", std::to_string(given.DiskIndex), "0 (the first medium)");
  if (j.contains("DiskCount") && given.DiskCount != first.DiskCount)
    refuse("DiskCount", std::to_string(given.DiskCount), std::to_string(first.DiskCount));
  const std::pair<const char*, std::vector<int64_t> vr::TRovaInstallSet::*> arrays[] = {
      {"BaseSizes", &vr::TRovaInstallSet::BaseSizes},
      {"DataSizes", &vr::TRovaInstallSet::DataSizes},
      {"SoundSizes", &vr::TRovaInstallSet::SoundSizes},
      {"MovieSizes", &vr::TRovaInstallSet::MovieSizes}};
  for (const auto& a : arrays)
    if (j.contains(a.first) && given.*a.second != first.*a.second)
      refuse(a.first, list(given.*a.second), list(first.*a.second));
  const std::pair<const char*, int64_t vr::TRovaInstallSet::*> totals[] = {
      {"BaseSizeTotal", &vr::TRovaInstallSet::BaseSizeTotal},
      {"DataSizeTotal", &vr::TRovaInstallSet::DataSizeTotal},
      {"SoundSizeTotal", &vr::TRovaInstallSet::SoundSizeTotal},
      {"MovieSizeTotal", &vr::TRovaInstallSet::MovieSizeTotal}};
  for (const auto& t : totals)
    if (j.contains(t.first) && given.*t.second != first.*t.second)
      refuse(t.first, std::to_string(given.*t.second), std::to_string(first.*t.second));
  if (j.contains("PackageFiles")) {
    std::vector<std::string> a, b;
    for (const std::string& n : given.PackageFiles.Items()) a.push_back(vr::Platform().LowerCaseJ(n));
    for (const std::string& n : first.PackageFiles.Items()) b.push_back(n);
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    if (a != b) {
      std::string made;
      for (const std::string& n : b) made += (made.empty() ? "" : ", ") + ToUtf8(n);
      refuse("PackageFiles", std::to_string(a.size()) + " names", "[" + made + "]");
    }
  }
  if (j.contains("InstalledFiles") && given.InstalledFiles.Count() != 0)
    refuse("InstalledFiles", std::to_string(given.InstalledFiles.Count()) + " names",
           "none (a package lists none)");
  if (j.contains("Uninstaller") && given.Uninstaller)
    refuse("Uninstaller", "true", "false (a package is no uninstaller)");
}

std::string TempFolderBeside(const std::string& out) {
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string temp = vr::ExtractFilePath(out) + "~vrtool-media-" + std::to_string(random() % 1000000);
    if (vr::Platform().GetFileKind(temp) == vr::TFileKind::None) return temp;
  }
  throw ToolError("no free temporary name beside the output folder");
}

}  // namespace

TMediaProject LoadMediaProject(const std::string& utf8File, const std::string& setup) {
  TMediaProject p;
  p.Shown = utf8File;
  const std::string where = utf8File + ": ";
  Json j;
  {
    vr::TMemoryStream m;
    m.LoadFromFile(HostPathToCp932(utf8File, "file name"));
    try {
      j = Json::parse(std::string(reinterpret_cast<const char*>(m.Memory()), static_cast<size_t>(m.Size())));
    } catch (const Json::parse_error& e) {
      throw ToolError(where + e.what());
    }
  }
  if (!j.is_object()) throw ToolError(where + "the project must be a JSON object");
  for (auto it = j.begin(); it != j.end(); ++it) {
    static const char* const known[] = {"settings", "files",    "archive", "separate",
                                        "scramble", "capacity", "setup",   "volume"};
    if (std::none_of(std::begin(known), std::end(known), [&](const char* k) { return it.key() == k; }))
      throw ToolError(where + "unknown field \"" + it.key() +
                      "\" (fields: settings, files, archive, separate, scramble, capacity, setup, volume)");
  }
  const std::string base = HostFolderOf(utf8File);
  auto path = [&](const char* field, std::string& cp932, std::string& shown, bool folder) {
    if (!j.contains(field)) return;
    if (!j[field].is_string() || j[field].get<std::string>().empty())
      throw ToolError(where + "field " + field + ": a path is expected");
    const std::string value = j[field].get<std::string>();
    shown = IsAbsoluteHostPath(value) ? value : base + value;
    cp932 = vr::ExcludeTrailingBackslash(HostPathToCp932(shown, std::string("field ") + field));
    if (folder && !vr::DirectoryExists(vr::AddTrailingBackslash(cp932)))
      throw ToolError(where + "field " + field + ": " + shown + " is not a folder");
  };

  if (!j.contains("settings") || !j["settings"].is_object())
    throw ToolError(where + "field settings: an object of install.dat fields is expected");
  p.Settings = j["settings"];
  vr::TRovaInstallSet s;
  try {
    SettingsFromJson(p.Settings, s);
  } catch (const ToolError& e) {
    throw ToolError(where + e.what());
  }
  if (s.Title.empty()) throw ToolError(where + "settings field Title: the media need a title");
  if (s.AddOnPackage || s.ArchiveInstall)
    throw ToolError(where + std::string("settings field ") +
                    (s.AddOnPackage ? "AddOnPackage" : "ArchiveInstall") +
                    ": media install their loose files and archives; a package that installs from its "
                    "program's own archive is made with pack and append");

  path("files", p.Files, p.FilesShown, true);
  path("archive", p.Archive, p.ArchiveShown, true);
  if (p.Files.empty() && p.Archive.empty())
    throw ToolError(where + "fields files and archive: at least one folder of the game is expected");
  if (!setup.empty()) {
    p.SetupShown = setup;
    p.Setup = HostPathToCp932(setup, "--setup");
  } else if (j.contains("setup")) {
    path("setup", p.Setup, p.SetupShown, false);
  } else {
    throw ToolError(where + "field setup: the setup program is expected (or --setup PATH)");
  }

  if (j.contains("separate")) {
    if (!j["separate"].is_array())
      throw ToolError(where + "field separate: an array of entry names is expected");
    for (const Json& n : j["separate"]) {
      if (!n.is_string()) throw ToolError(where + "field separate: an array of entry names is expected");
      p.Separate.push_back(ToCp932(n.get<std::string>(), "field separate"));
    }
    if (p.Archive.empty() && !p.Separate.empty())
      throw ToolError(where + "field separate: names entries, but the project has no archive folder");
  }
  if (j.contains("scramble")) {
    if (!j["scramble"].is_boolean()) throw ToolError(where + "field scramble: true or false is expected");
    p.Scramble = j["scramble"].get<bool>();
  }
  if (!j.contains("capacity"))
    throw ToolError(where + "field capacity: cd650, cd700, dvd5, dvd9 or a byte count is expected");
  p.Capacity = CapacityOf(j["capacity"], where);
  p.Volume = "GAME";
  if (j.contains("volume")) {
    if (!j["volume"].is_string() || !IsVolumeLabel(j["volume"].get<std::string>()) ||
        j["volume"].get<std::string>().size() > 29)
      throw ToolError(where + "field volume: 1 to 29 of A-Z, 0-9 and _ are expected");
    p.Volume = j["volume"].get<std::string>();
  }
  return p;
}

TMediumSizes CountMedium(const std::string& folder, const vr::TRovaInstallSet& settings) {
  TMediumSizes sizes;
  vr::TStringList list;
  vr::ListFiles(folder, 47, true, "", false, true, list, true);
  const size_t prefix = vr::Platform().LowerCaseJ(folder).size();
  for (int i = 0; i < list.Count(); ++i) {
    const std::string relative = list[i].substr(std::min(prefix, list[i].size()));
    if (!settings.IsPackageFile(relative)) continue;
    const int64_t size = SizeOf(list[i]);
    switch (vr::FileGroupOf(vr::ExtractFileExt(relative))) {
      case vr::TFileGroup::fgSound:
        sizes.Sound += size;
        break;
      case vr::TFileGroup::fgMovie:
        sizes.Movie += size;
        break;
      case vr::TFileGroup::fgOther:
        sizes.Base += size;
        break;
    }
  }
  if (vr::FileExists(folder + vr::kDataFileName)) {
    vr::TVrFileCollection archive;
    archive.Open(folder + vr::kDataFileName);
    for (int i = 0; i < archive.Count(); ++i) {
      const vr::TVrFile& e = *archive.Items(i);
      if (!e.IsEndMarker() && !e.Separate && !e.IsSuperseded()) sizes.Data += e.Size;
    }
  }
  return sizes;
}

std::vector<TBuiltMedium> BuildMedia(const TMediaProject& p, const std::string& out,
                                     const TMediaBuildOptions& options) {
  const std::string target = vr::ExcludeTrailingBackslash(HostPathToCp932(out, "folder name"));
  const vr::TFileKind kind = vr::Platform().GetFileKind(target);
  if (kind == vr::TFileKind::Directory) {
    auto list = vr::Platform().ListFolder(target);
    if (!list || !list->empty())
      throw ToolError(out + ": exists and is not empty; the media go into a new or empty folder");
  } else if (kind != vr::TFileKind::None) {
    throw ToolError(out + ": exists and is not a folder");
  }

  TPlan plan;
  Collect(p, plan);
  Assign(p, plan);
  const auto count = static_cast<int32_t>(plan.Media.size());

  const std::string temp = TempFolderBeside(target);
  std::vector<TBuiltMedium> built;
  // Ctrl-C, SIGTERM or a closed terminal stop the build at its next step; the folder beside OUT goes.
  TInterruptScope interrupt;
  try {
    if (!vr::Platform().CreateDirectory(temp)) throw ToolError(ToUtf8(temp) + ": cannot be created");
    std::vector<std::string> folders;
    for (int32_t i = 0; i < count; ++i) {
      TBuiltMedium m;
      m.Name = "disc" + std::to_string(i + 1);
      const std::string folder = temp + "\\" + m.Name + "\\";
      folders.push_back(folder);
      if (!vr::Platform().CreateDirectory(vr::ExcludeTrailingBackslash(folder)))
        throw ToolError(ToUtf8(folder) + ": cannot be created");
      CopyInto(p.Setup, folder + kSetupName, p.SetupShown);
      for (size_t index : plan.Media[static_cast<size_t>(i)]) {
        const TItem& item = plan.Items[index];
        if (!item.Entry) CopyInto(item.Source, folder + item.Name, item.Shown);
      }
      ProgressBar bar(options.Progress, m.Name);
      WriteDataFile(p, plan, plan.Media[static_cast<size_t>(i)], folder + vr::kDataFileName, options.Threads,
                    0x6D656469u + static_cast<uint32_t>(i), bar);
      bar.Finish();
      if (Interrupted()) throw ToolError(kInterruptedText);
      {
        const std::string text = AutorunText();
        vr::TFileStream autorun(folder + kAutorunName, vr::fmCreate);
        autorun.WriteBuffer(text.data(), static_cast<int32_t>(text.size()));
      }
      SetTime(folder + kAutorunName, plan.Time);
      built.push_back(m);
    }

    // The sizes are what the install run will find on each medium.
    vr::TRovaInstallSet listing;
    listing.PackageFiles = plan.PackageFiles;
    std::vector<TMediumSizes> sizes;
    for (const std::string& folder : folders) sizes.push_back(CountMedium(folder, listing));
    for (int32_t i = 0; i < count; ++i) {
      vr::TRovaInstallSet s;
      SettingsFromJson(p.Settings, s);
      SetComputed(s, i, sizes, plan.PackageFiles);
      if (i == 0) CheckGivenFields(p, s);
      const std::string file = folders[static_cast<size_t>(i)] + vr::kSettingsFileName;
      s.SaveToFile(file);
      SetTime(file, plan.Time);
    }

    // Read back: every install.dat as the wizard loads it, every archive against its checksums.
    for (int32_t i = 0; i < count; ++i) {
      const std::string& folder = folders[static_cast<size_t>(i)];
      TBuiltMedium& m = built[static_cast<size_t>(i)];
      vr::TRovaInstallSet s;
      s.LoadFromFile(folder + vr::kSettingsFileName);
      m.Sizes = CountMedium(folder, s);
      if (s.DiskIndex != i || s.DiskCount != count || !(m.Sizes == sizes[static_cast<size_t>(i)]) ||
          s.BaseSizes[static_cast<size_t>(i)] != m.Sizes.Base ||
          s.DataSizes[static_cast<size_t>(i)] != m.Sizes.Data ||
          s.SoundSizes[static_cast<size_t>(i)] != m.Sizes.Sound ||
          s.MovieSizes[static_cast<size_t>(i)] != m.Sizes.Movie)
        throw ToolError(ToUtf8(folder) + "install.dat: does not read back as written");
      {
        vr::TVrFileCollection archive;
        archive.Open(folder + vr::kDataFileName);
        if (!archive.VerifyData())
          throw ToolError(ToUtf8(folder) + "game.dat: an entry does not match its checksum");
      }
      vr::TStringList files;
      vr::ListFiles(folder, 47, true, "", false, true, files, true);
      m.Files = files.Count();
      for (int k = 0; k < files.Count(); ++k) m.Bytes += SizeOf(files[k]);

      const std::string label = count == 1 ? p.Volume : p.Volume + "_" + std::to_string(i + 1);
      TIsoImage image(folder, label, plan.Time);
      m.DiscBytes = image.Size();
      if (m.DiscBytes > p.Capacity)
        throw ToolError(m.Name + ": " + Thousands(m.DiscBytes) + " bytes do not fit on a medium of " +
                        Thousands(p.Capacity) + " bytes");
      if (options.Iso) {
        image.Write(temp + "\\" + m.Name + ".iso", [] { return Interrupted(); });
        if (Interrupted()) throw ToolError(kInterruptedText);
      }
    }

    // Every file and folder of the media is on the disk before the media take their name, and the
    // name is on the disk before the command reports success.
    if (!vr::FlushTree(temp)) throw ToolError(out + ": the media cannot be written to the disk");
    if (kind == vr::TFileKind::Directory && !vr::Platform().RemoveDirectory(target))
      throw ToolError(out + ": the empty folder cannot be replaced");
    if (!vr::Platform().MoveFileReplace(temp, target) || !vr::FlushFolderOf(target))
      throw ToolError(out + ": the media cannot be moved into place");
  } catch (...) {
    vr::DeleteTree(temp);
    throw;
  }
  return built;
}

}  // namespace vrtool
