// A platform that loses power: it keeps what of a folder has reached "the disk" (each file's data as of
// its last flush, each folder's entries as of its last flush) besides what the program sees, and at
// its N-th step (a flush, a rename, a removal) writes the folder back as the disk would hold it after a
// power cut and ends the process, as a crash would. Three ways for the disk to have behaved:
//   DropUnflushed: nothing unflushed reached it (a file is cut back to its flushed data, a name made,
//                  renamed or removed in a folder not flushed since is undone);
//   KeepAll:       everything did (the state a killed process leaves);
//   KeepSomeTorn:  the changes not yet flushed reached it in the order they were made, up to a random
//                  one, and the last write kept is torn at a random byte.
// Files and folders outside the folder pass through unwatched. Only for a forked child: the cut ends
// the process.
#pragma once

#ifndef _WIN32
#include <unistd.h>

#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "framework/forwardplatform.h"
#include "platform/dbcspath.h"

namespace vr {

class TPowerCutPlatform : public TForwardPlatform {
 public:
  enum class TMode { DropUnflushed, KeepAll, KeepSomeTorn };
  static constexpr int kCutStatus = 78;
  static constexpr TMode kModes[] = {TMode::DropUnflushed, TMode::KeepAll, TMode::KeepSomeTorn};

  // Everything below `root` (a folder) is watched; what is there now counts as on the disk.
  explicit TPowerCutPlatform(const std::string& root)
      : rootPath_(ExcludeTrailingBackslash(root)), root_(Key(rootPath_)) {
    disk_.Folders[root_];
    Scan(rootPath_);
  }

  // The `at`-th step from here on (counted from 1) cuts the power before it happens.
  void Arm(TMode mode, long at, uint32_t seed) {
    mode_ = mode;
    at_ = at;
    steps_ = 0;
    random_.seed(seed);
  }
  long Steps() const { return steps_; }

  THandle FileOpen(const std::string& name, uint16_t mode) override {
    const THandle h = TForwardPlatform::FileOpen(name, mode);
    if (h != kInvalidHandle) Track(h, Current().NodeAt(Key(name)));
    return h;
  }
  THandle FileCreate(const std::string& name, uint16_t share) override {
    const int existing = Watched(name) ? Current().NodeAt(Key(name)) : -1;
    const THandle h = TForwardPlatform::FileCreate(name, share);
    if (h == kInvalidHandle || !Watched(name)) return h;
    if (existing >= 0) {
      Log({TOp::Size, "", "", "", "", kNone, existing, 0, ""});
      Track(h, existing);
    } else {
      Track(h, Made(name));
    }
    return h;
  }
  THandle FileCreateNew(const std::string& name) override {
    const THandle h = TForwardPlatform::FileCreateNew(name);
    if (h != kInvalidHandle && Watched(name)) Track(h, Made(name));
    return h;
  }
  int32_t FileWrite(THandle h, const void* b, int32_t n) override {
    const int node = NodeOf(h);
    const int64_t at = node >= 0 ? TForwardPlatform::FileSeek(h, 0, TSeekOrigin::soCurrent) : 0;
    const int32_t done = TForwardPlatform::FileWrite(h, b, n);
    if (node >= 0 && done > 0)
      Log({TOp::Write, "", "", "", "", kNone, node, at, std::string(static_cast<const char*>(b), done)});
    return done;
  }
  bool FileSetSize(THandle h, int64_t size) override {
    const bool done = TForwardPlatform::FileSetSize(h, size);
    if (done && NodeOf(h) >= 0) Log({TOp::Size, "", "", "", "", kNone, NodeOf(h), size, ""});
    return done;
  }
  // Copies inside the system are not seen: the caller copies through memory instead.
  int64_t FileCopyRange(THandle from, int64_t fo, THandle to, int64_t too, int64_t count) override {
    return NodeOf(to) >= 0 ? -1 : TForwardPlatform::FileCopyRange(from, fo, to, too, count);
  }
  bool FileFlush(THandle h) override {
    const int node = NodeOf(h);
    if (node < 0) return TForwardPlatform::FileFlush(h);
    Step();
    for (TOp& op : ops_)
      if (op.Node == node) op.Durable = true;
    // The disk that matters here is the one above; the real one need not wait.
    return true;
  }
  bool FileFlushMany(const std::vector<THandle>& handles) override {
    bool all = true;
    for (THandle h : handles) all = FileFlush(h) && all;
    return all;
  }
  bool FolderFlush(const std::string& folder) override {
    const std::string key = Key(ExcludeTrailingBackslash(folder));
    if (!TTree::Below(key, root_)) return TForwardPlatform::FolderFlush(folder);
    Step();
    for (TOp& op : ops_)
      if (op.Kind == TOp::Entry && op.Folder == key) op.Durable = true;
    return true;
  }
  void FileClose(THandle h) override {
    handles_.erase(h);
    TForwardPlatform::FileClose(h);
  }

