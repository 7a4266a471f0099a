// settings show / settings build: install.dat as text or JSON, and back.
#include <nlohmann/json.hpp>

#include "archiveaccess.h"
#include "commands.h"
#include "console.h"
#include "discmedia.h"
#include "settingsjson.h"
#include "startup/instset.h"
#include "textconv.h"

namespace vrtool {
namespace {

// Every field of the settings in file order: its JSON name and how it maps to the object.
struct Field {
  const char* Name;
  enum Type { Int32, Byte, Flag, String, Sizes, Size, List } Kind;
  void* (*Ptr)(vr::TRovaInstallSet&);
};

#define VR_FIELD(name, kind)                                                     \
  Field {                                                                        \
#name, Field::kind, [](vr::TRovaInstallSet & s) -> void* { return &s.name; } \
  }

const Field kFields[] = {
    VR_FIELD(DiskIndex, Int32),        VR_FIELD(Title, String),        VR_FIELD(FooterText, String),
    VR_FIELD(DefaultFolder, String),   VR_FIELD(ReadmeFile, String),   VR_FIELD(OpenReadme, Flag),
    VR_FIELD(BackdropPicture, String), VR_FIELD(BackdropLayout, Byte), VR_FIELD(DiskCount, Int32),
    VR_FIELD(GameExe, String),         VR_FIELD(PictureSeed, Int32),   VR_FIELD(OfferRuntimes, Flag),
    VR_FIELD(ExtraFlag, Byte),         VR_FIELD(MediaNoun, String),    VR_FIELD(RegistryKey, String),
    VR_FIELD(BaseSizes, Sizes),        VR_FIELD(DataSizes, Sizes),     VR_FIELD(SoundSizes, Sizes),
    VR_FIELD(MovieSizes, Sizes),       VR_FIELD(BaseSizeTotal, Size),  VR_FIELD(DataSizeTotal, Size),
    VR_FIELD(SoundSizeTotal, Size),    VR_FIELD(MovieSizeTotal, Size), VR_FIELD(Uninstaller, Flag),
    VR_FIELD(AddOnPackage, Flag),      VR_FIELD(InstalledFiles, List), VR_FIELD(DataInstalled, Flag),
    VR_FIELD(InstallKind, Byte),       VR_FIELD(ArchiveInstall, Flag), VR_FIELD(PackageFiles, List),
    VR_FIELD(SetupCaption, String),    VR_FIELD(WelcomeText, String),  VR_FIELD(LicenseText, String),
};

#undef VR_FIELD

Json ToJson(vr::TRovaInstallSet& s) {
  Json j;
  j["Version"] = s.SettingsVersion;
  for (const Field& f : kFields) {
    void* p = f.Ptr(s);
    switch (f.Kind) {
      case Field::Int32:
        j[f.Name] = *static_cast<int32_t*>(p);
        break;
      case Field::Byte:
        j[f.Name] = *static_cast<uint8_t*>(p);
        break;
      case Field::Flag:
        j[f.Name] = *static_cast<bool*>(p);
        break;
      case Field::String:
        j[f.Name] = ToUtf8(*static_cast<std::string*>(p));
        break;
      case Field::Size:
        j[f.Name] = *static_cast<int64_t*>(p);
        break;
      case Field::Sizes:
        j[f.Name] = *static_cast<std::vector<int64_t>*>(p);
        break;
      case Field::List: {
        Json list = Json::array();
        for (const auto& item : static_cast<vr::TStringList*>(p)->Items()) list.push_back(ToUtf8(item));
        j[f.Name] = list;
        break;
      }
    }
  }
  return j;
}

std::string TextValue(const Json& v) {
  if (v.is_string()) return v.get<std::string>();
  return v.dump();
}

void PrintText(vr::TRovaInstallSet& s) {
  Json j = ToJson(s);
  std::string out;
  for (auto it = j.begin(); it != j.end(); ++it) {
    const Json& v = it.value();
    if (v.is_array()) {
      out += it.key() + ": " + std::to_string(v.size()) + (v.size() == 1 ? " item\n" : " items\n");
      for (size_t i = 0; i < v.size(); ++i) out += "  [" + std::to_string(i) + "] " + TextValue(v[i]) + "\n";
    } else if (v.is_string() && v.get<std::string>().find('\n') != std::string::npos) {
      // Multi-line texts (welcome, licence) are indented below their name.
      out += it.key() + ":\n";
      std::string text = v.get<std::string>();
      size_t start = 0;
      while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        out += "  | " + line + "\n";
        start = end + 1;
      }
    } else {
      out += it.key() + ": " + TextValue(v) + "\n";
    }
  }
  WriteStdout(out);
}

int64_t Integer(const Json& v, const std::string& name, int64_t min, int64_t max) {
  if (v.is_boolean()) return v.get<bool>() ? 1 : 0;
  if (!v.is_number_integer()) throw ToolError("settings field " + name + ": an integer is expected");
  int64_t n = v.is_number_unsigned() && v.get<uint64_t>() > static_cast<uint64_t>(INT64_MAX)
                  ? INT64_MAX
                  : v.get<int64_t>();
  if (n < min || n > max) {
    throw ToolError("settings field " + name + ": " + std::to_string(n) + " is out of range " +
                    std::to_string(min) + ".." + std::to_string(max));
  }
  return n;
}

std::string Text(const Json& v, const std::string& name) {
  if (!v.is_string()) throw ToolError("settings field " + name + ": a string is expected");
  return ToCp932(v.get<std::string>(), "settings field " + name);
}

}  // namespace

