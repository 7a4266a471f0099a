#include "platform/platform.h"

#include <mutex>

namespace vr {

namespace {

std::mutex gPlatformLock;
std::unique_ptr<TPlatform> gHostPlatform;
TPlatform* gCurrent = nullptr;

TPlatform& HostPlatformLocked() {
  if (!gHostPlatform) gHostPlatform = CreateHostPlatform();
  return *gHostPlatform;
}

}  // namespace

TPlatform& Platform() {
  std::lock_guard<std::mutex> guard(gPlatformLock);
  if (gCurrent) return *gCurrent;
  return HostPlatformLocked();
}

TPlatform* SetPlatform(TPlatform* platform) {
  std::lock_guard<std::mutex> guard(gPlatformLock);
  TPlatform* previous = gCurrent;
  gCurrent = platform;
  // A caller that restores "nullptr" got nullptr back from its first call, meaning the host's platform.
  return previous;
}

}  // namespace vr
