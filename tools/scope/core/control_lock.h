// Exclusive control of the card, as SCPI's :SYSTem:LOCK takes it: while one
// SCPI connection holds it, the other connections and the page (its JSON
// API) may look but not change anything. A holder that sends nothing for the
// lapse time loses it, so a client that hangs or vanishes frees the card.
#pragma once

#include <chrono>
#include <mutex>

namespace rk350::scope {

class ControlLock {
 public:
  using Clock = std::chrono::steady_clock;

  void SetLapse(Clock::duration lapse) {
    std::lock_guard lock(mutex_);
    lapse_ = lapse;
  }
  // Connections are numbered from 1; 0 is nobody.
  bool Take(int holder) {
    std::lock_guard lock(mutex_);
    Lapse();
    if (holder_ != 0 && holder_ != holder) return false;
    holder_ = holder;
    touched_ = Clock::now();
    return true;
  }
  void Release(int holder) {
    std::lock_guard lock(mutex_);
    if (holder_ == holder) holder_ = 0;
  }
  // The holder showed it is still there (it sent a message, or waits on one).
  void Touch(int holder) {
    std::lock_guard lock(mutex_);
    if (holder_ == holder) touched_ = Clock::now();
  }
  bool HeldBy(int holder) const {
    std::lock_guard lock(mutex_);
    Lapse();
    return holder_ != 0 && holder_ == holder;
  }
  // Held, and not by `asking` (0: the page, which never holds it).
  bool HeldAgainst(int asking) const {
    std::lock_guard lock(mutex_);
    Lapse();
    return holder_ != 0 && holder_ != asking;
  }

 private:
  void Lapse() const {
    if (holder_ != 0 && Clock::now() - touched_ > lapse_) holder_ = 0;
  }

  mutable std::mutex mutex_;
  mutable int holder_ = 0;
  Clock::time_point touched_;
  Clock::duration lapse_ = std::chrono::seconds(60);
};

}  // namespace rk350::scope