void SettingsFromJson(const Json& j, vr::TRovaInstallSet& s) {
  if (!j.is_object()) throw ToolError("the settings JSON must be an object");
  // Unknown names are refused: a misspelt field would otherwise be dropped without notice.
  for (auto it = j.begin(); it != j.end(); ++it) {
    bool known = it.key() == "Version";
    for (const Field& f : kFields) known = known || it.key() == f.Name;
    if (!known) throw ToolError("unknown settings field \"" + it.key() + "\"");
  }
  if (j.contains("Version")) {
    const Json& v = j["Version"];
    if (!v.is_number_integer()) throw ToolError("settings field Version: an integer is expected");
  }
  // The per-medium arrays decide DiskCount unless it is given; all of them must agree with it.
  int64_t diskCount = -1;
  if (j.contains("DiskCount")) diskCount = Integer(j["DiskCount"], "DiskCount", 0, 1 << 20);
  for (const char* name : {"BaseSizes", "DataSizes", "SoundSizes", "MovieSizes"}) {
    if (!j.contains(name)) continue;
    const Json& v = j[name];
    if (!v.is_array()) throw ToolError(std::string("settings field ") + name + ": an array is expected");
    if (diskCount < 0) diskCount = static_cast<int64_t>(v.size());
    if (static_cast<int64_t>(v.size()) != diskCount) {
      throw ToolError(std::string("settings field ") + name + ": " + std::to_string(v.size()) +
                      " values, but DiskCount is " + std::to_string(diskCount));
    }
  }
  // Arrays imply the count: the same limit as for a count given.
  if (diskCount > (1 << 20))
    throw ToolError("settings: " + std::to_string(diskCount) + " media given by the size arrays; at most " +
                    std::to_string(1 << 20) + " are allowed (DiskCount)");
  s.SetDiskCount(static_cast<int32_t>(diskCount < 0 ? 0 : diskCount));
  for (const Field& f : kFields) {
    if (!j.contains(f.Name) || std::string(f.Name) == "DiskCount") continue;
    const Json& v = j[f.Name];
    void* p = f.Ptr(s);
    switch (f.Kind) {
      case Field::Int32:
        *static_cast<int32_t*>(p) = static_cast<int32_t>(Integer(v, f.Name, INT32_MIN, INT32_MAX));
        break;
      case Field::Byte:
        *static_cast<uint8_t*>(p) = static_cast<uint8_t>(Integer(v, f.Name, 0, 255));
        break;
      case Field::Flag:
        *static_cast<bool*>(p) = Integer(v, f.Name, 0, 1) != 0;
        break;
      case Field::String:
        *static_cast<std::string*>(p) = Text(v, f.Name);
        break;
      case Field::Size:
        *static_cast<int64_t*>(p) = Integer(v, f.Name, INT64_MIN, INT64_MAX);
        break;
      case Field::Sizes: {
        auto& sizes = *static_cast<std::vector<int64_t>*>(p);
        for (size_t i = 0; i < v.size(); ++i) {
          sizes[i] = Integer(v[i], std::string(f.Name) + "[" + std::to_string(i) + "]", INT64_MIN, INT64_MAX);
        }
        break;
      }
      case Field::List: {
        if (!v.is_array())
          throw ToolError(std::string("settings field ") + f.Name + ": an array is expected");
        auto* list = static_cast<vr::TStringList*>(p);
        list->Clear();
        for (size_t i = 0; i < v.size(); ++i) {
          list->Add(Text(v[i], std::string(f.Name) + "[" + std::to_string(i) + "]"));
        }
        break;
      }
    }
  }
}

namespace {

std::string ReadInput(const std::string& path) {
  vr::TMemoryStream m;
  if (path == "-") {
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, stdin)) > 0) m.WriteBuffer(buf, static_cast<int32_t>(n));
  } else {
    m.LoadFromFile(HostPathToCp932(path, "file name"));
  }
  return std::string(reinterpret_cast<const char*>(m.Memory()), static_cast<size_t>(m.Size()));
}

}  // namespace

int CmdSettingsShow(const std::string& file, bool fromArchive, bool json) {
  vr::TRovaInstallSet settings;
  if (fromArchive) {
    vr::TMemoryStream m;
    ArchiveSource src;
    src.Path = file;
    ResolveImageSource(src);
    ReadArchiveEntry(src, vr::kSettingsFileName, m);
    settings.LoadFromStream(m);
  } else {
    settings.LoadFromFile(HostPathToCp932(file, "file name"));
  }
  if (json) {
    WriteStdout(ToJson(settings).dump(2) + "\n");
  } else {
    PrintText(settings);
  }
  return 0;
}

int CmdSettingsBuild(const std::string& jsonFile, const std::string& out) {
  Json j;
  try {
    j = Json::parse(ReadInput(jsonFile));
  } catch (const Json::parse_error& e) {
    throw ToolError(jsonFile + ": " + e.what());
  }
  vr::TRovaInstallSet settings;
  SettingsFromJson(j, settings);
  settings.SaveToFile(HostPathToCp932(out, "file name"));
  return 0;
}

}  // namespace vrtool
