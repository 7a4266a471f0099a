// One registry file of a Wine prefix (system.reg, user.reg, userdef.reg) in the text form the Wine
// server loads and saves: a "WINE REGISTRY Version 2" header, then "[key path] time" blocks holding
// their values as "name"=data lines. Keys and values this class does not change keep their text as it
// was read, so a file loaded and saved again differs only where something was written.
//
// Key paths and value names are UTF-8, backslash separated, matched without regard to ASCII case (the
// server does the same). Value data are the bytes Windows keeps: strings in UTF-16LE with their final
// NUL, a DWORD in 4 little-endian bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vr {

class TWineRegistryFile {
 public:
  // Reads a registry file; false (and an empty registry) when it cannot be read or has no Wine header.
  bool Load(const std::string& hostPath);
  bool Parse(const std::string& text);
  // Writes the text to a temporary file beside `hostPath`, flushes it and renames it over the file.
  bool Save(const std::string& hostPath) const;
  std::string Text() const;

  // The key the file's paths lie below, as its header line names it ("\User\S-1-5-21-...", "\Machine").
  std::string RootKey() const;

  bool KeyExists(const std::string& path) const;
  // The names of the keys directly below `path`; nullopt when `path` does not exist.
  std::optional<std::vector<std::string>> SubKeys(const std::string& path) const;
  bool HasValues(const std::string& path) const;
  // An empty name is the key's default value ("@").
  bool Read(const std::string& path, const std::string& name, uint32_t& kind, std::string& data) const;
  // Creates the key when needed; replaces a value of that name.
  void Write(const std::string& path, const std::string& name, uint32_t kind, const std::string& data);
  bool DeleteValue(const std::string& path, const std::string& name);
  // Removes the key and everything below it; false when there was no such key.
  bool DeleteTree(const std::string& path);

 private:
  struct TValue {
    std::string Name;  // UTF-8; empty for "@"
    std::string Text;  // the line(s) as in the file, without the final line break
  };
  struct TKey {
    std::string Path;                // UTF-8, as spelt in the file
    std::string Header;              // "[...] time" and the comment lines after it ("#time=...")
    std::vector<std::string> Extra;  // other lines of the block kept as read ("#class", "#link")
    std::vector<TValue> Values;
  };
  TKey* Find(const std::string& path);
  const TKey* Find(const std::string& path) const;

  std::vector<std::string> prelude_;  // header and option lines before the first key
  std::vector<TKey> keys_;
};

// Wine's escaping of key paths, value names and string data: backslash before "\" and the quote
// characters, C escapes for control characters, \xNNNN for everything past ASCII.
std::string WineEscape(const std::u16string& s, const char* quotes);
// The reverse; `end` receives the index just past the closing quote (or the end of `s`).
std::u16string WineUnescape(const std::string& s, size_t start, char quote, size_t* end);

}  // namespace vr