  bool DeleteFile(const std::string& n) override {
    if (!Watched(n)) return TForwardPlatform::DeleteFile(n);
    Step();
    const bool done = TForwardPlatform::DeleteFile(n);
    if (done) SetEntry(n, kNone);
    return done;
  }
  bool CreateDirectory(const std::string& n) override {
    const bool done = TForwardPlatform::CreateDirectory(n);
    if (done && Watched(n)) SetEntry(n, kFolder);
    return done;
  }
  bool RemoveDirectory(const std::string& n) override {
    if (!Watched(n)) return TForwardPlatform::RemoveDirectory(n);
    Step();
    const bool done = TForwardPlatform::RemoveDirectory(n);
    if (done) SetEntry(n, kNone);
    return done;
  }
  bool MoveFileReplace(const std::string& f, const std::string& t) override {
    if (!Watched(f) && !Watched(t)) return TForwardPlatform::MoveFileReplace(f, t);
    Step();
    const int value = Current().ValueAt(Key(ExcludeTrailingBackslash(f)));
    const bool done = TForwardPlatform::MoveFileReplace(f, t);
    if (!done) return false;
    // The new name first: a folder moved takes its entries from the old one.
    if (Watched(t)) {
      if (value == kFolder) {
        SetEntry(t, kFolder, Key(ExcludeTrailingBackslash(f)));
      } else if (value >= 0) {
        SetEntry(t, value);
      } else {
        const int node = Made(t);
        Log({TOp::Write, "", "", "", "", kNone, node, 0, ReadWhole(t)});
      }
    }
    if (Watched(f)) SetEntry(f, kNone);
    return done;
  }
  bool CopyFile(const std::string& f, const std::string& t, bool fail) override {
    const int existing = Watched(t) ? Current().NodeAt(Key(t)) : -1;
    const bool done = TForwardPlatform::CopyFile(f, t, fail);
    if (done && Watched(t)) {
      const int node = existing >= 0 ? existing : Made(t);
      Log({TOp::Size, "", "", "", "", kNone, node, 0, ""});
      Log({TOp::Write, "", "", "", "", kNone, node, 0, ReadWhole(t)});
    }
    return done;
  }

 private:
  static constexpr int kNone = -1;
  static constexpr int kFolder = -2;

  // A change: a folder's entry set (to a file node, a folder or nothing), or a file node's data.
  struct TOp {
    enum TKind { Entry, Write, Size } Kind;
    std::string Folder, Name, MovedFrom;  // Entry: keys of the folder and the name; a folder's old key
    std::string Shown;                    // Entry: the name as it is spelled
    int Value = kNone;                    // Entry
    int Node = -1;                        // Write, Size
    int64_t At = 0;                       // Write: offset; Size: the new size
    std::string Bytes;                    // Write
    bool Durable = false;
  };
  struct TEntry {
    std::string Shown;
    int Value = kNone;
  };
  // Folders by key with their entries by name key; file nodes' contents.
  struct TTree {
    std::map<std::string, std::map<std::string, TEntry>> Folders;
    std::vector<std::string> Data;

