// The Wine side of vrtool: a prefix as the platform of the install and uninstall runs, the Japanese
// fonts a prefix needs outside a Japanese locale, and start, which runs the installed game under Wine.
#include <string>
#include <vector>

#include "commands.h"
#include "console.h"
#include "winehost.h"

#ifdef _WIN32

#include "platform/posix/wineprefix.h"

namespace vrtool {

// Windows has no Wine prefixes to install into or start from.
TWinePrefixScope::TWinePrefixScope(const std::string& utf8Prefix) : name_(utf8Prefix) {
  throw ToolError("--wine-prefix: Wine runs on Linux only");
}
TWinePrefixScope::~TWinePrefixScope() = default;
std::string TWinePrefixScope::FolderOnDrive(const std::string&) { return std::string(); }
std::string TWinePrefixScope::HostPath(const std::string&) { return std::string(); }
void SetUpJapaneseFonts(vr::TWinePrefixPlatform&, bool) {}
int CmdStart(const StartOptions&, const Options&) { throw ToolError("start: Wine runs on Linux only"); }

}  // namespace vrtool

#else

#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "framework/sysutils.h"
#include "platform/codepage.h"
#include "platform/dbcspath.h"
#include "platform/platform.h"
#include "platform/posix/wineprefix.h"
#include "startup/instset.h"
#include "startup/syshelpers.h"
#include "textconv.h"

namespace vrtool {

namespace fs = std::filesystem;

namespace {

// Registry values are written in UTF-16LE with their NUL.
std::string Utf16Bytes(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) {
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>(c >> 8);
  }
  return out;
}

std::u16string Utf16Text(const std::string& data) {
  std::u16string s;
  for (size_t i = 0; i + 1 < data.size(); i += 2)
    s += static_cast<char16_t>(static_cast<uint8_t>(data[i]) | (static_cast<uint8_t>(data[i + 1]) << 8));
  return s;
}

// The Japanese locale the game runs in; empty when the system has none.
std::string JapaneseLocaleName() {
  for (const char* name : {"ja_JP.UTF-8", "ja_JP.utf8"}) {
    if (locale_t l = newlocale(LC_ALL_MASK, name, static_cast<locale_t>(0))) {
      freelocale(l);
      return name;
    }
  }
  return std::string();
}

std::string FindOnPath(const std::string& program) {
  if (program.find('/') != std::string::npos) return access(program.c_str(), X_OK) == 0 ? program : "";
  const char* path = std::getenv("PATH");
  std::string list = path ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t i = 0;
  while (i <= list.size()) {
    size_t j = list.find(':', i);
    if (j == std::string::npos) j = list.size();
    const std::string dir = j > i ? list.substr(i, j - i) : ".";
    const std::string candidate = dir + "/" + program;
    struct stat st;
    if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(candidate.c_str(), X_OK) == 0)
      return candidate;
    i = j + 1;
  }
  return std::string();
}

// One argument of a desktop entry's Exec line: quoted, then escaped as a string value.
std::string DesktopArgument(const std::string& arg) {
  std::string quoted = "\"";
  for (char c : arg) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
    quoted += c;
  }
  quoted += '"';
  std::string out;
  for (char c : quoted) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '%')
      out += "%%";
    else if (c == '\t')
      out += "\\t";
    else
      out += c;
  }
  return out;
}

std::string DesktopString(const std::string& value) {
  std::string out;
  for (char c : value) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '\t')
      out += "\\t";
    else
      out += c;
  }
  return out;
}

// The host folders that hold the IPA Gothic fonts Debian packages.
const char* const kFontFolders[] = {"/usr/share/fonts/opentype/ipafont-gothic",
                                    "/usr/share/fonts/truetype/ipafont-gothic",
                                    "/usr/share/fonts/opentype/ipafont", "/usr/share/fonts/truetype/ipafont"};

}  // namespace

// --- the prefix as the runs' platform -------------------------------------------------------------------

