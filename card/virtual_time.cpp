#include "card/virtual_time.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>

namespace rk350::card {

namespace {
// Card time stays a finite number whatever a host asks for: an undefined
// time is ignored and an infinite one stops at the largest finite time.
constexpr double kLatest = std::numeric_limits<double>::max();
double Bounded(double seconds) { return std::clamp(seconds, -kLatest, kLatest); }
}  // namespace

VirtualTime::VirtualTime() : hostOrigin_(HostSeconds()) {}

double VirtualTime::HostSeconds() {
  using Clock = std::chrono::steady_clock;
  return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

double VirtualTime::Now() const { return followHost_ ? Bounded(HostSeconds() - hostOrigin_) : manualNow_; }

void VirtualTime::FollowHostClock() {
  if (followHost_) return;
  // Continue from the manual time so that time never runs backwards.
  hostOrigin_ = HostSeconds() - manualNow_;
  followHost_ = true;
}

void VirtualTime::SetManual(double seconds) {
  if (std::isnan(seconds)) return;
  manualNow_ = Bounded(seconds);
  followHost_ = false;
}

void VirtualTime::Advance(double seconds) {
  if (std::isnan(seconds)) return;
  if (followHost_) {
    hostOrigin_ = Bounded(hostOrigin_ - seconds);  // jump ahead of the host clock
  } else {
    manualNow_ = Bounded(manualNow_ + seconds);
  }
}

void VirtualTime::SetAutoStep(double seconds) { autoStep_ = seconds > 0 ? Bounded(seconds) : 0; }

void VirtualTime::OnStatusPoll() {
  if (!followHost_ && autoStep_ > 0) manualNow_ = Bounded(manualNow_ + autoStep_);
}

}  // namespace rk350::card