    int ValueAt(const std::string& key) const {
      const size_t slash = key.rfind('\\');
      const auto folder = Folders.find(key.substr(0, slash));
      if (slash == std::string::npos || folder == Folders.end()) return kNone;
      const auto entry = folder->second.find(key.substr(slash + 1));
      return entry == folder->second.end() ? kNone : entry->second.Value;
    }
    int NodeAt(const std::string& key) const {
      const int v = ValueAt(key);
      return v >= 0 ? v : -1;
    }
    void Apply(const TOp& op, size_t keepBytes) {
      if (op.Kind == TOp::Entry) {
        const std::string path = op.Folder + "\\" + op.Name;
        if (op.Value == kFolder || op.Value == kNone) {
          // A folder made anew is empty; one moved takes its entries along; one removed goes with them.
          std::map<std::string, std::map<std::string, TEntry>> moved;
          const std::string from = op.MovedFrom.empty() ? path : op.MovedFrom;
          for (auto it = Folders.lower_bound(from); it != Folders.end() && Below(it->first, from);) {
            if (!op.MovedFrom.empty()) moved[path + it->first.substr(from.size())] = it->second;
            it = Folders.erase(it);
          }
          if (op.Value == kFolder && ValueAt(path) != kFolder) {
            for (auto it = Folders.lower_bound(path); it != Folders.end() && Below(it->first, path);)
              it = Folders.erase(it);
            Folders[path];
            for (auto& [k, v] : moved) Folders[k] = v;
          }
        }
        if (!Folders.count(op.Folder)) return;  // its folder is not there on this disk
        if (op.Value == kNone)
          Folders[op.Folder].erase(op.Name);
        else
          Folders[op.Folder][op.Name] = {op.Shown, op.Value};
        return;
      }
      std::string& data = Data[static_cast<size_t>(op.Node)];
      if (op.Kind == TOp::Size) {
        data.resize(static_cast<size_t>(op.At));
      } else {
        const size_t n = std::min(keepBytes, op.Bytes.size());
        if (data.size() < static_cast<size_t>(op.At) + n) data.resize(static_cast<size_t>(op.At) + n);
        data.replace(static_cast<size_t>(op.At), n, op.Bytes, 0, n);
      }
    }
    static bool Below(const std::string& key, const std::string& folder) {
      return key == folder || (key.size() > folder.size() && key.compare(0, folder.size(), folder) == 0 &&
                               key[folder.size()] == '\\');
    }
  };

  std::string Key(const std::string& path) { return Inner().LowerCaseJ(path); }
  bool Watched(const std::string& path) {
    return TTree::Below(Key(ExcludeTrailingBackslash(path)), root_) &&
           Key(ExcludeTrailingBackslash(path)) != root_;
  }

  void Scan(const std::string& folder) {
    const auto list = Inner().ListFolder(folder);
    if (!list) return;
    for (const TFindData& f : *list) {
      const std::string path = folder + "\\" + f.Name;
      if (f.Attr & faDirectory) {
        disk_.Folders[Key(folder)][Key(f.Name)] = {f.Name, kFolder};
        disk_.Folders[Key(path)];
        Scan(path);
      } else {
        disk_.Folders[Key(folder)][Key(f.Name)] = {f.Name, static_cast<int>(disk_.Data.size())};
        disk_.Data.push_back(ReadWhole(path));
      }
    }
  }
  std::string ReadWhole(const std::string& path) {
    std::string out;
    const THandle h = Inner().FileOpen(path, fmOpenRead | fmShareDenyNone);
    if (h == kInvalidHandle) return out;
    char buffer[65536];
    for (int32_t n; (n = Inner().FileRead(h, buffer, sizeof buffer)) > 0;) out.append(buffer, n);
    Inner().FileClose(h);
    return out;
  }

