// vrtool: list, extract, check and build game archives, install settings and layered images.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "archive/vrfiles.h"
#include "commands.h"
#include "console.h"
#include "discmedia.h"
#include "framework/classes.h"
#include "framework/sysutils.h"
#include "platform/codepage.h"
#include "textconv.h"

namespace vrtool {
namespace {

// ARCHIVE is the first positional unless --resource named the executable.
ArchiveSource TakeArchive(const std::string& resource, std::vector<std::string>& positionals) {
  ArchiveSource src;
  if (!resource.empty()) {
    src.Path = resource;
    src.Resource = true;
    return src;
  }
  if (positionals.empty()) throw CLI::RequiredError("ARCHIVE");
  src.Path = positionals.front();
  positionals.erase(positionals.begin());
  ResolveImageSource(src);  // IMAGE or IMAGE:PATH
  return src;
}

int Run(const std::vector<std::string>& args) {
  // Files opened only for reading ask for read access alone, as in setup.exe: read-only media and
  // files work (an install's progress counts their sizes).
  vr::FileMode = vr::fmOpenRead;
  CLI::App app{"vrtool: game archives, install settings and layered images"};
  app.name("vrtool");
  app.require_subcommand(1);
  app.fallthrough();
  Options opt;
  app.add_flag("-q,--quiet", opt.Quiet, "no progress bar");

  std::string resource;
  std::vector<std::string> pos;
  bool json = false;
  auto addResource = [&](CLI::App* cmd) {
    cmd->add_option("--resource", resource, "read the archive from the DUMMY/BINTYPE resource of EXE")
        ->type_name("EXE");
  };

  auto* list = app.add_subcommand("list", "list the entries of an archive");
  list->add_flag("--json", json, "JSON output");
  addResource(list);
  list->add_option("ARCHIVE", pos);

  auto* cat = app.add_subcommand("cat", "write an entry's content to standard output");
  addResource(cat);
  cat->add_option("ARGS", pos, "ARCHIVE NAME");

  std::string dir = ".";
  auto* extract = app.add_subcommand("extract", "extract all or the named entries");
  extract->add_option("-C", dir, "target folder")->type_name("DIR");
  addResource(extract);
  extract->add_option("ARGS", pos, "ARCHIVE [NAME...]");

  auto* verify = app.add_subcommand("verify", "check the checksums of every entry");
  addResource(verify);
  verify->add_option("ARCHIVE", pos);

  bool scramble = false;
  std::vector<std::string> separate;
  std::string out;
  auto* pack = app.add_subcommand("pack", "pack every file below DIR into an archive");
  pack->add_flag("--scramble", scramble, "scramble every entry");
  pack->add_option("--separate", separate, "mark the entry NAME as a separate file")->type_name("NAME");
  pack->add_option("-o", out, "output archive")->required()->type_name("OUT");
  unsigned threads = 0;
  pack->add_option("--threads", threads, "threads that compress entries (default: one per processor)")
      ->type_name("N");
  pack->add_option("DIR", pos)->required();

  auto* merge = app.add_subcommand("merge", "merge the newer entries of SOURCE into DATAFILE");
  addResource(merge);
  merge->add_option("ARGS", pos, "DATAFILE SOURCE");

  auto* append = app.add_subcommand("append", "append an archive to a program");
  append->add_option("ARGS", pos, "PROGRAM ARCHIVE")->expected(2);

  InstallOptions installOpt;
  auto* install = app.add_subcommand(
      "install", "install a package into DIR (shortcuts and registry only in a Wine prefix)");
  install
      ->add_option("-d", installOpt.Destination,
                   "install folder (with --wine-prefix: default the proposed one)")
      ->type_name("DIR");
  install
      ->add_option("--wine-prefix", installOpt.WinePrefix,
                   "install into this Wine prefix, shortcuts and registry too")
      ->type_name("PFX");
  install->add_flag("--no-fonts", installOpt.NoFonts, "with --wine-prefix: do not link Japanese fonts");
  install->add_option("--components", installOpt.Components, "file groups: data,sound,movie (default all)");
  install->add_option("--media-dirs", installOpt.MediaDirs, "folders of the further media, separated by ;");
  install->add_option("--log", installOpt.LogFile, "write a log of every step")->type_name("FILE");
  install
      ->add_option("MEDIUM", pos,
                   "package folders or disc images (ISO, CUE, MDS, CCD, NRG), the first one first")
      ->required();

  UninstallOptions uninstallOpt;
  auto* uninstall = app.add_subcommand(
      "uninstall", "remove an installed game from DIR (shortcuts and registry only in a Wine prefix)");
  uninstall->add_flag("--delete-save", uninstallOpt.DeleteSave, "also delete the save data");
  uninstall->add_option("--log", uninstallOpt.LogFile, "write a log of every step")->type_name("FILE");
  uninstall
      ->add_option("--wine-prefix", uninstallOpt.WinePrefix,
                   "remove the shortcuts and registry values there too")
      ->type_name("PFX");
  uninstall->add_option("DIR", pos)->required()->expected(1);

  CheckOptions checkOpt;
  auto* check = app.add_subcommand("check", "check an installed game in DIR, against its media when given");
  auto* repair = app.add_subcommand("repair", "repair an installed game in DIR from its media");
  for (CLI::App* c : {check, repair}) {
    c->add_option("--medium", checkOpt.Medium, "the package folder of the first medium")->type_name("DIR");
    c->add_option("--media-dirs", checkOpt.MediaDirs, "folders of the further media, separated by ;");
    c->add_option("--log", checkOpt.LogFile, "write a log of every step")->type_name("FILE");
    c->add_flag("--json", checkOpt.Json, "the report as JSON");
    c->add_option("DIR", pos)->required()->expected(1);
  }
  repair->get_option("--medium")->required();

  StartOptions startOpt;
  auto* start = app.add_subcommand("start", "start an installed game under Wine in a Japanese locale");
  start->add_option("--wine-prefix", startOpt.WinePrefix, "the Wine prefix of the game")->type_name("PFX");
  start->add_option("--wine", startOpt.Wine, "the Wine program (default: wine on PATH)")->type_name("PATH");
  start->add_flag("--desktop-entry", startOpt.DesktopEntry, "write a desktop launcher instead of starting");
  start->add_option("ARGS", pos, "DIR [-- ARGUMENTS...]")->required();

  bool fromArchive = false;
  auto* settings = app.add_subcommand("settings", "install settings (install.dat)");
  settings->require_subcommand(1);
  auto* show = settings->add_subcommand("show", "print an install.dat");
  show->add_flag("--json", json, "JSON output");
  show->add_flag("--archive", fromArchive, "FILE is an archive holding install.dat");
  show->add_option("FILE", pos)->required()->expected(1);
  auto* build = settings->add_subcommand("build", "write an install.dat from JSON");
  build->add_option("JSON", pos)->required()->expected(1);
  build->add_option("-o", out, "output file")->required()->type_name("FILE");

  auto* disc = app.add_subcommand("disc", "disc images (ISO 9660, BIN/CUE, MDS/MDF, CCD/IMG, NRG)");
  disc->require_subcommand(1);
  auto* discInfo = disc->add_subcommand("info", "the volume, file system, tracks and package of an image");
  discInfo->add_option("IMAGE", pos)->required()->expected(1);
  auto* discConvert = disc->add_subcommand("convert", "write the first data track of IMAGE as a plain ISO");
  discConvert->add_option("IMAGE", pos)->required()->expected(1);
  discConvert->add_option("-o", out, "the ISO to write")->required()->type_name("OUT");
  std::string datFile;
  auto* discVerify = disc->add_subcommand("verify", "check the files of images against a DAT of good dumps");
  discVerify->add_option("--dat", datFile, "the catalogue (Logiqx XML DAT)")->required()->type_name("FILE");
  discVerify->add_option("IMAGE", pos)->required();

  MediaBuildOptions mediaOpt;
  auto* media = app.add_subcommand("media", "media of a game: build them from a project file, check them");
  media->require_subcommand(1);
  auto* mediaBuild = media->add_subcommand("build", "write the media of PROJECT into OUT/disc1 ...");
  mediaBuild->add_option("PROJECT", mediaOpt.Project, "the project file (JSON)")->required();
  mediaBuild->add_option("-o", mediaOpt.Out, "output folder (new or empty)")->required()->type_name("OUT");
  mediaBuild->add_flag("--iso", mediaOpt.Iso,
                       "also write an ISO 9660 image of each medium (OUT/disc1.iso ...)");
  mediaBuild->add_option("--setup", mediaOpt.Setup, "the setup program, in place of the project's")
      ->type_name("PATH");
  mediaBuild
      ->add_option("--threads", mediaOpt.Threads,
                   "threads that compress entries (default: one per processor)")
      ->type_name("N");
  auto* mediaCheck = media->add_subcommand("check", "check a set of media before it goes to the press");
  mediaCheck->add_option("MEDIUM", pos, "medium folders or disc images")->required();

  // The settings keep the seed as a signed value; both spellings of the same 32 bits are accepted.
  int64_t seed = 0;
  int frame = 0;
  auto* image = app.add_subcommand("image", "layered images");
  image->require_subcommand(1);
  auto* info = image->add_subcommand("info", "describe a layered image");
  info->add_option("--seed", seed, "identification code")
      ->check(CLI::Range(INT64_C(-2147483648), INT64_C(4294967295)));
  info->add_option("FILE", pos)->required()->expected(1);
  auto* convert = image->add_subcommand("convert", "write one frame as PNG, PPM or PAM");
  convert->add_option("--seed", seed, "identification code")
      ->check(CLI::Range(INT64_C(-2147483648), INT64_C(4294967295)));
  convert->add_option("--frame", frame, "frame index")->check(CLI::NonNegativeNumber);
  convert->add_option("ARGS", pos, "FILE OUT")->expected(2);

  // start hands what follows "--" to the game untouched.
  std::vector<std::string> words = args, gameArgs;
  const auto dashes = std::find(words.begin(), words.end(), std::string("--"));
  if (dashes != words.end() && std::find(words.begin(), dashes, std::string("start")) != dashes) {
    gameArgs.assign(dashes + 1, words.end());
    words.erase(dashes, words.end());
  }
  std::vector<std::string> argv(words.rbegin(), words.rend());
  argv.pop_back();  // program name
  // The first word that is no option names the command: a misspelt one is named in the message.
  for (auto it = argv.rbegin(); it != argv.rend(); ++it) {
    if (it->empty() || (*it)[0] == '-') continue;
    bool known = false;
    for (const CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; }))
      known = known || sub->get_name() == *it;
    if (!known) {
      PrintError("unknown command \"" + *it +
                 "\" (commands: list, cat, extract, verify, pack, merge, append, install, uninstall, check, "
                 "repair, start, settings, image, disc, media)");
      std::fputs("Run 'vrtool --help' for the commands.\n", stderr);
      return 2;
    }
    break;
  }
  try {
    app.parse(argv);
    auto need = [&](size_t count, const char* usage) {
      if (pos.size() != count) throw CLI::ValidationError(std::string("usage: vrtool ") + usage);
    };
    if (list->parsed()) {
      ArchiveSource src = TakeArchive(resource, pos);
      need(0, "list [--json] ARCHIVE");
      return CmdList(src, json);
    }
    if (cat->parsed()) {
      ArchiveSource src = TakeArchive(resource, pos);
      need(1, "cat ARCHIVE NAME");
      return CmdCat(src, pos[0]);
    }
    if (extract->parsed()) {
      ArchiveSource src = TakeArchive(resource, pos);
      return CmdExtract(src, dir, pos, opt);
    }
    if (verify->parsed()) {
      ArchiveSource src = TakeArchive(resource, pos);
      need(0, "verify ARCHIVE");
      if (!src.ImageRoot.empty()) return CmdVerifyDisc(src, opt);
      return CmdVerify(src, opt);
    }
    if (pack->parsed()) {
      need(1, "pack [--scramble] [--separate NAME]... [--threads N] -o OUT DIR");
      return CmdPack(pos[0], out, scramble, separate, threads, opt);
    }
    if (merge->parsed()) {
      if (pos.empty()) throw CLI::ValidationError("usage: vrtool merge DATAFILE SOURCE");
      std::string data = pos.front();
      pos.erase(pos.begin());
      ArchiveSource src = TakeArchive(resource, pos);
      need(0, "merge DATAFILE SOURCE");
      return CmdMerge(data, src, opt);
    }
    if (append->parsed()) return CmdAppend(pos[0], pos[1]);
    if (install->parsed()) {
      if (installOpt.Destination.empty() && installOpt.WinePrefix.empty())
        throw CLI::ValidationError("-d: the install folder is required (without --wine-prefix)");
      installOpt.Medium = pos[0];
      installOpt.MoreMedia.assign(pos.begin() + 1, pos.end());
      return CmdInstall(installOpt, opt);
    }
    if (uninstall->parsed()) {
      uninstallOpt.GameFolder = pos[0];
      return CmdUninstall(uninstallOpt, opt);
    }
    if (check->parsed() || repair->parsed()) {
      checkOpt.GameFolder = pos[0];
      return check->parsed() ? CmdCheck(checkOpt, opt) : CmdRepair(checkOpt, opt);
    }
    if (start->parsed()) {
      startOpt.GameFolder = pos[0];
      startOpt.Arguments.assign(pos.begin() + 1, pos.end());
      startOpt.Arguments.insert(startOpt.Arguments.end(), gameArgs.begin(), gameArgs.end());
      return CmdStart(startOpt, opt);
    }
    if (show->parsed()) return CmdSettingsShow(pos[0], fromArchive, json);
    if (build->parsed()) return CmdSettingsBuild(pos[0], out);
    if (discInfo->parsed()) return CmdDiscInfo(pos[0]);
    if (discConvert->parsed()) return CmdDiscConvert(pos[0], out, opt);
    if (discVerify->parsed()) return CmdDiscVerifyDat(pos, datFile, opt);
    if (mediaBuild->parsed()) return CmdMediaBuild(mediaOpt, opt);
    if (mediaCheck->parsed()) return CmdMediaCheck(pos, opt);
    if (info->parsed()) return CmdImageInfo(pos[0], static_cast<uint32_t>(seed));
    if (convert->parsed()) return CmdImageConvert(pos[0], static_cast<uint32_t>(seed), frame, pos[1]);
    throw CLI::ValidationError("no command given");
  } catch (const CLI::CallForHelp&) {
    WriteStdout(app.help());
    return 0;
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) {
      // --help on a subcommand
      app.exit(e);
      return 0;
    }
    PrintError(e.what());
    std::fputs("Run 'vrtool --help' for the commands.\n", stderr);
    return 2;
  }
}

}  // namespace
}  // namespace vrtool

static int Main(const std::vector<std::string>& args) {
  vrtool::InitConsole();
  vrtool::InstallCleanupHandlers();
  // The writer names the entry it failed on before its error propagates.
  vr::SetVrErrorReporter(
      [](const std::string& message) { vrtool::PrintError(vrtool::Localize(vrtool::ToUtf8(message))); });
  try {
    int status = vrtool::Run(args);
    if (std::fflush(stdout) != 0) throw vrtool::ToolError("cannot write to standard output");
    return status;
  } catch (const vr::Exception& e) {
    // Messages of the libraries are code page 932 text.
    vrtool::PrintError(vrtool::Localize(vrtool::ToUtf8(e.Message)));
  } catch (const std::bad_alloc&) {
    vrtool::PrintError("out of memory");
  } catch (const std::exception& e) {
    vrtool::PrintError(e.what());
  }
  return 2;
}

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) {
    std::u16string w;
    for (const wchar_t* p = argv[i]; *p; ++p) w += static_cast<char16_t>(*p);
    args.push_back(vr::Utf16ToUtf8(w));
  }
  return Main(args);
}
#else
int main(int argc, char** argv) { return Main(std::vector<std::string>(argv, argv + argc)); }
#endif
