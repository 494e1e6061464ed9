// POSIX stand-ins for the Windows services: a per-thread queue holding the
// thread's timers and the messages posted to its windows. Nothing runs in the
// background: due timer ticks and posted messages run when the owning thread
// calls ProcessPendingMessages. Fixed-size tables keep the message pump free
// of heap allocation, since the measurement engine pumps inside its tick.
// Timers keep fixed deadlines: a tick's own work (the engine disables and
// re-enables its timer around arming and readout) never pushes the next
// tick later, so the engine runs at the pace of its interval.
#include <strings.h>
#include <time.h>

#include <array>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace rk350::platform {

namespace detail {
void ShowNativeMessageBox(const char* text) {
  std::fputs(text, stderr);
  std::fputc('\n', stderr);
}
}  // namespace detail

namespace {

uint64_t MonotonicNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
}

uint64_t (*gTimerClockNs)() = &MonotonicNs;

// The first deadline on the timer's grid (due, due + interval, ...) that lies
// after `now`: ticks missed meanwhile coalesce into the one that runs now,
// like WM_TIMER, and the grid stays where it was.
uint64_t NextDeadline(uint64_t due, uint64_t now, uint64_t interval) {
  if (interval == 0) return now;
  if (now < due) return due;
  return due + ((now - due) / interval + 1) * interval;
}

class QueueWindow;

struct PostedMessage {
  QueueWindow* window;
  uint32_t message;
};

// The calling thread's message queue.
struct ThreadQueue {
  static constexpr size_t kMaxTimers = 32;
  static constexpr size_t kMaxPosted = 256;
  static constexpr size_t kMaxNestedTicks = 8;
  std::array<PeriodicTimer::Impl*, kMaxTimers> timers{};
  // Timers whose tick is running, innermost last (a tick may process
  // messages, which may run another timer's tick).
  std::array<PeriodicTimer::Impl*, kMaxNestedTicks> ticking{};
  size_t tickingDepth = 0;
  std::array<PostedMessage, kMaxPosted> posted{};
  size_t postedHead = 0;
  size_t postedCount = 0;
};

// Each thread's queue lives until the process ends: an instrument released
// at unload, after the thread that created it has gone, still finds its
// timer's table. The registry keeps the queues reachable.
ThreadQueue& CurrentQueue() {
  thread_local ThreadQueue* queue = nullptr;
  if (queue == nullptr) {
    static std::mutex lock;
    static auto* registry = new std::vector<std::unique_ptr<ThreadQueue>>();
    std::lock_guard<std::mutex> guard(lock);
    registry->push_back(std::make_unique<ThreadQueue>());
    queue = registry->back().get();
  }
  return *queue;
}

class QueueWindow final : public MessageWindow {
 public:
  QueueWindow(ThreadQueue* queue, Handler handler, void* context)
      : queue_(queue), handler_(handler), context_(context) {}
  ~QueueWindow() override {
    // Drop messages still queued for this window.
    for (size_t i = 0; i < queue_->postedCount; ++i) {
      auto& m = queue_->posted[(queue_->postedHead + i) % ThreadQueue::kMaxPosted];
      if (m.window == this) m.window = nullptr;
    }
  }
  bool Post(uint32_t message) override {
    if (queue_->postedCount == ThreadQueue::kMaxPosted) return false;
    queue_->posted[(queue_->postedHead + queue_->postedCount) % ThreadQueue::kMaxPosted] = {this, message};
    ++queue_->postedCount;
    return true;
  }
  void Deliver(uint32_t message) { handler_(context_, message); }

 private:
  ThreadQueue* queue_;
  Handler handler_;
  void* context_;
};

}  // namespace

struct PeriodicTimer::Impl {
  PeriodicTimer* owner;
  ThreadQueue* queue;
  uint64_t dueNs = 0;  // next deadline
  bool Ticking() const {
    for (size_t i = 0; i < queue->tickingDepth; ++i)
      if (queue->ticking[i] == this) return true;
    return false;
  }
};

