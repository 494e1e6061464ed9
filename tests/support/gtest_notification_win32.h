// Given to every C++ file of the Windows tests (and GoogleTest itself)
// before anything else. GoogleTest's own Notification, a helper of its
// thread tests, is built on std::mutex and std::condition_variable, which the
// DLLs' toolchain (the win32 thread model of GCC 12) does not have; this one
// takes its place. None of our tests uses it.
#pragma once

#if defined(__cplusplus) && defined(_WIN32)
#include <atomic>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing::internal {

class Notification {
 public:
  Notification() = default;
  Notification(const Notification&) = delete;
  Notification& operator=(const Notification&) = delete;
  void Notify() { notified_.store(true); }
  void WaitForNotification() {
    while (!notified_.load()) {
    }
  }

 private:
  std::atomic<bool> notified_{false};
};

}  // namespace testing::internal
#endif
