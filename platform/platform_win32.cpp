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

// Thread timers carry only an id: map it back to its owner.
struct TimerSlot {
  UINT_PTR id = 0;
  PeriodicTimer* owner = nullptr;
};
thread_local std::array<TimerSlot, 32> gTimers{};

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
  HiddenWindow(HWND hwnd, Handler handler, void* context) : hwnd_(hwnd), handler_(handler), context_(context) {
    SetWindowLongPtrA(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
  ~HiddenWindow() override {
    SetWindowLongPtrA(hwnd_, GWLP_USERDATA, 0);
    DestroyWindow(hwnd_);
  }
  bool Post(uint32_t message) override { return PostMessageA(hwnd_, message, 0, 0) != 0; }
  void Deliver(uint32_t message) { handler_(context_, message); }

 private:
  HWND hwnd_;
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

uint32_t RegisterMessage(const char* name) { return RegisterWindowMessageA(name); }

PeriodicTimer::PeriodicTimer(uint32_t intervalMs, Callback callback, void* context)
    : intervalMs_(intervalMs), callback_(callback), context_(context), impl_(new Impl) {}

PeriodicTimer::~PeriodicTimer() {
  SetEnabled(false);
  delete impl_;
}

void PeriodicTimer::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  if (enabled) {
    impl_->id = SetTimer(nullptr, 0, intervalMs_, TimerProc);
    for (auto& slot : gTimers) {
      if (slot.owner == nullptr) {
        slot = {impl_->id, this};
        break;
      }
    }
  } else {
    KillTimer(nullptr, impl_->id);
    for (auto& slot : gTimers) {
      if (slot.owner == this) slot = {};
    }
    impl_->id = 0;
  }
  enabled_ = enabled;
}

std::unique_ptr<MessageWindow> MessageWindow::Create(const char* className, Handler handler, void* context) {
  if (handler == nullptr) return nullptr;
  HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSA wc{};
  wc.lpfnWndProc = HiddenWindowProc;
  wc.hInstance = instance;
  wc.lpszClassName = className;
  RegisterClassA(&wc);  // fails harmlessly when already registered
  HWND hwnd = CreateWindowExA(0, className, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, instance, nullptr);
  if (hwnd == nullptr) return nullptr;
  return std::make_unique<HiddenWindow>(hwnd, handler, context);
}

uint32_t ProcessPendingMessages() {
  uint32_t handled = 0;
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));  // leave it for the host's loop
      break;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
    ++handled;
  }
  return handled;
}

uint32_t TickCountMs() { return GetTickCount(); }

bool IsWindowsNtFamily() {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof(info);
  if (!GetVersionExA(&info)) return true;
  return info.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

}  // namespace rk350::platform