TWinePrefixScope::TWinePrefixScope(const std::string& utf8Prefix) : name_(utf8Prefix) {
  std::string error;
  platform_ = vr::TWinePrefixPlatform::Open(utf8Prefix, error);
  if (!platform_) throw ToolError(error);
  if (vr::WineServerRunning(platform_->Prefix()))
    throw ToolError(utf8Prefix +
                    ": a Wine server runs for this prefix; it keeps the registry in memory and would write "
                    "its copy over ours. Close its programs or run `WINEPREFIX=" +
                    platform_->Prefix() + " wineserver -k`, then try again");
  previous_ = vr::SetPlatform(platform_.get());
}

TWinePrefixScope::~TWinePrefixScope() { vr::SetPlatform(previous_); }

std::string TWinePrefixScope::FolderOnDrive(const std::string& utf8Dir) {
  // A Windows path is taken to its host folder first, so that both kinds are judged by where they
  // really lead: a link on the way to a place outside the prefix's drives is refused too.
  std::string given = utf8Dir;
  if (utf8Dir.size() >= 3 && std::isalpha(static_cast<unsigned char>(utf8Dir[0])) && utf8Dir[1] == ':' &&
      (utf8Dir[2] == '\\' || utf8Dir[2] == '/')) {
    given = platform_->HostPath(vr::ReplaceDelimiters(ToCp932(utf8Dir, "folder name"), '\\'));
    if (given.empty()) throw ToolError(utf8Dir + ": not on a drive of the prefix " + name_);
  }
  std::error_code ec;
  const std::string host = fs::weakly_canonical(fs::absolute(given), ec).string();
  const char letter = ec ? 0 : platform_->DriveOf(host);
  if (letter == 0)
    throw ToolError(utf8Dir + ": outside the drives of the prefix " + name_ +
                    " (choose a folder in its drive_c, or on a drive its dosdevices map)");
  ToCp932(host, "folder name");
  return vr::AddTrailingBackslash(platform_->WindowsPath(host));
}

std::string TWinePrefixScope::HostPath(const std::string& windowsPath) {
  return platform_->HostPath(windowsPath);
}

// --- fonts ------------------------------------------------------------------------------------------------

void SetUpJapaneseFonts(vr::TWinePrefixPlatform& prefix, bool quiet) {
  std::string folder;
  for (const char* f : kFontFolders) {
    if (fs::exists(fs::path(f) / "ipagp.ttf") && fs::exists(fs::path(f) / "ipag.ttf")) {
      folder = f;
      break;
    }
  }
  if (folder.empty()) {
    PrintError(
        "note: no IPA Gothic font on this system, so Japanese text in Wine's own captions may show as boxes "
        "(Debian: apt install fonts-ipafont-gothic, then run the install again)");
    return;
  }
  // The fonts are taken into the prefix, so that they are found whatever Wine's font search sees.
  const std::string fonts = prefix.HostPath("C:\\windows\\Fonts");
  std::error_code ec;
  fs::create_directories(fonts, ec);
  for (const char* file : {"ipagp.ttf", "ipag.ttf"}) {
    const fs::path target = fs::path(fonts) / file;
    if (!fs::exists(fs::symlink_status(target))) fs::copy_file(fs::path(folder) / file, target, ec);
  }

  int added = 0;
  // Captions, menus and the standard dialogs: Wine falls back through these links for glyphs the
  // font lacks. Its own links name Windows' Japanese fonts, which a prefix does not have.
  const std::string link = "Software\\Microsoft\\Windows NT\\CurrentVersion\\FontLink\\SystemLink";
  const std::u16string entry = u"ipagp.ttf,IPAPGothic";
  for (const char* face : {"Tahoma", "Microsoft Sans Serif", "MS Sans Serif", "MS Shell Dlg",
                           "MS Shell Dlg 2", "Lucida Sans Unicode", "Segoe UI"}) {
    uint32_t kind = 0;
    std::string data;
    std::u16string list;
    if (prefix.WineRegRead(vr::TRegRoot::HKLM, link, face, kind, data) && kind == vr::kRegMultiSz)
      list = Utf16Text(data);
    if (list.find(u"IPAPGothic") != std::u16string::npos) continue;
    while (!list.empty() && list.back() == 0) list.pop_back();
    std::u16string value = entry + u'\0';
    if (!list.empty()) value += list + u'\0';
    value += u'\0';
    if (!prefix.WineRegWrite(vr::TRegRoot::HKLM, link, face, vr::kRegMultiSz, Utf16Bytes(value)))
      throw ToolError("fonts: the prefix's system.reg cannot be written");
    ++added;
  }
  // The Japanese font names programs ask for by name.
  const std::string replacements = "Software\\Wine\\Fonts\\Replacements";
  const std::pair<const char*, const char*> kNames[] = {{"ＭＳ Ｐゴシック", "IPAPGothic"},
                                                        {"ＭＳ ゴシック", "IPAGothic"},
                                                        {"MS PGothic", "IPAPGothic"},
                                                        {"MS Gothic", "IPAGothic"}};
  for (const auto& [name, face] : kNames) {
    const std::string cp932 = name;  // the literals are code page 932 already
    std::string value;
    if (prefix.RegReadString(vr::TRegRoot::HKCU, replacements, cp932, value) != vr::TRegRead::Missing)
      continue;
    if (!prefix.RegWriteString(vr::TRegRoot::HKCU, replacements, cp932, face))
      throw ToolError("fonts: the prefix's user.reg cannot be written");
    ++added;
  }
  if (!quiet && added)
    PrintError("fonts: Japanese fonts linked into the prefix (" + std::to_string(added) +
               " values; --no-fonts leaves them out)");
}

