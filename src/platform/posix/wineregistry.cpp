#include "platform/posix/wineregistry.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>

#include "platform/codepage.h"

namespace vr {

namespace {

const char kHeader[] = "WINE REGISTRY Version 2";
const char kRootLine[] = ";; All keys relative to ";

std::string Fold(const std::string& s) {
  std::string out = s;
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

// "\a\\b\" -> "a\b".
std::string NormalPath(const std::string& path) {
  std::string out;
  size_t i = 0;
  while (i < path.size()) {
    size_t j = path.find('\\', i);
    if (j == std::string::npos) j = path.size();
    if (j > i) {
      if (!out.empty()) out += '\\';
      out.append(path, i, j - i);
    }
    i = j + 1;
  }
  return out;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string Utf16Bytes(const std::u16string& s, bool terminate) {
  std::string out;
  for (char16_t c : s) {
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>(c >> 8);
  }
  if (terminate) out.append(2, '\0');
  return out;
}

// Data of a value line after its "=": kind and bytes; false when it is not understood.
bool DecodeData(const std::string& text, uint32_t& kind, std::string& data) {
  data.clear();
  size_t at = 0;
  if (text.compare(0, 4, "str(") == 0) {
    const size_t close = text.find("):", 4);
    if (close == std::string::npos) return false;
    kind = static_cast<uint32_t>(std::strtoul(text.c_str() + 4, nullptr, 16));
    at = close + 2;
  } else if (!text.empty() && text[0] == '"') {
    kind = 1;
  } else if (text.compare(0, 6, "dword:") == 0) {
    kind = 4;
    const uint32_t v = static_cast<uint32_t>(std::strtoul(text.c_str() + 6, nullptr, 16));
    for (int i = 0; i < 4; ++i) data += static_cast<char>((v >> (8 * i)) & 0xFF);
    return true;
  } else if (text.compare(0, 3, "hex") == 0) {
    kind = 3;
    at = 3;
    if (at < text.size() && text[at] == '(') {
      kind = static_cast<uint32_t>(std::strtoul(text.c_str() + at + 1, nullptr, 16));
      at = text.find(')', at);
      if (at == std::string::npos) return false;
      ++at;
    }
    if (at >= text.size() || text[at] != ':') return false;
    int high = -1;
    for (size_t i = at + 1; i < text.size(); ++i) {
      const int v = HexValue(text[i]);
      if (v < 0) continue;  // commas, the continuation backslash, line breaks and indents
      if (high < 0) {
        high = v;
      } else {
        data += static_cast<char>(high * 16 + v);
        high = -1;
      }
    }
    return true;
  } else {
    return false;
  }
  if (at >= text.size() || text[at] != '"') return false;
  data = Utf16Bytes(WineUnescape(text, at + 1, '"', nullptr), true);
  return true;
}

std::string EncodeData(uint32_t kind, const std::string& data) {
  char buffer[16];
  if ((kind == 1 || kind == 2 || kind == 7) && data.size() >= 2 && data.size() % 2 == 0 &&
      data[data.size() - 1] == '\0' && data[data.size() - 2] == '\0') {
    std::u16string s;
    for (size_t i = 0; i + 2 < data.size(); i += 2)
      s += static_cast<char16_t>(static_cast<uint8_t>(data[i]) | (static_cast<uint8_t>(data[i + 1]) << 8));
    std::string prefix;
    if (kind != 1) {
      std::snprintf(buffer, sizeof buffer, "str(%x):", kind);
      prefix = buffer;
    }
    return prefix + "\"" + WineEscape(s, "\"\"") + "\"";
  }
  if (kind == 4 && data.size() == 4) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(static_cast<uint8_t>(data[i])) << (8 * i);
    std::snprintf(buffer, sizeof buffer, "dword:%08x", v);
    return buffer;
  }
  std::string out = "hex";
  if (kind != 3) {
    std::snprintf(buffer, sizeof buffer, "(%x)", kind);
    out += buffer;
  }
  out += ':';
  for (size_t i = 0; i < data.size(); ++i) {
    std::snprintf(buffer, sizeof buffer, i ? ",%02x" : "%02x", static_cast<uint8_t>(data[i]));
    out += buffer;
  }
  return out;
}

std::string ValueLine(const std::string& name, uint32_t kind, const std::string& data) {
  const std::string head = name.empty() ? "@" : "\"" + WineEscape(Utf8ToUtf16(name), "\"\"") + "\"";
  return head + "=" + EncodeData(kind, data);
}

}  // namespace

std::string WineEscape(const std::u16string& s, const char* quotes) {
  static const char kEscapes[33] = ".......abtnvfr.............e....";
  std::string out;
  char buffer[16];
  for (size_t i = 0; i < s.size(); ++i) {
    const char16_t c = s[i];
    const bool hexNext = i + 1 < s.size() && s[i + 1] < 128 && HexValue(static_cast<char>(s[i + 1])) >= 0;
    if (c > 127) {
      std::snprintf(buffer, sizeof buffer, hexNext ? "\\x%04x" : "\\x%x", static_cast<unsigned>(c));
      out += buffer;
    } else if (c < 32) {
      const bool octalNext = i + 1 < s.size() && s[i + 1] >= '0' && s[i + 1] <= '7';
      if (kEscapes[c] != '.')
        (out += '\\') += kEscapes[c];
      else {
        std::snprintf(buffer, sizeof buffer, octalNext ? "\\%03o" : "\\%o", static_cast<unsigned>(c));
        out += buffer;
      }
    } else {
      if (c == '\\' || c == quotes[0] || c == quotes[1]) out += '\\';
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::u16string WineUnescape(const std::string& s, size_t start, char quote, size_t* end) {
  std::u16string out;
  std::string raw;  // bytes past ASCII, decoded as UTF-8 together
  auto flush = [&] {
    if (!raw.empty()) out += Utf8ToUtf16(raw);
    raw.clear();
  };
  size_t i = start;
  for (; i < s.size() && s[i] != quote; ++i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c >= 0x80) {
      raw += static_cast<char>(c);
      continue;
    }
    flush();
    if (c != '\\' || i + 1 >= s.size()) {
      out += static_cast<char16_t>(c);
      continue;
    }
    const char e = s[++i];
    switch (e) {
      case 'a':
        out += u'\a';
        break;
      case 'b':
        out += u'\b';
        break;
      case 'e':
        out += u'\x1b';
        break;
      case 'f':
        out += u'\f';
        break;
      case 'n':
        out += u'\n';
        break;
      case 'r':
        out += u'\r';
        break;
      case 't':
        out += u'\t';
        break;
      case 'v':
        out += u'\v';
        break;
      case 'x': {
        unsigned v = 0;
        int n = 0;
        while (n < 4 && i + 1 < s.size() && HexValue(s[i + 1]) >= 0) v = v * 16 + HexValue(s[++i]), ++n;
        out += n ? static_cast<char16_t>(v) : u'x';
        break;
      }
      default:
        if (e >= '0' && e <= '7') {
          unsigned v = static_cast<unsigned>(e - '0');
          for (int n = 1; n < 3 && i + 1 < s.size() && s[i + 1] >= '0' && s[i + 1] <= '7'; ++n)
            v = v * 8 + static_cast<unsigned>(s[++i] - '0');
          out += static_cast<char16_t>(v);
        } else {
          out += static_cast<char16_t>(static_cast<unsigned char>(e));
        }
    }
  }
  flush();
  if (end) *end = i < s.size() ? i + 1 : s.size();
  return out;
}

bool TWineRegistryFile::Load(const std::string& hostPath) {
  std::ifstream in(hostPath, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  if (!in) {
    prelude_.clear();
    keys_.clear();
    return false;
  }
  return Parse(text.str());
}

bool TWineRegistryFile::Parse(const std::string& text) {
  prelude_.clear();
  keys_.clear();
  std::vector<std::string> lines;
  size_t i = 0;
  while (i < text.size()) {
    size_t j = text.find('\n', i);
    if (j == std::string::npos) j = text.size();
    lines.push_back(text.substr(i, j - i));
    if (!lines.back().empty() && lines.back().back() == '\r') lines.back().pop_back();
    i = j + 1;
  }
  if (lines.empty() || lines[0] != kHeader) return false;
  TKey* key = nullptr;
  for (size_t n = 0; n < lines.size(); ++n) {
    const std::string& line = lines[n];
    if (!line.empty() && line[0] == '[') {
      size_t end = 0;
      TKey k;
      k.Path = NormalPath(Utf16ToUtf8(WineUnescape(line, 1, ']', &end)));
      k.Header = line;
      keys_.push_back(std::move(k));
      key = &keys_.back();
    } else if (!key) {
      prelude_.push_back(line);
    } else if (line.empty()) {
      continue;
    } else if (line[0] == '#') {
      key->Extra.push_back(line);
    } else {
      TValue v;
      size_t end = 1;
      if (line[0] == '"')
        v.Name = Utf16ToUtf8(WineUnescape(line, 1, '"', &end));
      else if (line[0] != '@')
        continue;  // not a value line: dropped, as the server drops it
      v.Text = line;
      // Hex data continue on the next line after a backslash.
      const bool hex = line.compare(end, 4, "=hex") == 0;
      while (hex && !v.Text.empty() && v.Text.back() == '\\' && n + 1 < lines.size())
        v.Text += "\n" + lines[++n];
      key->Values.push_back(std::move(v));
    }
  }
  while (!prelude_.empty() && prelude_.back().empty()) prelude_.pop_back();
  return true;
}

std::string TWineRegistryFile::Text() const {
  std::string out;
  if (prelude_.empty()) out = std::string(kHeader) + "\n";
  for (const std::string& line : prelude_) out += line + "\n";
  for (const TKey& k : keys_) {
    out += "\n" + k.Header + "\n";
    for (const std::string& line : k.Extra) out += line + "\n";
    for (const TValue& v : k.Values) out += v.Text + "\n";
  }
  return out;
}

bool TWineRegistryFile::Save(const std::string& hostPath) const {
  const std::string temp = hostPath + ".vrtmp" + std::to_string(getpid());
  const std::string text = Text();
  const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  const bool ok = done == text.size() && fsync(fd) == 0;
  if (close(fd) != 0 || !ok || std::rename(temp.c_str(), hostPath.c_str()) != 0) {
    std::remove(temp.c_str());
    return false;
  }
  return true;
}

std::string TWineRegistryFile::RootKey() const {
  for (const std::string& line : prelude_)
    if (line.compare(0, sizeof kRootLine - 1, kRootLine) == 0)
      return Utf16ToUtf8(WineUnescape(line, sizeof kRootLine - 1, '\0', nullptr));
  return std::string();
}

const TWineRegistryFile::TKey* TWineRegistryFile::Find(const std::string& path) const {
  const std::string want = Fold(NormalPath(path));
  for (const TKey& k : keys_)
    if (Fold(k.Path) == want) return &k;
  return nullptr;
}

TWineRegistryFile::TKey* TWineRegistryFile::Find(const std::string& path) {
  return const_cast<TKey*>(static_cast<const TWineRegistryFile*>(this)->Find(path));
}

// A key exists when it has a block of its own or a key below it has one: the server writes keys that
// hold only subkeys as their subkeys' paths.
bool TWineRegistryFile::KeyExists(const std::string& path) const { return SubKeys(path).has_value(); }

std::optional<std::vector<std::string>> TWineRegistryFile::SubKeys(const std::string& path) const {
  const std::string want = Fold(NormalPath(path));
  const std::string prefix = want.empty() ? std::string() : want + "\\";
  bool exists = want.empty();
  std::vector<std::string> names, folded;
  for (const TKey& k : keys_) {
    const std::string f = Fold(k.Path);
    if (f == want) exists = true;
    if (f.size() <= prefix.size() || f.compare(0, prefix.size(), prefix) != 0) continue;
    exists = true;
    const size_t cut = k.Path.find('\\', prefix.size());
    const std::string name =
        k.Path.substr(prefix.size(), cut == std::string::npos ? std::string::npos : cut - prefix.size());
    bool seen = false;
    for (const std::string& n : folded) seen = seen || n == Fold(name);
    if (!seen) {
      names.push_back(name);
      folded.push_back(Fold(name));
    }
  }
  if (!exists) return std::nullopt;
  return names;
}

bool TWineRegistryFile::HasValues(const std::string& path) const {
  const TKey* k = Find(path);
  return k && !k->Values.empty();
}

bool TWineRegistryFile::Read(const std::string& path, const std::string& name, uint32_t& kind,
                             std::string& data) const {
  const TKey* k = Find(path);
  if (!k) return false;
  for (const TValue& v : k->Values) {
    if (Fold(v.Name) != Fold(name)) continue;
    size_t end = 1;
    if (v.Text[0] == '"') WineUnescape(v.Text, 1, '"', &end);
    return end < v.Text.size() && v.Text[end] == '=' && DecodeData(v.Text.substr(end + 1), kind, data);
  }
  return false;
}

void TWineRegistryFile::Write(const std::string& path, const std::string& name, uint32_t kind,
                              const std::string& data) {
  TKey* k = Find(path);
  if (!k) {
    TKey created;
    created.Path = NormalPath(path);
    const time_t now = std::time(nullptr);
    created.Header = "[" + WineEscape(Utf8ToUtf16(created.Path), "[]") + "] " + std::to_string(now);
    // FILETIME: 100 ns steps since 1601.
    const unsigned long long filetime = (static_cast<unsigned long long>(now) + 11644473600ULL) * 10000000ULL;
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "#time=%llx", filetime);
    created.Extra.push_back(buffer);
    keys_.push_back(std::move(created));
    k = &keys_.back();
  }
  for (TValue& v : k->Values) {
    if (Fold(v.Name) == Fold(name)) {
      v.Text = ValueLine(v.Name, kind, data);  // the value keeps its spelling
      return;
    }
  }
  k->Values.push_back(TValue{name, ValueLine(name, kind, data)});
}

bool TWineRegistryFile::DeleteValue(const std::string& path, const std::string& name) {
  TKey* k = Find(path);
  if (!k) return false;
  for (auto it = k->Values.begin(); it != k->Values.end(); ++it) {
    if (Fold(it->Name) == Fold(name)) {
      k->Values.erase(it);
      return true;
    }
  }
  return false;
}

bool TWineRegistryFile::DeleteTree(const std::string& path) {
  const std::string want = Fold(NormalPath(path));
  if (want.empty() || !KeyExists(path)) return false;
  const std::string prefix = want + "\\";
  std::string spelt;  // the path as the file spells it
  std::vector<TKey> kept;
  for (TKey& k : keys_) {
    const std::string f = Fold(k.Path);
    if (f != want && f.compare(0, prefix.size(), prefix) != 0)
      kept.push_back(std::move(k));
    else if (spelt.empty())
      spelt = k.Path.substr(0, want.size());
  }
  keys_ = std::move(kept);
  // The key's parent stays, empty, as the server keeps it.
  const size_t cut = spelt.rfind('\\');
  if (cut != std::string::npos && !KeyExists(spelt.substr(0, cut))) {
    Write(spelt.substr(0, cut), "", 1, std::string(2, '\0'));
    DeleteValue(spelt.substr(0, cut), "");
  }
  return true;
}

}  // namespace vr
