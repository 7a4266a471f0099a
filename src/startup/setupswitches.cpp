#include "startup/setupswitches.h"

#include "framework/classes.h"
#include "framework/sysutils.h"
#include "platform/codepage.h"
#include "platform/platform.h"

namespace vr {

namespace {

std::string Quoted(const std::string& name, const std::string& value) {
  return "/" + name + "=\"" + value + "\"";
}

}  // namespace

const char* const kSwitchesHelp =
    "使い方: setup.exe [フォルダ] [スイッチ]\r\n"
    "/SILENT\t進行状況のほかは何も表示しません\r\n"
    "/VERYSILENT\tウィンドウを表示しません\r\n"
    "/SUPPRESSMSGBOXES\t質問には処理を続ける答えを選びます\r\n"
    "/DIR=\"フォルダ\"\tインストール先\r\n"
    "/COMPONENTS=\"data,sound,movie\"\tインストールするファイル\r\n"
    "/NOICONS\tショートカットを作成しません\r\n"
    "/MEDIADIRS=\"フォルダ2;フォルダ3\"\t2枚目以降のディスクのフォルダ\r\n"
    "/LOG=\"ファイル\"\t処理の記録 (UTF-8)\r\n"
    "/DELETESAVE\tアンインストールでセーブデータも削除します\r\n"
    "/REPAIR\tインストール先のゲームを調べ、このディスクから修復します\r\n"
    "/? /HELP\tこの一覧\r\n"
    "終了コード: 0 完了、1 開始できません、3 何も書き込まずに中止、4 処理中の失敗または中断";

std::vector<std::string> SplitList(const std::string& text, char separator) {
  std::vector<std::string> out;
  std::string item;
  for (char c : text) {
    if (c == separator) {
      if (!item.empty()) out.push_back(item);
      item.clear();
    } else {
      item += c;
    }
  }
  if (!item.empty()) out.push_back(item);
  return out;
}

TSetupSwitches ParseSetupSwitches(const std::vector<std::string>& params) {
  TSetupSwitches s;
  for (const std::string& param : params) {
    if (param.empty() || param[0] != '/') {
      s.Plain.push_back(param);
      continue;
    }
    s.Any = true;
    const size_t equals = param.find('=');
    const std::string name =
        UpperCaseAscii(param.substr(1, equals == std::string::npos ? std::string::npos : equals - 1));
    const bool hasValue = equals != std::string::npos;
    const std::string value = hasValue ? param.substr(equals + 1) : std::string();
    const bool takesValue =
        name == "DIR" || name == "COMPONENTS" || name == "MEDIADIRS" || name == "LOG" || name == "TEMPCOPY";
    if (takesValue != hasValue || (takesValue && name != "COMPONENTS" && value.empty())) {
      if (s.Error.empty()) s.Error = Format("スイッチ %s が正しくありません", {param});
      continue;
    }
    if (name == "SILENT") {
      s.Silent = true;
    } else if (name == "VERYSILENT") {
      s.VerySilent = true;
    } else if (name == "SUPPRESSMSGBOXES") {
      s.SuppressMsgBoxes = true;
    } else if (name == "NOICONS") {
      s.NoIcons = true;
    } else if (name == "DELETESAVE") {
      s.DeleteSave = true;
    } else if (name == "REPAIR") {
      s.Repair = true;
    } else if (name == "?" || name == "HELP") {
      s.Help = true;
    } else if (name == "DIR") {
      s.HasDir = true;
      s.Dir = value;
    } else if (name == "MEDIADIRS") {
      s.MediaDirs = SplitList(value, ';');
    } else if (name == "LOG") {
      s.LogFile = value;
    } else if (name == "TEMPCOPY") {
      s.TempCopyToken = value;
    } else if (name == "COMPONENTS") {
      s.HasComponents = true;
      s.Data = s.Sound = s.Movie = false;
      for (const std::string& group : SplitList(LowerCaseAscii(value), ',')) {
        if (group == "data") {
          s.Data = true;
        } else if (group == "sound") {
          s.Sound = true;
        } else if (group == "movie") {
          s.Movie = true;
        } else if (s.Error.empty()) {
          s.Error = Format("スイッチ %s が正しくありません (data, sound, movie)", {param});
        }
      }
    } else if (s.Error.empty()) {
      s.Error = Format("スイッチ %s が正しくありません", {param});
    }
  }
  return s;
}

std::string SwitchesCommandLine(const TSetupSwitches& s) {
  std::vector<std::string> parts;
  if (s.Silent) parts.push_back("/SILENT");
  if (s.VerySilent) parts.push_back("/VERYSILENT");
  if (s.SuppressMsgBoxes) parts.push_back("/SUPPRESSMSGBOXES");
  if (s.HasDir) parts.push_back(Quoted("DIR", s.Dir));
  if (s.HasComponents) {
    std::string groups;
    for (const auto& [on, group] : {std::pair{s.Data, "data"}, {s.Sound, "sound"}, {s.Movie, "movie"}})
      if (on) groups += (groups.empty() ? "" : ",") + std::string(group);
    parts.push_back(Quoted("COMPONENTS", groups));
  }
  if (s.NoIcons) parts.push_back("/NOICONS");
  if (!s.MediaDirs.empty()) {
    std::string dirs;
    for (const std::string& dir : s.MediaDirs) dirs += (dirs.empty() ? "" : ";") + dir;
    parts.push_back(Quoted("MEDIADIRS", dirs));
  }
  if (!s.LogFile.empty()) parts.push_back(Quoted("LOG", s.LogFile));
  if (s.DeleteSave) parts.push_back("/DELETESAVE");
  if (s.Repair) parts.push_back("/REPAIR");
  std::string line;
  for (const std::string& part : parts) line += (line.empty() ? "" : " ") + part;
  return line;
}

std::string Printable(const std::string& utf8) {
  static const char* const kHex = "0123456789abcdef";
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(utf8[i]);
    // C1 controls are U+0080-U+009F: C2 80 .. C2 9F in UTF-8.
    if (c == 0xC2 && i + 1 < utf8.size() && static_cast<unsigned char>(utf8[i + 1]) >= 0x80 &&
        static_cast<unsigned char>(utf8[i + 1]) <= 0x9F) {
      const unsigned char d = static_cast<unsigned char>(utf8[++i]);
      out += "\\u00";
      out += kHex[d >> 4];
      out += kHex[d & 15];
      continue;
    }
    if (c >= 0x20 && c != 0x7F) {
      out += static_cast<char>(c);
      continue;
    }
    switch (c) {
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        out += "\\x";
        out += kHex[c >> 4];
        out += kHex[c & 15];
    }
  }
  return out;
}

