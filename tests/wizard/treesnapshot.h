// A folder's files and contents as a value, for tests that compare a folder before and after a run.
#pragma once

#include <map>
#include <string>

#include "platform/dbcspath.h"
#include "platform/platform.h"
#include "startup/syshelpers.h"
#include "support/tempdrive.h"
#include "wizard/installjournal.h"

namespace vr {
namespace treetest {

inline constexpr int32_t kJan2000 = (20 << 25) | (1 << 21) | (1 << 16);

// Every file below a folder with its content, and every folder (content "<dir>").
using TSnapshot = std::map<std::string, std::string>;
inline TSnapshot Snapshot(const TTempDrive& drive, const std::string& folder,
                          const std::string& prefix = "") {
  TSnapshot out;
  if (auto list = Platform().ListFolder(folder)) {
    for (const TFindData& f : *list) {
      const std::string path = AddTrailingBackslash(folder) + f.Name;
      if (f.Attr & faDirectory) {
        out[prefix + f.Name] = "<dir>";
        for (auto& [k, v] : Snapshot(drive, path, prefix + f.Name + "\\")) out[k] = v;
      } else {
        out[prefix + f.Name] = drive.ReadFile(path);
      }
    }
  }
  return out;
}

// The names whose content differs between two snapshots, for a failure message.
inline std::string Differences(const TSnapshot& a, const TSnapshot& b) {
  std::string out;
  for (const auto& [name, content] : a)
    if (!b.count(name) || b.at(name) != content) out += "\n  differs or new: " + name;
  for (const auto& [name, content] : b)
    if (!a.count(name)) out += "\n  missing: " + name;
  return out;
}

// Makes `folder` hold exactly what the snapshot holds, every file dated 2000-01-01 (so that the runs
// decide the same way about files that are as new as an entry).
inline void Restore(const TTempDrive& drive, const std::string& where, const TSnapshot& tree) {
  const std::string folder = AddTrailingBackslash(where);
  TTempDrive::RemoveTree(ExcludeTrailingBackslash(folder));
  TTempDrive::MakeFolders(ExcludeTrailingBackslash(folder));
  for (const auto& [name, content] : tree) {
    if (content == "<dir>") {
      TTempDrive::MakeFolders(folder + name);
      continue;
    }
    drive.WriteFile(folder.substr(drive.Folder().size()) + name, content);
    const THandle h = Platform().FileOpen(folder + name, fmOpenReadWrite);
    Platform().FileSetDosTime(h, static_cast<uint32_t>(kJan2000));
    Platform().FileClose(h);
  }
}

// No journal, backup or temporary file of a run.
inline bool NoDebris(const TSnapshot& tree) {
  for (const auto& [name, content] : tree)
    if (name.find(".~vr") != std::string::npos || name.find(kJournalName) != std::string::npos ||
        name.find(".tmp") != std::string::npos)
      return false;
  return true;
}

}  // namespace treetest
}  // namespace vr