// --- start ------------------------------------------------------------------------------------------------

int CmdStart(const StartOptions& so, const Options& opt) {
  std::error_code ec;
  const fs::path folder = fs::canonical(so.GameFolder, ec);
  if (ec || !fs::is_directory(folder)) throw ToolError(so.GameFolder + ": no such folder");
  const std::string settingsFile = (folder / vr::kSettingsFileName).string();
  if (!fs::is_regular_file(settingsFile))
    throw ToolError(so.GameFolder + ": no install.dat here; install the game first (vrtool install)");
  vr::TRovaInstallSet settings;
  settings.LoadFromFile(ToCp932(settingsFile, "file name"));
  if (!settings.Uninstaller) throw ToolError(so.GameFolder + ": this is a package, not an installed game");
  if (settings.GameExe.empty() || !vr::IsSafeRelativeName(settings.GameExe))
    throw ToolError(so.GameFolder + ": install.dat names no usable game program");
  std::string relative = ToUtf8(vr::ReplaceDelimiters(settings.GameExe, '/'));
  const fs::path exe = folder / relative;
  if (!fs::is_regular_file(exe))
    throw ToolError(exe.string() + ": the game's program is missing (repair or install the game again)");

  const std::string wine = FindOnPath(so.Wine.empty() ? "wine" : so.Wine);
  if (wine.empty())
    throw ToolError((so.Wine.empty() ? std::string("wine: not found on PATH") : so.Wine + ": not a program") +
                    "; install Wine (Debian: dpkg --add-architecture i386, apt install wine wine32:i386) or "
                    "name it with --wine");
  const std::string locale = JapaneseLocaleName();
  if (locale.empty())
    throw ToolError(
        "no Japanese locale on this system, and the game needs one to show its text and find its files; "
        "generate ja_JP.UTF-8 (Debian: apt install locales, uncomment ja_JP.UTF-8 UTF-8 in /etc/locale.gen, "
        "run locale-gen)");

  std::string prefix = so.WinePrefix;
  if (prefix.empty()) {
    const char* env = std::getenv("WINEPREFIX");
    const char* home = std::getenv("HOME");
    prefix = env && *env ? env : (home ? std::string(home) + "/.wine" : std::string());
  } else if (!fs::is_regular_file(fs::path(prefix) / "system.reg")) {
    throw ToolError(prefix + ": not a Wine prefix (no system.reg; make one with `WINEPREFIX=" + prefix +
                    " wineboot -i`)");
  } else {
    prefix = fs::canonical(prefix, ec).string();
  }
  // The program as the prefix names it (C:\...), so that the game sees the path setup gave it.
  std::string program = exe.string();
  std::string error;
  if (!prefix.empty() && fs::is_regular_file(fs::path(prefix) / "system.reg")) {
    if (auto p = vr::TWinePrefixPlatform::Open(prefix, error)) {
      const std::string windows = p->WindowsPath(exe.string());
      if (windows.size() > 2 && windows[1] == ':') program = ToUtf8(windows);
    }
  }

  if (so.DesktopEntry) {
    const char* data = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    if ((!data || *data != '/') && (!home || *home != '/'))
      throw ToolError("--desktop-entry: neither XDG_DATA_HOME nor HOME is set");
    const fs::path apps =
        fs::path(data && *data == '/' ? data : std::string(home) + "/.local/share") / "applications";
    uint64_t hash = 14695981039346656037ull;
    for (char c : folder.string()) hash = (hash ^ static_cast<uint8_t>(c)) * 1099511628211ull;
    char name[64];
    std::snprintf(name, sizeof name, "vrsetup-%016llx.desktop", static_cast<unsigned long long>(hash));
    // A line break would end the Exec line and start a key of its own, and other control characters
    // have no escape in a desktop entry (a tab is written as "\t"): the paths and the arguments holding
    // one are refused.
    std::vector<std::string> fields{folder.string(), prefix, wine, program};
    fields.insert(fields.end(), so.Arguments.begin(), so.Arguments.end());
    for (const std::string& s : fields)
      for (char c : s)
        if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F)
          throw ToolError(Printable(s) +
                          ": a line break or control character cannot go into a desktop entry");
    std::string exec = "env";
    const char* envPrefix = std::getenv("WINEPREFIX");
    if (!so.WinePrefix.empty() || (envPrefix && *envPrefix))
      exec += " " + DesktopArgument("WINEPREFIX=" + prefix);
    for (const char* var : {"LANG=", "LC_ALL=", "HOST_LC_ALL="}) exec += " " + DesktopArgument(var + locale);
    // env takes every argument holding "=" for an assignment, and one starting with "-" for an option,
    // until the command: the command is the shell, which starts Wine by the path it is given as $0.
    exec += " /bin/sh -c " + DesktopArgument("exec \"$0\" \"$@\"");
    exec += " " + DesktopArgument(fs::absolute(wine).string()) + " " + DesktopArgument(program);
    for (const std::string& a : so.Arguments) exec += " " + DesktopArgument(a);
    std::string title = ToUtf8(settings.Title);
    for (char& c : title)
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    const std::string text = "[Desktop Entry]\nType=Application\nName=" + DesktopString(title) +
                             "\nComment=" + DesktopString(title) + " (Wine)\nExec=" + exec +
                             "\nPath=" + DesktopString(folder.string()) +
                             "\nTerminal=false\nCategories=Game;\n";
    fs::create_directories(apps, ec);
    const fs::path target = apps / name, temp = apps / (std::string(name) + ".tmp");
    {
      std::ofstream out(temp, std::ios::binary | std::ios::trunc);
      out << text;
      out.flush();
      if (!out) throw ToolError(temp.string() + ": cannot be written");
    }
    fs::rename(temp, target, ec);
    if (ec) throw ToolError(target.string() + ": cannot be written");
    WriteStdout("desktop entry " + target.string() + "\n");
    return 0;
  }

  if (!so.WinePrefix.empty()) setenv("WINEPREFIX", prefix.c_str(), 1);
  setenv("LANG", locale.c_str(), 1);
  setenv("LC_ALL", locale.c_str(), 1);
  // Proton takes the locale of the game from HOST_LC_ALL.
  setenv("HOST_LC_ALL", locale.c_str(), 1);
  if (chdir(folder.c_str()) != 0) throw ToolError(folder.string() + ": cannot be entered");
  if (!opt.Quiet) PrintError("starting " + program + " with " + wine + " (" + locale + ")");
  std::vector<std::string> args = {wine, program};
  args.insert(args.end(), so.Arguments.begin(), so.Arguments.end());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::fflush(stdout);
  execv(wine.c_str(), argv.data());
  throw ToolError(wine + ": cannot be started");
}

}  // namespace vrtool

#endif