bool TSetupLog::Open(const std::string& fileName, bool append) {
  fileName_ = fileName;
  if (fileName_.empty() || append) return true;
  try {
    TFileStream create(fileName_, fmCreate);
    return true;
  } catch (const Exception&) {
    // Each line tries again; a log that cannot be made does not stop the run.
    return false;
  }
}

void TSetupLog::Line(const std::string& text) {
  if (fileName_.empty()) return;
  const std::string utf8 = Cp932ToUtf8(text);
  // Line breaks inside a message become blanks: one message, one line.
  std::string line;
  for (size_t start = 0;;) {
    const size_t end = utf8.find("\r\n", start);
    line += Printable(utf8.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    line += ' ';
    start = end + 2;
  }
  line += "\r\n";
  try {
    THandle h = Platform().FileOpen(fileName_, fmOpenReadWrite | fmShareDenyWrite);
    if (h == kInvalidHandle) {
      TFileStream create(fileName_, fmCreate);
      create.WriteBuffer(line.data(), static_cast<int64_t>(line.size()));
      return;
    }
    struct TCloser {
      THandle H;
      ~TCloser() { Platform().FileClose(H); }
    } closer{h};
    THandleStream file(h);
    file.Seek(0, TSeekOrigin::soEnd);
    file.WriteBuffer(line.data(), static_cast<int64_t>(line.size()));
  } catch (const Exception&) {
    // Losing a log line must not stop an install half-way.
  }
}

}  // namespace vr
