// The platform services as the library uses them: registered messages, the
// thread-affine timer, the hidden window's queue and message boxes. Written
// against the platform interface, so the same cases check the POSIX
// stand-ins here and the Win32 services under Wine.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "support/other_thread.h"
#include "support/recorded_instrument.h"

namespace rk350::platform {
namespace {

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

TEST(RegisteredMessages, SameNameSameIdFromTheRegisteredRange) {
  const uint32_t a = RegisterMessage("RK350 test: alpha");
  const uint32_t b = RegisterMessage("RK350 test: beta");
  EXPECT_GE(a, 0xC000u);
  EXPECT_LE(a, 0xFFFFu);
  EXPECT_GE(b, 0xC000u);
  EXPECT_NE(a, b);
  EXPECT_EQ(RegisterMessage("RK350 test: alpha"), a);
  EXPECT_EQ(RegisterMessage("RK350 TEST: ALPHA"), a);  // names compare without case, as on Windows
  uint32_t fromOtherThread = 0;
  test::RunOnOtherThread([&] { fromOtherThread = RegisterMessage("RK350 test: beta"); });
  EXPECT_EQ(fromOtherThread, b);  // one table for the whole process
}

TEST(RegisteredMessages, NoNameGetsNoId) {
  EXPECT_EQ(RegisterMessage(nullptr), 0u);
#if !defined(_WIN32)
  EXPECT_EQ(RegisterMessage(""), 0u);
#endif
}

struct TickCounter {
  std::atomic<int> ticks{0};
  test::ThreadId lastThread{};
  static void Tick(void* self) {
    auto* c = static_cast<TickCounter*>(self);
    ++c->ticks;
    c->lastThread = test::ThisThreadId();
  }
};

TEST(PeriodicTimer, DisabledTimerNeverFires) {
  TickCounter counter;
  PeriodicTimer timer(6, &TickCounter::Tick, &counter);
  EXPECT_FALSE(timer.Enabled());
  SleepMs(20);
  ProcessPendingMessages();
  EXPECT_EQ(counter.ticks, 0);
}

TEST(PeriodicTimer, FiresOnlyWhenTheOwningThreadProcessesMessages) {
  TickCounter counter;
  PeriodicTimer timer(6, &TickCounter::Tick, &counter);
  timer.SetEnabled(true);
  SleepMs(25);
  EXPECT_EQ(counter.ticks, 0);  // nothing runs in the background

  // Another thread processing its own messages does not run this timer.
  test::RunOnOtherThread([] {
    for (int i = 0; i < 5; ++i) {
      ProcessPendingMessages();
      SleepMs(5);
    }
  });
  EXPECT_EQ(counter.ticks, 0);

  // Due ticks missed meanwhile coalesce into one.
  ProcessPendingMessages();
  EXPECT_EQ(counter.ticks, 1);
  EXPECT_EQ(counter.lastThread, test::ThisThreadId());

  // Processing again at once brings no burst of the missed ticks. The
  // deadlines keep their phase, so the next one may fall due right away: at
  // most one more.
  ProcessPendingMessages();
  EXPECT_LE(counter.ticks, 2);

  // Regular processing gives regular ticks.
  const auto start = std::chrono::steady_clock::now();
  while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(100)) {
    ProcessPendingMessages();
    SleepMs(1);
  }
  EXPECT_GE(counter.ticks, 4);

  timer.SetEnabled(false);
  const int stopped = counter.ticks;
  SleepMs(20);
  ProcessPendingMessages();
  EXPECT_EQ(counter.ticks, stopped);
}

// A tick that destroys its own timer (an instrument released from inside its
// tick) ends the processing cleanly.
TEST(PeriodicTimer, TickMayDestroyItsOwnTimer) {
  struct SelfDestroying {
    std::unique_ptr<PeriodicTimer> timer;
    int ticks = 0;
    static void Tick(void* self) {
      auto* s = static_cast<SelfDestroying*>(self);
      ++s->ticks;
      s->timer.reset();
    }
  } s;
  s.timer = std::make_unique<PeriodicTimer>(1, &SelfDestroying::Tick, &s);
  s.timer->SetEnabled(true);
  // The first tick, however late a loaded machine delivers it.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (s.ticks == 0 && std::chrono::steady_clock::now() < deadline) {
    SleepMs(2);
    ProcessPendingMessages();
  }
  EXPECT_EQ(s.ticks, 1);
  EXPECT_EQ(s.timer, nullptr);
  SleepMs(5);
  ProcessPendingMessages();
  EXPECT_EQ(s.ticks, 1);
}

