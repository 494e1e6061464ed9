// Platform services the library needs, behind one small interface:
// registered messages, a thread-affine periodic timer, a hidden window that
// receives posted messages, processing of pending messages, message boxes and
// a millisecond tick. Win32 uses the real services; POSIX provides stand-ins
// that run on the thread that created them when it processes its messages.
#pragma once

#include <cstdint>
#include <memory>

namespace rk350::platform {

// RegisterWindowMessageA: the same name gives the same id (0xC000 and up on
// POSIX).
uint32_t RegisterMessage(const char* name);

// A periodic timer owned by the creating thread's message queue. Its ticks
// run only while that thread processes its messages; a disabled timer never
// fires.
class PeriodicTimer {
 public:
  using Callback = void (*)(void* context);
  PeriodicTimer(uint32_t intervalMs, Callback callback, void* context);
  ~PeriodicTimer();
  PeriodicTimer(const PeriodicTimer&) = delete;
  PeriodicTimer& operator=(const PeriodicTimer&) = delete;

  void SetEnabled(bool enabled);
  bool Enabled() const { return enabled_; }
  uint32_t IntervalMs() const { return intervalMs_; }
  // Runs one tick; called by the platform's message processing.
  void Fire() { callback_(context_); }

  // Platform bookkeeping; not for callers.
  struct Impl;

 private:
  uint32_t intervalMs_;
  Callback callback_;
  void* context_;
  bool enabled_ = false;
  Impl* impl_ = nullptr;
  friend struct Impl;
};

// A hidden top-level window (a queue object on POSIX) that receives messages
// posted to it on the creating thread.
class MessageWindow {
 public:
  using Handler = void (*)(void* context, uint32_t message);
  // Returns null when the window cannot be created.
  static std::unique_ptr<MessageWindow> Create(const char* className, Handler handler, void* context);
  virtual ~MessageWindow() = default;
  // Posts a message to the window's queue; it is handled when the owning
  // thread processes its messages.
  virtual bool Post(uint32_t message) = 0;
};

// Processes the calling thread's pending messages once (timer ticks and
// posted messages). Returns how many were handled.
uint32_t ProcessPendingMessages();

// A modal message box; a line on standard error on POSIX. A host handler,
// when installed, receives the text instead.
void ShowMessageBox(const char* text);
using MessageBoxHandler = void (*)(void* context, const char* text);
void SetMessageBoxHandler(MessageBoxHandler handler, void* context);

#if !defined(_WIN32)
// Tests only: the clock (nanoseconds) the POSIX timers follow instead of the
// monotonic clock; null restores it.
void SetTimerClockForTesting(uint64_t (*nowNs)());
#endif

// GetTickCount: milliseconds from a monotonic clock.
uint32_t TickCountMs();

// True when the operating system belongs to the Windows NT family.
bool IsWindowsNtFamily();

}  // namespace rk350::platform
