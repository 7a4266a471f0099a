#include "platform/platform.h"

#include <atomic>
#include <mutex>

namespace vr {

namespace {

std::mutex gPlatformLock;
std::unique_ptr<TPlatform> gHostPlatform;
TPlatform* gCurrent = nullptr;
std::atomic<TOwnerWindowSource> gOwnerSource{nullptr};

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

void SetOwnerWindowSource(TOwnerWindowSource source) { gOwnerSource = source; }

intptr_t OwnerWindow() {
  const TOwnerWindowSource source = gOwnerSource;
  return source ? source() : 0;
}

std::vector<std::string> SplitZeroList(const std::string& list) {
  std::vector<std::string> names;
  size_t start = 0;
  while (start < list.size()) {
    size_t end = list.find('\0', start);
    if (end == std::string::npos) end = list.size();
    if (end == start) break;  // the empty name that ends the list
    names.push_back(list.substr(start, end - start));
    start = end + 1;
  }
  return names;
}

}  // namespace vr
