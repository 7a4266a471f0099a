// Shared pieces of the run tests: a host that answers by script, and a package on one or more media.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "archive/bigstreams.h"
#include "archive/vrfiles.h"
#include "archive/vrfiles_testutil.h"
#include "framework/forms.h"
#include "startup/instset.h"
#include "support/tempdrive.h"
#include "wizard/runhost.h"

namespace vr {
namespace runtest {

// Answers by script and records what a run showed. A question nobody scripted fails the test.
class TScriptHost : public TRunHost {
 public:
  std::string Heading, Status;
  int32_t RangeMax = -1, Position = -1;
  // mrAbort: the user's confirmed abort.
  int ModalResult = mrNone;
  bool ProgressHidden = false;
  std::vector<std::string> Warnings, Errors, Prompts, Questions, Logged, Statuses;
  std::vector<uint32_t> Waits;
  // Medium prompt: true for OK. Questions: true for Yes.
  std::function<bool(const std::string&)> OnPrompt;
  std::deque<bool> ConfirmAnswers;
  // Called at every chance the run gives the user to act.
  std::function<void(TScriptHost&)> OnProcess;

  void SetHeading(const std::string& t) override { Heading = t; }
  void SetStatus(const std::string& t) override {
    Status = t;
    Statuses.push_back(t);
  }
  void SetProgressRange(int32_t max) override { RangeMax = max; }
  void SetProgressPosition(int32_t position) override { Position = position; }
  void HideProgress() override { ProgressHidden = true; }
  void ProcessMessages() override {
    if (OnProcess) OnProcess(*this);
  }
  void Wait(uint32_t ms) override { Waits.push_back(ms); }
  void Log(const std::string& line) override { Logged.push_back(line); }
  bool AbortRequested() override { return ModalResult == mrAbort; }
  bool PromptMedium(const std::string& text) override {
    Prompts.push_back(text);
    if (!OnPrompt) ADD_FAILURE() << "unexpected medium prompt";
    return OnPrompt ? OnPrompt(text) : false;
  }
  bool Confirm(const std::string& text) override {
    Questions.push_back(text);
    if (ConfirmAnswers.empty()) {
      ADD_FAILURE() << "unexpected question";
      return true;
    }
    const bool yes = ConfirmAnswers.front();
    ConfirmAnswers.pop_front();
    return yes;
  }
  void Warning(const std::string& text) override { Warnings.push_back(text); }
  void ShowError(const std::string& text) override { Errors.push_back(text); }
};

// One medium of a package: its loose files and its archive's entries.
struct TMedium {
  std::map<std::string, std::string> Loose;  // relative name -> content
  std::vector<vrtest::RawEntry> Entries;
};

// A package with unique title and registry key; its media are written into a medium folder.
class TTestPackage {
 public:
  explicit TTestPackage(const TTempDrive& drive) : drive_(drive) {
    static std::atomic<int> serial{0};
    const std::string n = std::to_string(serial++);
    Settings.Title = "月の詩" + n;
    Settings.RegistryKey =
        "VrRunTest\\Moon" + n + "-" + ExtractFileName(ExcludeTrailingBackslash(drive.Folder()));
    Settings.GameExe = "moon.exe";
    Settings.SetDiskCount(1);
  }
  ~TTestPackage() { Settings.DeleteSettingsKey(); }

  TRovaInstallSet Settings;
  std::vector<TMedium> Media{TMedium{}};

  // Lists every loose file of every medium as a package file.
  void ListPackageFiles() {
    Settings.PackageFiles.Clear();
    for (const TMedium& m : Media)
      for (const auto& f : m.Loose) Settings.PackageFiles.Add(LowerCaseAscii(f.first));
  }

  // Writes medium `index` into `folder` (emptied first), with settings naming that medium.
  void WriteMedium(int index, const std::string& folder) {
    TTempDrive::RemoveTree(drive_.PathOf(folder));
    Settings.DiskIndex = index;
    Settings.SetDiskCount(static_cast<int32_t>(Media.size()));
    TMemoryStream m;
    Settings.SaveToStream(m);
    drive_.WriteFile(folder + "\\install.dat", vrtest::MemoryText(m));
    {
      // Through a big stream, so that the archive is split like a real one under a small part size.
      const std::string archive = vrtest::BuildArchive(102, Media[static_cast<size_t>(index)].Entries);
      TKoBigFileStream out(drive_.PathOf(folder + "\\game.dat"), fmCreate);
      out.WriteBuffer(archive.data(), static_cast<int64_t>(archive.size()));
    }
    for (const auto& f : Media[static_cast<size_t>(index)].Loose)
      drive_.WriteFile(folder + "\\" + f.first, f.second);
    Settings.DiskIndex = 0;
  }

 private:
  const TTempDrive& drive_;
};

// A separate entry: stored bytes with the checksum of its content.
inline vrtest::RawEntry Separate(const std::string& name, const std::string& content, int32_t time) {
  vrtest::RawEntry e = vrtest::Stored(name, content, time);
  e.separate = 1;
  return e;
}

}  // namespace runtest
}  // namespace vr