// Registered ids run from 0xC000 to 0xFFFF and names compare without regard
// to case, as on Windows; 0 means the name could not be registered.
uint32_t RegisterMessage(const char* name) {
  constexpr size_t kFirstId = 0xC000;
  constexpr size_t kIdCount = 0x4000;
  if (name == nullptr || name[0] == '\0') return 0;
  static std::mutex lock;
  static std::vector<std::string> names;
  std::lock_guard<std::mutex> guard(lock);
  for (size_t i = 0; i < names.size(); ++i) {
    if (strcasecmp(names[i].c_str(), name) == 0) return static_cast<uint32_t>(kFirstId + i);
  }
  if (names.size() == kIdCount) return 0;
  names.emplace_back(name);
  return static_cast<uint32_t>(kFirstId + names.size() - 1);
}

PeriodicTimer::PeriodicTimer(uint32_t intervalMs, Callback callback, void* context)
    : intervalMs_(intervalMs), callback_(callback), context_(context) {
  ThreadQueue& queue = CurrentQueue();
  impl_ = new Impl{this, &queue};
  for (auto& slot : queue.timers) {
    if (slot == nullptr) {
      slot = impl_;
      return;
    }
  }
  // Table full: the timer exists but never fires.
}

PeriodicTimer::~PeriodicTimer() {
  for (auto& slot : impl_->queue->timers) {
    if (slot == impl_) slot = nullptr;
  }
  for (auto& slot : impl_->queue->ticking) {
    if (slot == impl_) slot = nullptr;
  }
  delete impl_;
}

// Enabled from outside its tick, the timer starts a new grid one interval
// from now; re-enabled inside its own tick it keeps the deadline already set.
void PeriodicTimer::SetEnabled(bool enabled) {
  if (enabled && !enabled_ && !impl_->Ticking()) impl_->dueNs = gTimerClockNs() + uint64_t{intervalMs_} * 1000000u;
  enabled_ = enabled;
}

std::unique_ptr<MessageWindow> MessageWindow::Create(const char* /*className*/, Handler handler, void* context) {
  if (handler == nullptr) return nullptr;
  return std::make_unique<QueueWindow>(&CurrentQueue(), handler, context);
}

uint32_t ProcessPendingMessages() {
  ThreadQueue& q = CurrentQueue();
  uint32_t handled = 0;
  // Messages posted before this call; messages posted by the handlers wait
  // for the next call.
  for (size_t n = q.postedCount; n > 0 && q.postedCount > 0; --n) {
    const PostedMessage m = q.posted[q.postedHead];
    q.postedHead = (q.postedHead + 1) % ThreadQueue::kMaxPosted;
    --q.postedCount;
    if (m.window != nullptr) {
      static_cast<QueueWindow*>(m.window)->Deliver(m.message);
      ++handled;
    }
  }
  // Due timers. The next deadline is set before the tick runs, on the grid.
  const uint64_t now = gTimerClockNs();
  for (size_t i = 0; i < ThreadQueue::kMaxTimers; ++i) {
    PeriodicTimer::Impl* t = q.timers[i];
    if (t == nullptr || !t->owner->Enabled() || now < t->dueNs) continue;
    t->dueNs = NextDeadline(t->dueNs, now, uint64_t{t->owner->IntervalMs()} * 1000000u);
    const size_t depth = q.tickingDepth;
    if (depth < ThreadQueue::kMaxNestedTicks) {
      q.ticking[depth] = t;
      q.tickingDepth = depth + 1;
    }
    t->owner->Fire();  // may destroy the timer: t is not used after this
    q.tickingDepth = depth;
    ++handled;
  }
  return handled;
}

void SetTimerClockForTesting(uint64_t (*nowNs)()) { gTimerClockNs = nowNs != nullptr ? nowNs : &MonotonicNs; }

uint32_t TickCountMs() { return static_cast<uint32_t>(MonotonicNs() / 1000000u); }

bool IsWindowsNtFamily() { return false; }

}  // namespace rk350::platform
