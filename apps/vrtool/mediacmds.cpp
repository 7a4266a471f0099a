// media build and media check: a studio's project turned into media, and a set of media checked before
// it goes to the press.
#include <cstdio>
#include <map>

#include "archive/vrfiles.h"
#include "commands.h"
#include "console.h"
#include "discmedia.h"
#include "mediabuild.h"
#include "platform/dbcspath.h"
#include "startup/instset.h"
#include "startup/syshelpers.h"
#include "textconv.h"

namespace vrtool {
namespace {

std::string Thousands(int64_t v) { return ToUtf8(vr::FormatThousands(v)); }

std::string Row(const std::string& a, const std::string& b, const std::string& c, const std::string& d,
                const std::string& e) {
  char line[256];
  std::snprintf(line, sizeof line, "%-8s %7s %15s %15s %15s\n", a.c_str(), b.c_str(), c.c_str(), d.c_str(),
                e.c_str());
  return line;
}

}  // namespace

int CmdMediaBuild(const MediaBuildOptions& mo, const Options& opt) {
  const TMediaProject project = LoadMediaProject(mo.Project, mo.Setup);
  TMediaBuildOptions options;
  options.Iso = mo.Iso;
  options.Threads = mo.Threads;
  options.Progress = !opt.Quiet && StderrIsTerminal();
  const std::vector<TBuiltMedium> media = BuildMedia(project, mo.Out, options);
  std::string table = Row("medium", "files", "bytes", "disc bytes", "free");
  for (const TBuiltMedium& m : media)
    table += Row(m.Name, std::to_string(m.Files), Thousands(m.Bytes), Thousands(m.DiscBytes),
                 Thousands(project.Capacity - m.DiscBytes));
  table += std::to_string(media.size()) + (media.size() == 1 ? " medium" : " media") + " of " +
           Thousands(project.Capacity) + " bytes written to " + mo.Out +
           (mo.Iso ? " (folders and ISO images)" : "") + "\n";
  WriteStdout(table);
  return 0;
}

int CmdMediaCheck(const std::vector<std::string>& media, const Options&) {
  struct TMedium {
    std::string Shown, Folder;
    vr::TRovaInstallSet Settings;
  };
  std::vector<std::unique_ptr<TMedium>> all;
  std::vector<std::string> problems;
  for (const std::string& named : media) {
    auto m = std::make_unique<TMedium>();
    m->Shown = named;
    if (IsDiscImage(named)) {
      m->Folder = MountImage(named);
    } else {
      m->Folder = vr::AddTrailingBackslash(HostPathToCp932(named, "folder name"));
      if (!vr::DirectoryExists(m->Folder))
        throw ToolError(named + ": neither a disc image nor a medium folder");
    }
    if (!vr::FileExists(m->Folder + vr::kSettingsFileName)) {
      problems.push_back(named + ": no install.dat");
      continue;
    }
    m->Settings.LoadFromFile(m->Folder + vr::kSettingsFileName);
    all.push_back(std::move(m));
  }
  std::map<int32_t, const TMedium*> byIndex;
  const vr::TRovaInstallSet* first = all.empty() ? nullptr : &all.front()->Settings;
  for (const auto& m : all) {
    const vr::TRovaInstallSet& s = m->Settings;
    const std::string at = m->Shown + ": ";
    if (s.Uninstaller) problems.push_back(at + "an installed game, not a medium");
    if (s.Title != first->Title)
      problems.push_back(at + "another title (\"" + ToUtf8(s.Title) + "\", not \"" + ToUtf8(first->Title) +
                         "\")");
    if (s.DiskCount != first->DiskCount)
      problems.push_back(at + "says " + std::to_string(s.DiskCount) + " media, " + all.front()->Shown +
                         " says " + std::to_string(first->DiskCount));
    if (s.DiskIndex < 0 || s.DiskIndex >= s.DiskCount) {
      problems.push_back(at + "disc " + std::to_string(s.DiskIndex + 1) + " of " +
                         std::to_string(s.DiskCount));
      continue;
    }
    if (!byIndex.emplace(s.DiskIndex, m.get()).second)
      problems.push_back(at + "disc " + std::to_string(s.DiskIndex + 1) + " again (also " +
                         byIndex[s.DiskIndex]->Shown + ")");
    if (s.BaseSizes != first->BaseSizes || s.DataSizes != first->DataSizes ||
        s.SoundSizes != first->SoundSizes || s.MovieSizes != first->MovieSizes)
      problems.push_back(at + "its size lists differ from those of " + all.front()->Shown);
    int64_t base = 0, data = 0, sound = 0, movie = 0;
    for (int32_t i = 0; i < s.DiskCount; ++i) {
      base += s.BaseSizes[static_cast<size_t>(i)];
      data += s.DataSizes[static_cast<size_t>(i)];
      sound += s.SoundSizes[static_cast<size_t>(i)];
      movie += s.MovieSizes[static_cast<size_t>(i)];
    }
    if (base != s.BaseSizeTotal || data != s.DataSizeTotal || sound != s.SoundSizeTotal ||
        movie != s.MovieSizeTotal)
      problems.push_back(at + "the size totals are not the sums of the per-medium sizes");

    if (!vr::FileExists(m->Folder + vr::kDataFileName)) {
      problems.push_back(at + "no game.dat");
    } else {
      vr::TVrFileCollection archive;
      archive.Open(m->Folder + vr::kDataFileName);
      if (!archive.VerifyData()) problems.push_back(at + "game.dat: an entry does not match its checksum");
    }
    const TMediumSizes counted = CountMedium(m->Folder, s);
    const auto i = static_cast<size_t>(s.DiskIndex);
    const std::pair<const char*, std::pair<int64_t, int64_t>> groups[] = {
        {"BaseSizes", {s.BaseSizes[i], counted.Base}},
        {"DataSizes", {s.DataSizes[i], counted.Data}},
        {"SoundSizes", {s.SoundSizes[i], counted.Sound}},
        {"MovieSizes", {s.MovieSizes[i], counted.Movie}}};
    for (const auto& g : groups)
      if (g.second.first != g.second.second)
        problems.push_back(at + g.first + "[" + std::to_string(i) + "] is " + Thousands(g.second.first) +
                           ", the medium holds " + Thousands(g.second.second));
  }
  if (first)
    for (int32_t i = 0; i < first->DiskCount; ++i)
      if (!byIndex.count(i))
        problems.push_back("disc " + std::to_string(i + 1) + " of " + std::to_string(first->DiskCount) +
                           " is missing");

  std::string report;
  for (const auto& [index, m] : byIndex)
    report += "disc " + std::to_string(index + 1) + " of " + std::to_string(m->Settings.DiskCount) + ": " +
              m->Shown + "\n";
  for (const std::string& p : problems) report += "problem: " + p + "\n";
  report += problems.empty()
                ? "the media are complete and agree with their install.dat\n"
                : std::to_string(problems.size()) + (problems.size() == 1 ? " problem\n" : " problems\n");
  WriteStdout(report);
  return problems.empty() ? 0 : 1;
}

}  // namespace vrtool