  // The tree with every change applied: what the program sees.
  TTree& Current() {
    if (currentOps_ != ops_.size() || current_.Folders.empty()) {
      if (currentOps_ > ops_.size() || current_.Folders.empty()) {
        current_ = disk_;
        currentOps_ = 0;
      }
      for (; currentOps_ < ops_.size(); ++currentOps_) {
        current_.Data.resize(nodes_ + disk_.Data.size());
        current_.Apply(ops_[currentOps_], std::string::npos);
      }
    }
    return current_;
  }
  void Log(TOp op) { ops_.push_back(std::move(op)); }
  void SetEntry(const std::string& path, int value, const std::string& movedFrom = "") {
    const std::string key = Key(ExcludeTrailingBackslash(path));
    const size_t slash = key.rfind('\\');
    const std::string shown = ExtractFileName(ExcludeTrailingBackslash(path));
    Log({TOp::Entry, key.substr(0, slash), key.substr(slash + 1), movedFrom, shown, value, -1, 0, ""});
  }
  // A new, empty file node under `path`.
  int Made(const std::string& path) {
    const int node = static_cast<int>(disk_.Data.size() + nodes_++);
    SetEntry(path, node);
    return node;
  }
  void Track(THandle h, int node) {
    if (node >= 0) handles_[h] = node;
  }
  int NodeOf(THandle h) const {
    const auto it = handles_.find(h);
    return it == handles_.end() ? -1 : it->second;
  }

  void Step() {
    if (++steps_ == at_) Cut();
  }
  // Writes the disk as the power cut leaves it over the watched folder and ends the process.
  [[noreturn]] void Cut() {
    size_t keep = 0, unflushed = 0;
    for (const TOp& op : ops_) unflushed += op.Durable ? 0 : 1;
    if (mode_ == TMode::KeepAll) keep = unflushed;
    if (mode_ == TMode::KeepSomeTorn) keep = std::uniform_int_distribution<size_t>(0, unflushed)(random_);
    TTree disk = disk_;
    disk.Data.resize(disk_.Data.size() + nodes_);
    size_t kept = 0;
    for (const TOp& op : ops_) {
      if (!op.Durable && kept >= keep) continue;
      size_t bytes = std::string::npos;
      if (!op.Durable && ++kept == keep && mode_ == TMode::KeepSomeTorn && op.Kind == TOp::Write)
        bytes = std::uniform_int_distribution<size_t>(0, op.Bytes.size())(random_);
      disk.Apply(op, bytes);
    }
    Clear(rootPath_);
    Write(disk, root_, rootPath_);
    _exit(kCutStatus);
  }
  void Clear(const std::string& folder) {
    const auto list = Inner().ListFolder(folder);
    if (!list) return;
    for (const TFindData& f : *list) {
      const std::string path = folder + "\\" + f.Name;
      if ((f.Attr & faDirectory) && !(f.Attr & faReparsePoint)) {
        Clear(path);
        Inner().RemoveDirectory(path);
      } else {
        Inner().SetFileAttributes(path, faNormal);
        Inner().DeleteFile(path);
      }
    }
  }
  void Write(const TTree& disk, const std::string& key, const std::string& folder) {
    const auto entries = disk.Folders.find(key);
    if (entries == disk.Folders.end()) return;
    for (const auto& [name, entry] : entries->second) {
      const std::string path = folder + "\\" + entry.Shown;
      if (entry.Value == kFolder) {
        Inner().CreateDirectory(path);
        Write(disk, key + "\\" + name, path);
      } else if (entry.Value >= 0) {
        const THandle h = Inner().FileCreate(path, fmShareExclusive);
        const std::string& data = disk.Data[static_cast<size_t>(entry.Value)];
        if (!data.empty()) Inner().FileWrite(h, data.data(), static_cast<int32_t>(data.size()));
        Inner().FileClose(h);
      }
    }
  }

 private:
  std::string rootPath_;  // as the tests spell it
  std::string root_;      // its key
  TTree disk_;            // as it was when watching began
  std::vector<TOp> ops_;
  size_t nodes_ = 0;
  TTree current_;
  size_t currentOps_ = 0;
  std::map<THandle, int> handles_;
  TMode mode_ = TMode::KeepAll;
  long at_ = 0;
  long steps_ = 0;
  std::mt19937 random_;
};

}  // namespace vr
#endif
