// A platform that passes every call to the one that is current when it is made (the test drive's, or the
// real one under Windows) and installs itself; tests derive from it and override the few answers they
// want to force.
#pragma once

#include "platform/forwardingplatform.h"

namespace vr {

class TForwardPlatform : public TForwardingPlatform {
 public:
  // Wraps the platform that is current now and installs itself; the destructor restores it.
  TForwardPlatform() : TForwardingPlatform(Platform()) { previous_ = SetPlatform(this); }
  ~TForwardPlatform() override { SetPlatform(previous_); }

 private:
  TPlatform* previous_ = nullptr;
};

}  // namespace vr
