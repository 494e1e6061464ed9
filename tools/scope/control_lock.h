// Exclusive control of the card, as SCPI's :SYSTem:LOCK takes it: while one
// SCPI connection holds it, the other connections and the page (its JSON
// API) may look but not change anything.
#pragma once

#include <mutex>

namespace rk350::scope {

class ControlLock {
 public:
  // Connections are numbered from 1; 0 is nobody.
  bool Take(int holder) {
    std::lock_guard lock(mutex_);
    if (holder_ != 0 && holder_ != holder) return false;
    holder_ = holder;
    return true;
  }
  void Release(int holder) {
    std::lock_guard lock(mutex_);
    if (holder_ == holder) holder_ = 0;
  }
  bool HeldBy(int holder) const {
    std::lock_guard lock(mutex_);
    return holder_ != 0 && holder_ == holder;
  }
  // Held, and not by `asking` (0: the page, which never holds it).
  bool HeldAgainst(int asking) const {
    std::lock_guard lock(mutex_);
    return holder_ != 0 && holder_ != asking;
  }

 private:
  mutable std::mutex mutex_;
  int holder_ = 0;
};

}  // namespace rk350::scope
