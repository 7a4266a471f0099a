// list, cat, extract, verify, pack, merge, append: the archive commands.

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <unordered_set>

#include "archive/bigstreams.h"
#include "archive/vrfiles.h"
#include "archiveaccess.h"
#include "commands.h"
#include "console.h"
#include "extractrun.h"
#include "framework/classes.h"
#include "platform/dbcspath.h"
#include "platform/platform.h"
#ifndef _WIN32
#include "platform/posix/posixplatform.h"
#endif
#include "textconv.h"

namespace vrtool {
namespace {

const char* KindName(int kind) {
  switch (kind) {
    case 0:
      return "zlib";
    case 1:
      return "stored";
    case 2:
      return "scrambled";
    case 3:
      return "zlib+scrambled";
    default:
      return "stored?";
  }
}

std::string FormatDosTime(int32_t t) {
  if (t == 0) return "-                  ";
  uint32_t u = static_cast<uint32_t>(t);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u", 1980 + (u >> 25), (u >> 21) & 15,
                (u >> 16) & 31, (u >> 11) & 31, (u >> 5) & 63, (u & 31) * 2);
  return buf;
}

bool IsSuperseded(const std::string& name) { return !name.empty() && name[0] == '/'; }

bool ShowProgress(const Options& opt) { return !opt.Quiet && StderrIsTerminal(); }

}  // namespace

// Both forms are written entry by entry, so the output never has to fit in memory at once; the JSON
// text is what dump(2) of the whole document gives.
int CmdList(const ArchiveSource& src, bool json) {
  auto archive = OpenArchive(src);
  int version = DirectoryVersion(src);
  int n = EntryCount(*archive);
  if (json) {
    WriteStdout("{\n  \"version\": " + std::to_string(version) + ",\n  \"entries\": " + (n ? "[\n" : "[]"));
    for (int i = 0; i < n; ++i) {
      vr::TVrFile* e = archive->Items(i);
      nlohmann::ordered_json o;
      o["index"] = i;
      o["name"] = ToUtf8(e->Name());
      o["name_hex"] = HexBytes(e->Name());
      o["offset"] = e->Offset;
      o["size"] = e->Size;
      o["kind"] = e->Kind;
      o["time"] = e->Time;
      o["crc"] = e->CRC;
      o["separate"] = e->Separate;
      // The object two levels deep: every line indented by four more spaces (strings hold no newline).
      std::string text = "    ";
      for (char c : o.dump(2)) {
        text += c;
        if (c == '\n') text += "    ";
      }
      WriteStdout(text + (i + 1 < n ? ",\n" : "\n  ]"));
    }
    WriteStdout("\n}\n");
    return 0;
  }
  WriteStdout("directory version " + std::to_string(version) + ", " + std::to_string(n) +
              (n == 1 ? " entry\n" : " entries\n"));
  WriteStdout("index  kind            size        time                 crc       sep  name\n");
  for (int i = 0; i < n; ++i) {
    vr::TVrFile* e = archive->Items(i);
    char line[160];
    std::snprintf(line, sizeof line, "%5d  %-14s %12lld  %s  %08x  %s    ", i, KindName(e->Kind),
                  static_cast<long long>(e->Size), FormatDosTime(e->Time).c_str(), e->CRC,
                  e->Separate ? "S" : "-");
    WriteStdout(line + Printable(ToUtf8(e->Name())) + "\n");
  }
  return 0;
}

int CmdCat(const ArchiveSource& src, const std::string& name) {
  auto archive = OpenArchive(src);
  if (vr::TVrFile* e = FindEntry(*archive, name)) {
    DecodeEntry(*archive, *e, [](const uint8_t* data, size_t size) { WriteStdout(data, size); });
    return 0;
  }
  // Not in the directory: the reader's own lookup, with its loose-file fallback and its message.
  vr::TMemoryStream m;
  archive->ExtractToStream(m, ToCp932(name, "entry name"));
  WriteStdout(m.Memory(), static_cast<size_t>(m.Size()));
  return 0;
}

