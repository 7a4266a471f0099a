#include "textconv.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif
#if defined(__linux__)
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

#include "console.h"
#include "platform/codepage.h"
#include "platform/dbcspath.h"

namespace vrtool {

std::string ToCp932(const std::string& utf8, const std::string& what) {
  std::string out = vr::Utf8ToCp932(utf8);
  // The converter marks characters it cannot map with "?"; a round trip shows whether that happened.
  if (vr::Cp932ToUtf8(out) != utf8) {
    throw ToolError(what + " \"" + utf8 + "\" cannot be written in code page 932");
  }
  return out;
}

std::string HostPathToCp932(const std::string& utf8, const std::string& what) {
  std::string out = vr::Utf8ToCp932(utf8);
  if (vr::Cp932ToUtf8(out) == utf8) return out;
#if defined(__linux__)
  // Split off the last name; everything before it is a folder that is opened and named by descriptor.
  std::string path = utf8;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::string cpName = vr::Utf8ToCp932(name);
  if (vr::Cp932ToUtf8(cpName) != name)
    throw ToolError(
        what + " \"" + utf8 +
        "\": its last name cannot be written in code page 932 (folders above it may hold any characters)");
  const int fd = open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0)
    throw ToolError(what + " \"" + utf8 + "\": the folder \"" + folder +
                    "\" cannot be opened: " + std::strerror(errno));
  // Kept open for the rest of the run.
  return "/proc/self/fd/" + std::to_string(fd) + "/" + cpName;
#else
  throw ToolError(what + " \"" + utf8 + "\" cannot be written in code page 932");
#endif
}

bool JapaneseLocale() {
#ifdef _WIN32
  return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_JAPANESE;
#else
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* v = std::getenv(name);
    if (v && *v) return std::strncmp(v, "ja", 2) == 0;
  }
  return false;
#endif
}

namespace {

// The libraries' texts ("%s" any text, "%d" a number) and their English forms.
const std::pair<const char*, const char*> kMessages[] = {
    {u8"%s:ファイルがありません", "%s: no such file"},
    {u8"%s:ファイルを開けません", "%s: cannot be opened"},
    {u8"ファイル %s を開けません", "%s: cannot be opened"},
    {u8"%s:ファイルを作成できません", "%s: cannot be created"},
    {u8"ファイル %s を作成できません", "%s: cannot be created"},
    {u8"%s:ファイルを削除できません", "%s: cannot be deleted"},
    {u8"%s:書き込みエラー", "%s: write error"},
    {u8"%s:読み込みエラー", "%s: read error"},
    {u8"%s:書き込みに失敗しました", "%s: writing failed"},
    {u8"%s:書き込みできません", "%s: cannot be written"},
    {u8"%s:アーカイブのデータが壊れています", "%s: the archive data is damaged"},
    {u8"%s:実行ファイルのアーカイブの位置が正しくありません",
     "%s: the program's trailer points outside the file"},
    {u8"%s:ファイル名が正しくありません",
     "%s: the name is not usable (it leaves the folder, names a device or is one Windows cannot hold)"},
    {u8"%s:%s と同じ名前になります(Windows は大文字と小文字を区別しません)",
     "%s: the same name to Windows as %s (Windows does not tell upper and lower case apart)"},
    {u8"アーカイブのディレクトリが壊れています%s", "the archive directory is damaged%s"},
    {u8"リソースが見つかりません", "the resource is missing"},
    {u8"リソース %s が見つかりません", "resource %s is missing"},
    {u8"エラー:%s", "error: %s"},
    {u8"zlib エラー: データが途中で終わっています", "zlib error: the data ends early"},
    {u8"zlib エラー: %s", "zlib error: %s"},
    {u8"ファイルが破壊されています", "the file is damaged"},
    {u8"読み込めないファイル形式です", "a file format this program cannot read"},
    {u8"未対応のファイル形式です", "unsupported file format"},
    {u8"未対応のXML形式です", "unsupported XML version"},
    {u8"未対応の文字セットです", "unsupported character set"},
    {u8"XMLが大きすぎます", "the XML header is too large"},
    {u8"XMLの要素の入れ子が深すぎます", "the XML elements are nested too deeply"},
    {u8"<%s>がありません", "<%s> is missing"},
    {u8"識別コードを設定してください", "the image needs its identification code (--seed)"},
    {u8"レイヤーがありません", "the frame has no layers"},
    {u8"カラーテーブルがありません", "the colour table is missing"},
    {u8"画像のサイズが大きすぎます (%d x %d)", "the picture is too large (%d x %d)"},
    {u8"未対応のビット数です (%d)", "unsupported bit depth (%d)"},
    {u8"'%s' は有効な整数値ではありません", "'%s' is not a valid integer"},
    {u8"ストリームの読み込みエラー", "stream read error"},
    {u8"ストリームの書き込みエラー", "stream write error"},
    {u8"メモリが不足しています", "out of memory"},
    {u8"メモリストリームの拡張中にメモリが不足しました", "out of memory while growing a memory stream"},
    // The install run's texts (made for dialogs: lines end in CR LF; a system reason may follow).
    {u8"インストールを中止しました\r\nインストール先のフォルダは元の状態に戻してあります",
     "the install was stopped; the destination folder is as it was before"},
    {u8"%s\r\nファイルが作成できません%s", "%s: cannot be created%s"},
    {u8"%s\r\nファイルに書き込めません%s", "%s: cannot be written%s"},
    {u8"%s\r\nファイルを削除できません%s", "%s: cannot be set aside%s"},
    {u8"%s\r\nファイルをコピーできませんでした%s", "%s: cannot be copied%s"},
    {u8"ディレクトリを作成できませんでした", "a folder of the install cannot be created"},
    {u8"%s\r\n通常のファイルではないためコピーできません",
     "%s: is not a regular file (a pipe, device or socket) and cannot be copied"},
    {u8"ファイルが壊れています", "an entry of the archive is damaged"},
    {u8"正しいインストール先を指定してください\r\n%s",
     "%s: the game this add-on belongs to is not installed there"},
    {u8"%s\r\n別のゲームのディスクです", "%s: a medium of another game"},
    {u8"%s\r\nディスクのアーカイブを読めません:%m", "%s: the medium's archive cannot be read: %m"},
    {u8"ファイルの内容が正しくありません\r\n%s",
     "the installed data file does not pass its check (a damaged medium or disk); install again"},
};

// Matches text against a template; the texts standing for "%s" / "%d" go to args.
bool Match(const char* tmpl, const std::string& text, size_t at, std::vector<std::string>& args) {
  if (*tmpl == '\0') return at == text.size();
  if (tmpl[0] == '%' && (tmpl[1] == 's' || tmpl[1] == 'd' || tmpl[1] == 'm')) {
    for (size_t end = text.size() + 1; end-- > at;) {  // longest first
      const std::string piece = text.substr(at, end - at);
      if (tmpl[1] == 'd' && (piece.empty() || piece.find_first_not_of("-0123456789") != std::string::npos))
        continue;
      args.push_back(piece);
      if (Match(tmpl + 2, text, end, args)) return true;
      args.pop_back();
    }
    return false;
  }
  return at < text.size() && text[at] == *tmpl && Match(tmpl + 1, text, at + 1, args);
}

}  // namespace

