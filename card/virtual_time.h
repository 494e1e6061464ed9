// The card's sense of time. By default it follows the host's monotonic clock,
// so the card behaves like hardware; a test or host may switch to manual time
// and step it, optionally letting every status read move it on by a fixed
// step (useful for synchronous loops that never return to the host).
#pragma once

#include <cstdint>

namespace rk350::card {

class VirtualTime {
 public:
  VirtualTime();

  // Seconds since the card was created (or since the manual time origin).
  double Now() const;

  // Follow the host's monotonic clock from the current virtual time on.
  void FollowHostClock();
  bool FollowsHostClock() const { return followHost_; }
  // Freeze time at `seconds`; it moves only through Advance and the auto step.
  void SetManual(double seconds);
  void Advance(double seconds);
  // In manual time, every status poll advances time by this step (0: off).
  void SetAutoStep(double seconds);
  void OnStatusPoll();

 private:
  static double HostSeconds();
  bool followHost_ = true;
  double hostOrigin_ = 0;  // host seconds at virtual time 0
  double manualNow_ = 0;
  double autoStep_ = 0;
};

}  // namespace rk350::card
