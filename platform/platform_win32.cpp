// Win32 services: RegisterWindowMessageA, a thread timer (SetTimer without a
// window, delivered through the creating thread's queue), a hidden window of
// its own class, PeekMessage/DispatchMessage, MessageBoxA and GetTickCount.
#include <windows.h>

#include <array>

#include "platform/platform.h"

namespace rk350::platform {

namespace detail {
void ShowNativeMessageBox(const char* text) { MessageBoxA(nullptr, text, "RK350 ISA", MB_OK | MB_TASKMODAL); }
}  // namespace detail

namespace {

// Set when the loader detaches this DLL because the process is ending (not
// because it is unloaded). By then the process's other threads are gone and
// the loader lock is held: calling the window manager to destroy the hidden
// window, unregister its class or kill the timer can wait for ever, and there
// is no need to, since the system reclaims all of them with the process.
bool gProcessEnding = false;

// The module holding this code (the DLL, not the host's executable): window
// classes are registered for it, so that two libraries in one process, or one
// library loaded twice, never share a window procedure. A module's image is one
// allocation, whose base is its handle; this works on every Win32 system
// (GetModuleHandleEx needs XP).
HINSTANCE ThisModule() {
  MEMORY_BASIC_INFORMATION info{};
  if (VirtualQuery(reinterpret_cast<LPCVOID>(&ThisModule), &info, sizeof(info)) == 0) return nullptr;
  return static_cast<HINSTANCE>(info.AllocationBase);
}

// Thread timers carry only an id: map it back to its owner. The system gives
// every thread timer of the process its own id, so one table serves all
// threads (and no thread-local data is needed: a DLL's own thread-local
// storage is not set up when it is loaded by LoadLibrary before Vista).
struct TimerSlot {
  UINT_PTR id = 0;
  PeriodicTimer* owner = nullptr;
};
std::array<TimerSlot, 32> gTimers{};

void CALLBACK TimerProc(HWND, UINT, UINT_PTR id, DWORD) {
  for (auto& slot : gTimers) {
    if (slot.id == id && slot.owner != nullptr) {
      slot.owner->Fire();
      return;
    }
  }
}

class HiddenWindow final : public MessageWindow {
 public:
  HiddenWindow(HWND hwnd, ATOM classAtom, Handler handler, void* context)
      : hwnd_(hwnd), classAtom_(classAtom), handler_(handler), context_(context) {
    SetWindowLongPtrA(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
  ~HiddenWindow() override {
    if (gProcessEnding) return;
    SetWindowLongPtrA(hwnd_, GWLP_USERDATA, 0);
    DestroyWindow(hwnd_);
    // Windows keeps a DLL's classes after the DLL is unloaded; a class left
    // behind would send the next load's window to a stale procedure.
    UnregisterClassA(MAKEINTATOM(classAtom_), ThisModule());
  }
  bool Post(uint32_t message) override { return PostMessageA(hwnd_, message, 0, 0) != 0; }
  void Deliver(uint32_t message) { handler_(context_, message); }

 private:
  HWND hwnd_;
  ATOM classAtom_;
  Handler handler_;
  void* context_;
};

LRESULT CALLBACK HiddenWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* window = reinterpret_cast<HiddenWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (window != nullptr && (message >= WM_USER || message == WM_DEVICECHANGE)) {
    window->Deliver(message);
    return 0;
  }
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

}  // namespace

struct PeriodicTimer::Impl {
  UINT_PTR id = 0;
};

uint32_t RegisterMessage(const char* name) {
  if (name == nullptr) return 0;
  return RegisterWindowMessageA(name);
}

PeriodicTimer::PeriodicTimer(uint32_t intervalMs, Callback callback, void* context)
    : intervalMs_(intervalMs), callback_(callback), context_(context), impl_(new Impl) {}

PeriodicTimer::~PeriodicTimer() {
  SetEnabled(false);
  delete impl_;
}

void PeriodicTimer::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  if (enabled) {
    TimerSlot* free = nullptr;
    for (auto& slot : gTimers) {
      if (slot.owner == nullptr) {
        free = &slot;
        break;
      }
    }
    if (free == nullptr) return;  // table full: the timer stays disabled
    impl_->id = SetTimer(nullptr, 0, intervalMs_, TimerProc);
    if (impl_->id == 0) return;  // no timer from the system: stays disabled
    *free = {impl_->id, this};
  } else {
    if (!gProcessEnding) KillTimer(nullptr, impl_->id);
    for (auto& slot : gTimers) {
      if (slot.owner == this) slot = {};
    }
    impl_->id = 0;
  }
  enabled_ = enabled;
}

std::unique_ptr<MessageWindow> MessageWindow::Create(const char* className, Handler handler, void* context) {
  if (handler == nullptr || className == nullptr) return nullptr;
  HINSTANCE instance = ThisModule();
  WNDCLASSA wc{};
  wc.lpfnWndProc = HiddenWindowProc;
  wc.hInstance = instance;
  wc.lpszClassName = className;
  ATOM atom = RegisterClassA(&wc);
  if (atom == 0) {
    // Already registered by this module (a second window): use that class.
    WNDCLASSA existing{};
    atom = static_cast<ATOM>(GetClassInfoA(instance, className, &existing));
    if (atom == 0) return nullptr;
  }
  HWND hwnd = CreateWindowExA(0, className, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, instance, nullptr);
  if (hwnd == nullptr) return nullptr;
  return std::make_unique<HiddenWindow>(hwnd, atom, handler, context);
}

// Delivers what is waiting in the thread's queue. A timer whose tick ran in
// this call and is due again stays queued for the next call, so a tick slower
// than its interval cannot keep this loop going for ever.
// The thread's queue and timers belong to Windows.
void ReleaseThreadQueues() {}

uint32_t ProcessPendingMessages() {
  uint32_t handled = 0;
  std::array<UINT_PTR, 32> ticked{};
  size_t tickedCount = 0;
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
    if (msg.message == WM_TIMER) {
      bool again = false;
      for (size_t i = 0; i < tickedCount; ++i) again = again || ticked[i] == msg.wParam;
      if (again || tickedCount == ticked.size()) break;
      ticked[tickedCount++] = msg.wParam;
    }
    if (msg.message == WM_QUIT) break;  // left for the host's own loop
    if (!PeekMessageA(&msg, msg.hwnd, msg.message, msg.message, PM_REMOVE)) break;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
    ++handled;
  }
  return handled;
}

namespace {
MillisecondClock gHostClock = nullptr;
}

uint32_t TickCountMs() { return gHostClock != nullptr ? static_cast<uint32_t>(gHostClock()) : GetTickCount(); }

// The window timer keeps to the system's clock.
void SetMillisecondClock(MillisecondClock clock) { gHostClock = clock; }

bool IsWindowsNtFamily() {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof(info);
  if (!GetVersionExA(&info)) return true;
  return info.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

}  // namespace rk350::platform

// The loader's notifications to the DLL. A non-null `reserved` at detach means
// the process is ending; the library's unload hook (ExitInstrument) runs after
// this, with the window manager left alone.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_DETACH && reserved != nullptr) rk350::platform::gProcessEnding = true;
  return TRUE;
}