#if !defined(_WIN32)
// The POSIX timers on a clock the test steps by hand. A timer keeps fixed
// deadlines 6 ms apart: the work of a tick, which disables the timer, lets
// messages run and enables it again as the measurement engine does, does not
// move the next deadline.
class SteppedTimerClock {
 public:
  SteppedTimerClock() {
    nowNs_ = 1'000'000'000;
    SetTimerClockForTesting(&Now);
  }
  ~SteppedTimerClock() { SetTimerClockForTesting(nullptr); }
  static void SetMs(double ms) { nowNs_ = 1'000'000'000 + static_cast<uint64_t>(ms * 1e6); }
  static void AdvanceMs(double ms) { nowNs_ += static_cast<uint64_t>(ms * 1e6); }

 private:
  static uint64_t Now() { return nowNs_; }
  static inline uint64_t nowNs_ = 0;
};

struct EngineLikeTick {
  PeriodicTimer* timer = nullptr;
  double workMs = 0;
  int ticks = 0;
  static void Tick(void* self) {
    auto* e = static_cast<EngineLikeTick*>(self);
    ++e->ticks;
    e->timer->SetEnabled(false);
    ProcessPendingMessages();
    SteppedTimerClock::AdvanceMs(e->workMs);
    e->timer->SetEnabled(true);
  }
};

TEST(PeriodicTimer, DeadlinesStayOnTheGridWhateverATickDoes) {
  SteppedTimerClock clock;
  EngineLikeTick engine;
  PeriodicTimer timer(6, &EngineLikeTick::Tick, &engine);
  engine.timer = &timer;
  engine.workMs = 4.5;
  SteppedTimerClock::SetMs(0);
  timer.SetEnabled(true);  // deadlines at 6, 12, 18 ... ms
  // Each row: the time the thread processes its messages, the ticks so far.
  const struct {
    double atMs;
    int ticks;
  } steps[] = {
      {5.9, 0},  {6.0, 1},   // the tick works until 10.5 ms
      {11.9, 1}, {12.2, 2},  // due at 12, not 16.5
      {17.0, 2}, {18.0, 3},  // still the grid, although each tick took 4.5 ms
      {41.0, 4}, {41.5, 4},  // 24, 30 and 36 missed: they coalesce into one tick
      {42.0, 5},             // and the grid holds
  };
  for (const auto& step : steps) {
    SteppedTimerClock::SetMs(step.atMs);
    ProcessPendingMessages();
    EXPECT_EQ(engine.ticks, step.ticks) << "at " << step.atMs << " ms";
  }
}

TEST(PeriodicTimer, EnablingOutsideItsTickStartsAFreshInterval) {
  SteppedTimerClock clock;
  TickCounter counter;
  PeriodicTimer timer(6, &TickCounter::Tick, &counter);
  SteppedTimerClock::SetMs(0);
  timer.SetEnabled(true);
  SteppedTimerClock::SetMs(7);
  ProcessPendingMessages();
  EXPECT_EQ(counter.ticks, 1);
  timer.SetEnabled(false);
  SteppedTimerClock::SetMs(9);
  timer.SetEnabled(true);  // due at 15, not at 12 on the old grid
  SteppedTimerClock::SetMs(14.9);
  ProcessPendingMessages();
  EXPECT_EQ(counter.ticks, 1);
  SteppedTimerClock::SetMs(15);
  ProcessPendingMessages();
  EXPECT_EQ(counter.ticks, 2);
}
#endif

struct Received {
  std::vector<uint32_t> messages;
  test::ThreadId thread{};
  static void Handler(void* self, uint32_t message) {
    auto* r = static_cast<Received*>(self);
    r->messages.push_back(message);
    r->thread = test::ThisThreadId();
  }
};

TEST(MessageWindow, PostedMessagesArriveInOrderWhenTheThreadProcessesMessages) {
  Received received;
  auto window = MessageWindow::Create("RK350TestWindow", &Received::Handler, &received);
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(window->Post(0x0400 + 1));
  EXPECT_TRUE(window->Post(0x0400 + 2));
  EXPECT_TRUE(received.messages.empty());
  EXPECT_GE(ProcessPendingMessages(), 2u);
  EXPECT_EQ(received.messages, (std::vector<uint32_t>{0x0401, 0x0402}));
  EXPECT_EQ(received.thread, test::ThisThreadId());
  EXPECT_EQ(ProcessPendingMessages(), 0u);
}

#if defined(_WIN32)
// The POSIX queue belongs to its thread alone; a Win32 window takes posts
// from anywhere and handles them on its own thread.
TEST(MessageWindow, MessagesPostedFromAnotherThreadRunOnTheOwner) {
  Received received;
  auto window = MessageWindow::Create("RK350TestWindow", &Received::Handler, &received);
  ASSERT_NE(window, nullptr);
  test::RunOnOtherThread([&] { window->Post(0x0400 + 13); });
  ProcessPendingMessages();
  ASSERT_EQ(received.messages.size(), 1u);
  EXPECT_EQ(received.thread, test::ThisThreadId());
}
#endif

TEST(MessageWindow, DestroyedWindowGetsNoQueuedMessages) {
  Received received;
  auto window = MessageWindow::Create("RK350TestWindow", &Received::Handler, &received);
  ASSERT_NE(window, nullptr);
  window->Post(0x0400 + 5);
  window.reset();
  ProcessPendingMessages();
  EXPECT_TRUE(received.messages.empty());
}

TEST(MessageWindow, NoHandlerNoWindow) {
  EXPECT_EQ(MessageWindow::Create("RK350TestWindow", nullptr, nullptr), nullptr);
}

TEST(MessageBox, HandlerReceivesTheTextAndNullRestoresTheDefault) {
  testing::MessageBoxCapture capture;
  ShowMessageBox("first line\nsecond line");
  ASSERT_EQ(capture.Texts().size(), 1u);
  EXPECT_EQ(capture.Texts()[0], "first line\nsecond line");
}

#if !defined(_WIN32)
TEST(MessageBox, WithoutHandlerTheTextGoesToStandardError) {
  SetMessageBoxHandler(nullptr, nullptr);
  ::testing::internal::CaptureStderr();
  ShowMessageBox("WMDeviceArrived ");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "WMDeviceArrived \n");
}
#endif

TEST(TickCount, CountsMillisecondsForward) {
  const uint32_t a = TickCountMs();
  SleepMs(20);
  const uint32_t elapsed = TickCountMs() - a;
  EXPECT_GE(elapsed, 15u);
  EXPECT_LT(elapsed, 10000u);
}

TEST(PlatformFamily, OnlyWindowsIsTheNtFamily) {
#if defined(_WIN32)
  EXPECT_TRUE(IsWindowsNtFamily());  // every Windows (and Wine) this builds for
#else
  EXPECT_FALSE(IsWindowsNtFamily());
#endif
}

}  // namespace
}  // namespace rk350::platform
