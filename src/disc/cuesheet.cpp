// CUE sheets: the FILE, TRACK, INDEX and PREGAP lines; every other command is ignored.
#include <cctype>

#include "disc/discimage.h"
#include "platform/codepage.h"

namespace vr {
namespace {

constexpr size_t kMaxTracks = 99;
constexpr size_t kMaxFiles = 99;

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// The words of a line; a word in double quotes may hold spaces.
std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i >= line.size()) break;
    std::string word;
    if (line[i] == '"') {
      const size_t end = line.find('"', i + 1);
      if (end == std::string::npos) throw EDiscError("a quoted name is not closed: " + line);
      word = line.substr(i + 1, end - i - 1);
      i = end + 1;
    } else {
      while (i < line.size() && line[i] != ' ' && line[i] != '\t') word += line[i++];
    }
    words.push_back(word);
  }
  return words;
}

// "mm:ss:ff" in sectors (75 a second).
int64_t Frames(const std::string& msf) {
  int64_t part[3] = {0, 0, 0};
  size_t p = 0, digits = 0;
  for (char c : msf) {
    if (c == ':') {
      if (++p > 2 || digits == 0) break;
      digits = 0;
    } else if (c >= '0' && c <= '9' && digits < 6) {
      part[p] = part[p] * 10 + (c - '0');
      ++digits;
    } else {
      p = 3;
      break;
    }
  }
  if (p != 2 || digits == 0 || part[1] > 59 || part[2] > 74)
    throw EDiscError("not a time (mm:ss:ff): " + msf);
  return (part[0] * 60 + part[1]) * 75 + part[2];
}

TTrackMode ModeOf(const std::string& word) {
  const std::string w = Upper(word);
  if (w == "AUDIO") return TTrackMode::tmAudio;
  if (w == "MODE1/2048") return TTrackMode::tmMode1_2048;
  if (w == "MODE1/2352") return TTrackMode::tmMode1_2352;
  if (w == "MODE2/2352") return TTrackMode::tmMode2_2352;
  if (w == "MODE2/2336") return TTrackMode::tmMode2_2336;
  throw EDiscError("track mode not supported: " + word);
}

bool IsAscii(const std::string& s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

}  // namespace

const char* TrackModeName(TTrackMode mode) {
  switch (mode) {
    case TTrackMode::tmAudio:
      return "AUDIO";
    case TTrackMode::tmMode1_2048:
      return "MODE1/2048";
    case TTrackMode::tmMode1_2352:
      return "MODE1/2352";
    case TTrackMode::tmMode2_2352:
      return "MODE2/2352";
    case TTrackMode::tmMode2_2336:
      return "MODE2/2336";
  }
  return "?";
}

int SectorSize(TTrackMode mode) {
  switch (mode) {
    case TTrackMode::tmMode1_2048:
      return 2048;
    case TTrackMode::tmMode2_2336:
      return 2336;
    default:
      return 2352;
  }
}

int UserOffset(TTrackMode mode) {
  switch (mode) {
    case TTrackMode::tmMode1_2352:
      return 16;
    case TTrackMode::tmMode2_2352:
      return 24;
    case TTrackMode::tmMode2_2336:
      return 8;
    default:
      return 0;
  }
}

TCueSheet ParseCueSheet(const std::string& text) {
  TCueSheet sheet;
  size_t at = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::vector<std::string> w = Words(line);
    if (w.empty()) continue;
    const std::string command = Upper(w[0]);
    if (command == "FILE") {
      if (w.size() < 2 || w[1].empty()) throw EDiscError("a FILE line names no file");
      if (sheet.Files.size() >= kMaxFiles) throw EDiscError("more than 99 files");
      // Sheets written on Linux name their files in UTF-8, older ones in the Windows code page.
      std::string name = w[1];
      if (!IsAscii(name) && Cp932ToUtf8(Utf8ToCp932(name)) == name) name = Utf8ToCp932(name);
      sheet.Files.push_back(name);
    } else if (command == "TRACK") {
      if (sheet.Files.empty()) throw EDiscError("a TRACK line before any FILE line");
      if (w.size() < 3) throw EDiscError("a TRACK line without its mode");
      if (sheet.Tracks.size() >= kMaxTracks) throw EDiscError("more than 99 tracks");
      TDiscTrack track;
      track.Number = static_cast<int>(sheet.Tracks.size()) + 1;
      track.Mode = ModeOf(w[2]);
      track.FileIndex = static_cast<int>(sheet.Files.size()) - 1;
      track.Index1 = -1;
      sheet.Tracks.push_back(track);
    } else if (command == "INDEX" || command == "PREGAP") {
      if (sheet.Tracks.empty()) throw EDiscError(command + " before any TRACK line");
      TDiscTrack& track = sheet.Tracks.back();
      if (command == "PREGAP") {
        if (w.size() < 2) throw EDiscError("a PREGAP line without its length");
        track.Pregap = Frames(w[1]);
        continue;
      }
      if (w.size() < 3) throw EDiscError("an INDEX line without its time");
      const int64_t frames = Frames(w[2]);
      if (w[1] == "0" || w[1] == "00") {
        track.Index0 = frames;
      } else if (w[1] == "1" || w[1] == "01") {
        track.Index1 = frames;
      }
    }
  }
  if (sheet.Tracks.empty()) throw EDiscError("no TRACK line");
  for (size_t i = 0; i < sheet.Tracks.size(); ++i) {
    const TDiscTrack& t = sheet.Tracks[i];
    if (t.Index1 < 0) throw EDiscError("track " + std::to_string(t.Number) + " has no INDEX 01");
    if (t.Index0 > t.Index1)
      throw EDiscError("track " + std::to_string(t.Number) + ": INDEX 00 after INDEX 01");
    if (i > 0 && sheet.Tracks[i - 1].FileIndex == t.FileIndex &&
        (t.Index0 >= 0 ? t.Index0 : t.Index1) < sheet.Tracks[i - 1].Index1)
      throw EDiscError("track " + std::to_string(t.Number) + " starts before the track ahead of it");
  }
  return sheet;
}

}  // namespace vr
