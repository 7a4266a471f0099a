// CloneCD's control file: an INI text whose [Entry N] sections are the disc's TOC entries (Point 1..99 a
// track with its first sector in PLBA, Point 0xA2 the lead-out of its session) and whose [TRACK N]
// sections give each track's MODE (0 audio, 1 and 2 the data modes). The IMG holds every sector from
// sector 0 on in raw 2352-byte form, so a track's sectors start at its first sector times 2352.
#include <algorithm>
#include <cctype>
#include <map>

#include "disc/describedimage.h"
#include "platform/dbcspath.h"

namespace vr {
namespace {

constexpr size_t kMaxSections = 1024;
constexpr int64_t kMaxValue = int64_t{1} << 40;
constexpr int64_t kRawSector = 2352;

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Trim(const std::string& s) {
  size_t a = 0, b = s.size();
  while (a < b && std::isspace(static_cast<unsigned char>(s[a]))) ++a;
  while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1]))) --b;
  return s.substr(a, b - a);
}

// A decimal or "0x" hexadecimal number, possibly negative; false when it is none or out of range.
bool Number(const std::string& text, int64_t& value) {
  std::string s = Trim(text);
  const bool negative = !s.empty() && s[0] == '-';
  if (negative) s.erase(0, 1);
  int base = 10;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    s.erase(0, 2);
  }
  if (s.empty()) return false;
  value = 0;
  for (char c : s) {
    const int d = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                  : base == 16 && std::isxdigit(static_cast<unsigned char>(c))
                      ? std::tolower(static_cast<unsigned char>(c)) - 'a' + 10
                      : -1;
    if (d < 0) return false;
    value = value * base + d;
    if (value > kMaxValue) return false;
  }
  if (negative) value = -value;
  return true;
}

using TSection = std::map<std::string, std::string>;

int64_t Field(const TSection& section, const std::string& sectionName, const std::string& key) {
  const auto at = section.find(key);
  int64_t value = 0;
  if (at == section.end() || !Number(at->second, value))
    throw EDiscError("[" + sectionName + "] has no usable " + key + "=");
  return value;
}

}  // namespace

TImageLayout ParseCcd(const std::string& text, const std::string& ccdName) {
  std::map<std::string, TSection> sections;  // lower-case names
  TSection* current = nullptr;
  size_t at = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string line = Trim(text.substr(at, end - at));
    at = end + 1;
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      const size_t close = line.find(']');
      if (close == std::string::npos) throw EDiscError("a section name is not closed: " + line);
      if (sections.size() >= kMaxSections)
        throw EDiscError("more than " + std::to_string(kMaxSections) + " sections");
      current = &sections[Lower(Trim(line.substr(1, close - 1)))];
      continue;
    }
    const size_t eq = line.find('=');
    if (!current || eq == std::string::npos) continue;
    (*current)[Lower(Trim(line.substr(0, eq)))] = Trim(line.substr(eq + 1));
  }
  if (!sections.count("clonecd")) throw EDiscError("not a CloneCD control file (no [CloneCD] section)");

  TImageLayout layout;
  layout.Kind = "CCD/IMG";
  layout.DataFile = ChangeFileExt(ccdName, ".img");
  std::map<int64_t, int64_t> leadOut;  // session -> first sector of its lead-out
  for (const auto& [name, section] : sections) {
    if (name.compare(0, 6, "entry ") != 0) continue;
    const int64_t point = Field(section, name, "point");
    const int64_t session = section.count("session") ? Field(section, name, "session") : 1;
    if (point == 0xA2) leadOut[session] = Field(section, name, "plba");
    if (point < 1 || point > 99) continue;
    if (layout.Tracks.size() >= kMaxDescribedTracks)
      throw EDiscError("more than " + std::to_string(kMaxDescribedTracks) + " tracks");
    TDiscTrack track;
    track.Number = static_cast<int>(point);
    track.FileIndex = static_cast<int>(session);  // the session, until the lengths are known
    track.Index1 = 0;
    track.Start = Field(section, name, "plba");
    if (track.Start < 0) throw EDiscError("track " + std::to_string(point) + " starts before the disc");
    const bool data = (Field(section, name, "control") & 0x04) != 0;
    int64_t mode = data ? 1 : 0;
    const auto described = sections.find("track " + std::to_string(point));
    if (described != sections.end() && described->second.count("mode"))
      mode = Field(described->second, described->first, "mode");
    if (mode < 0 || mode > 2)
      throw EDiscError("track " + std::to_string(point) + ": mode " + std::to_string(mode) +
                       " is not supported");
    track.Mode = mode == 0   ? TTrackMode::tmAudio
                 : mode == 1 ? TTrackMode::tmMode1_2352
                             : TTrackMode::tmMode2_2352;
    track.FileOffset = track.Start * kRawSector;
    layout.Tracks.push_back(track);
  }
  std::sort(layout.Tracks.begin(), layout.Tracks.end(),
            [](const TDiscTrack& a, const TDiscTrack& b) { return a.Number < b.Number; });
  for (size_t i = 0; i < layout.Tracks.size(); ++i) {
    TDiscTrack& t = layout.Tracks[i];
    if (i > 0 && layout.Tracks[i - 1].Number == t.Number)
      throw EDiscError("track " + std::to_string(t.Number) + " is listed twice");
    int64_t end = -1;
    if (i + 1 < layout.Tracks.size() && layout.Tracks[i + 1].FileIndex == t.FileIndex)
      end = layout.Tracks[i + 1].Start;
    else if (leadOut.count(t.FileIndex))
      end = leadOut[t.FileIndex];
    if (end >= 0 && end < t.Start)
      throw EDiscError("track " + std::to_string(t.Number) + " ends before it starts");
    t.Sectors = end >= 0 ? end - t.Start : -1;
  }
  for (TDiscTrack& t : layout.Tracks) t.FileIndex = 0;
  return layout;
}

}  // namespace vr