int CmdExtract(const ArchiveSource& src, const std::string& dir, const std::vector<std::string>& names,
               const Options& opt) {
  auto archive = OpenArchive(src);
#ifndef _WIN32
  // Only this run writes into the target folder as far as name matching is concerned.
  vr::TFolderListingScope listings;
#endif
  int failures = 0;
  std::vector<vr::TVrFile*> todo;
  if (names.empty()) {
    for (int i = 0, n = EntryCount(*archive); i < n; ++i) {
      if (!IsSuperseded(archive->Items(i)->Name())) todo.push_back(archive->Items(i));
    }
  } else {
    for (const std::string& name : names) {
      if (vr::TVrFile* e = FindEntry(*archive, name)) {
        todo.push_back(e);
      } else {
        PrintError(name + ": no such entry in the archive");
        ++failures;
      }
    }
  }
  std::string target = HostPathToCp932(dir, "folder name");
  uint32_t attr = vr::Platform().GetFileAttributes(target);
  if (attr == vr::faInvalid) {
    if (!vr::Platform().CreateDirectory(target)) throw ToolError(dir + ": the folder cannot be created");
  } else if (!(attr & vr::faDirectory)) {
    throw ToolError(dir + ": not a folder");
  }
  ProgressBar bar(ShowProgress(opt), "extract");
  failures += TExtractRun(*archive, target, bar).Run(todo);
  bar.Finish();
  if (failures)
    throw ToolError(std::to_string(failures) + (failures == 1 ? " entry was" : " entries were") +
                    " not extracted");
  return 0;
}

int CmdVerify(const ArchiveSource& src, const Options& opt) {
  auto archive = OpenArchive(src);
  int n = EntryCount(*archive);
  int64_t total = 0;
  for (int i = 0; i < n; ++i) {
    vr::TVrFile* e = archive->Items(i);
    if (e->CRC != 0 && !IsSuperseded(e->Name())) total += std::max<int64_t>(e->Size, 0);
  }
  ProgressBar bar(ShowProgress(opt), "verify");
  int checked = 0, unchecked = 0, bad = 0;
  int64_t before = 0;
  std::vector<uint8_t> buffer(1 << 20);
  for (int i = 0; i < n; ++i) {
    vr::TVrFile* e = archive->Items(i);
    if (IsSuperseded(e->Name())) continue;
    if (e->CRC == 0) {
      ++unchecked;
      continue;
    }
    std::string shown = Printable(ToUtf8(e->Name()));
    uint32_t crc = 0;
    std::string problem;
    try {
      if (e->Separate) {
        // A separate entry carries the checksum of its content, which the install run checks after
        // writing it out.
        DecodeEntry(
            *archive, *e,
            [&](const uint8_t* data, size_t size) {
              crc = vr::UpdateCRC(crc, data, static_cast<int64_t>(size));
            },
            [&](int64_t done) { bar.Update(before + done, total, shown); });
      } else {
        vr::TKoBigStream& data = *archive->DataStream;
        data.SetPosition(e->Offset);
        for (int64_t left = e->Size; left > 0;) {
          int64_t want = std::min<int64_t>(left, static_cast<int64_t>(buffer.size()));
          int64_t got = data.Read(buffer.data(), want);
          if (got <= 0) throw ToolError("the archive data ends before the entry does");
          crc = vr::UpdateCRC(crc, buffer.data(), got);
          left -= got;
          bar.Update(before + e->Size - left, total, shown);
        }
      }
      if (crc != e->CRC) problem = "checksum mismatch";
    } catch (const vr::Exception& ex) {
      problem = Localize(ToUtf8(ex.Message));
    } catch (const ToolError& ex) {
      problem = ex.what();
    }
    before += std::max<int64_t>(e->Size, 0);
    ++checked;
    if (!problem.empty()) {
      bar.Finish();
      WriteStdout("BAD  " + shown + ": " + problem + "\n");
      ++bad;
    }
  }
  bar.Finish();
  WriteStdout(std::to_string(checked) + " checked, " + std::to_string(unchecked) + " without checksum, " +
              std::to_string(bad) + " bad\n");
  return bad ? 1 : 0;
}

}  // namespace vrtool
