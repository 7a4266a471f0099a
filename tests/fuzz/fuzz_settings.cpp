// install.dat reader: any bytes, then a save and reload that must reproduce what was read.
#include <cstddef>
#include <cstdint>

#include "framework/classes.h"
#include "startup/instset.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  vr::TMemoryStream in;
  if (size) in.WriteBuffer(data, static_cast<int32_t>(size));
  in.SetPosition(0);
  vr::TRovaInstallSet first;
  try {
    first.LoadFromStream(in);
  } catch (const vr::Exception&) {
    return 0;
  }
  // Whatever was read must survive a save and a load unchanged (empty installed-file names excepted).
  vr::TMemoryStream out;
  first.SaveToStream(out);
  out.SetPosition(0);
  vr::TRovaInstallSet second;
  second.LoadFromStream(out);
  if (second.SettingsVersion != 108 || second.Title != first.Title || second.DiskCount != first.DiskCount ||
      second.BaseSizes != first.BaseSizes || second.MovieSizeTotal != first.MovieSizeTotal ||
      second.PackageFiles.Items() != first.PackageFiles.Items() || second.LicenseText != first.LicenseText) {
    __builtin_trap();
  }
  return 0;
}
