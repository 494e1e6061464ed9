#include "card/virtual_time.h"

#include <chrono>

namespace rk350::card {

VirtualTime::VirtualTime() : hostOrigin_(HostSeconds()) {}

double VirtualTime::HostSeconds() {
  using Clock = std::chrono::steady_clock;
  return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

double VirtualTime::Now() const { return followHost_ ? HostSeconds() - hostOrigin_ : manualNow_; }

void VirtualTime::FollowHostClock() {
  if (followHost_) return;
  // Continue from the manual time so that time never runs backwards.
  hostOrigin_ = HostSeconds() - manualNow_;
  followHost_ = true;
}

void VirtualTime::SetManual(double seconds) {
  manualNow_ = seconds;
  followHost_ = false;
}

void VirtualTime::Advance(double seconds) {
  if (followHost_) {
    hostOrigin_ -= seconds;  // jump ahead of the host clock
  } else {
    manualNow_ += seconds;
  }
}

}  // namespace rk350::card
