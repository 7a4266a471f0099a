// The POSIX platform layer over a Wine prefix: what a Windows program run in that prefix would see.
//
// Drives are the prefix's dosdevices links ("c:" -> ../drive_c, "z:" -> /); the registry is the
// prefix's own files (system.reg for HKLM, user.reg for HKCU and the user's key below HKU, userdef.reg
// for HKU\.Default), written in Wine's text format; special folders are the prefix's (its user's
// profile, "Program Files (x86)" for the 32-bit programs of a 64-bit prefix, as the shipping setup
// program sees it). Everything else, shell links included, is the POSIX layer's.
//
// The Wine server keeps the registry in memory while it runs and writes its own copy over the files,
// so the files are written only while no server runs for the prefix: each write checks the server's
// lock and holds it while the file is replaced; a running server makes the write fail and
// ServerRunning() tell why.
#pragma once

#include <memory>
#include <string>

#include "platform/posix/posixplatform.h"

namespace vr {

class TWineRegistryFile;

// True while a Wine server runs for the prefix (a host folder): another process holds the lock in its
// server folder (/tmp/.wine-UID/server-DEV-INODE, or the folder Debian's Wine names in PFX/wineserver).
bool WineServerRunning(const std::string& prefix);

class TWinePrefixPlatform : public TPosixPlatform {
 public:
  // Opens an existing prefix (a host folder holding system.reg, user.reg and dosdevices); nullptr
  // with `error` set when it is not one.
  static std::unique_ptr<TWinePrefixPlatform> Open(const std::string& prefix, std::string& error);

  const std::string& Prefix() const { return prefix_; }
  // The letter of the drive holding the host path (the most specific mapping); 0 when none does or only
  // a drive that maps the whole host ("/") does.
  char DriveOf(const std::string& hostPath);
  // A registry write failed because a Wine server runs for the prefix.
  bool ServerWasRunning() const { return serverRunning_; }

  bool MoveFileDelayUntilReboot(const std::string& path) override;

  bool RegKeyExists(TRegRoot root, const std::string& path) override;
  TRegRead RegReadString(TRegRoot root, const std::string& path, const std::string& name,
                         std::string& value) override;
  bool RegWriteString(TRegRoot root, const std::string& path, const std::string& name,
                      const std::string& value) override;
  bool RegWriteDword(TRegRoot root, const std::string& path, const std::string& name,
                     uint32_t value) override;
  std::optional<std::vector<std::string>> RegSubKeyNames(TRegRoot root, const std::string& path) override;
  bool RegKeyHasValues(TRegRoot root, const std::string& path) override;
  bool RegDeleteKeyTree(TRegRoot root, const std::string& path) override;

  // Values of any kind (data as Windows keeps them: strings in UTF-16LE with their NUL); paths and names
  // in code page 932.
  bool WineRegRead(TRegRoot root, const std::string& path, const std::string& name, uint32_t& kind,
                   std::string& data);
  bool WineRegWrite(TRegRoot root, const std::string& path, const std::string& name, uint32_t kind,
                    const std::string& data);

 private:
  TWinePrefixPlatform(TPosixConfig config, std::string prefix);
  // The file holding `path` below `root` and the path inside it (UTF-8); empty when no file does.
  std::string FileFor(TRegRoot root, const std::string& path, std::string& inside);
  bool Load(const std::string& file, TWineRegistryFile& reg);
  template <class F>
  bool Update(TRegRoot root, const std::string& path, F&& change);

  std::string prefix_;
  std::string userSid_;
  bool serverRunning_ = false;
};

}  // namespace vr