namespace {

// The English form of a library message.
std::string LocalizeText(const std::string& utf8) {
  static const bool japanese = JapaneseLocale();
  if (japanese) return utf8;
  for (const auto& [jp, en] : kMessages) {
    std::vector<std::string> args;
    if (!Match(jp, utf8, 0, args)) continue;
    std::string out;
    size_t next = 0;
    for (const char* p = en; *p; ++p) {
      if (p[0] == '%' && (p[1] == 's' || p[1] == 'd' || p[1] == 'm') && next < args.size()) {
        // "%m": a message of its own, in English too.
        out += p[1] == 'm' ? LocalizeText(args[next++]) : args[next++];
        ++p;
      } else {
        out += *p;
      }
    }
    return out;
  }
  return utf8;
}

}  // namespace

std::string Localize(const std::string& utf8) {
  // The libraries' texts are made for dialogs: their line breaks become spaces on one line.
  std::string text = LocalizeText(utf8);
  for (size_t at; (at = text.find("\r\n")) != std::string::npos;) text.replace(at, 2, " ");
  return text;
}

std::string ToUtf8(const std::string& cp932) { return vr::Cp932ToUtf8(cp932); }

std::string UnrepresentableName(const std::string& cp932Folder, const std::string& listed) {
#ifdef _WIN32
  const std::string folder = vr::Cp932ToUtf8(cp932Folder);
#else
  const std::string folder = vr::Cp932ToUtf8(vr::ReplaceDelimiters(cp932Folder, '/'));
#endif
  std::error_code ec;
  for (std::filesystem::directory_iterator it(std::filesystem::u8path(folder), ec), end; !ec && it != end;
       it.increment(ec)) {
    const std::string name = it->path().filename().u8string();
    const std::string cp932 = vr::Utf8ToCp932(name);
    if (cp932 == listed && vr::Cp932ToUtf8(cp932) != name) return name;
  }
  return std::string();
}

std::string HexBytes(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

}  // namespace vrtool
