#include "win32/win32_dll.h"

#include <climits>

namespace rk350::win32 {

ProbeResult ProbeCall(const void* fn, const std::vector<uintptr_t>& args, bool returnsDouble) {
  ProbeResult r;
  const uintptr_t words = args.size();
  if (returnsDouble) {
    r.real = rk350_probe_call_double(fn, args.data(), words, &r.leftBytes);
  } else {
    r.value = rk350_probe_call(fn, args.data(), words, &r.leftBytes);
  }
  return r;
}

void __stdcall MessageBoxTexts::Handler(void* context, const char* text) {
  static_cast<MessageBoxTexts*>(context)->texts.emplace_back(text);
}

bool MessageBoxTexts::Install(const LoadedDll& dll) {
  const void* set = dll.Find("RK350_SetMessageBoxHandler");
  if (set == nullptr) return false;
  const ProbeResult r = ProbeCall(set, {reinterpret_cast<uintptr_t>(&Handler), Slot(this)});
  return r.leftBytes == 0;
}

namespace {
int Pump(DWORD milliseconds, int stopAt) {
  int ticks = 0;
  const DWORD start = GetTickCount();
  do {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_TIMER && msg.hwnd == nullptr) ++ticks;
      DispatchMessageA(&msg);
    }
    if (ticks >= stopAt) break;
    if (milliseconds > 0) MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
  } while (GetTickCount() - start < milliseconds);
  return ticks;
}
}  // namespace

int PumpCountingTimerTicks(DWORD milliseconds) { return Pump(milliseconds, INT_MAX); }

int PumpUntilTimerTicks(int wanted) { return Pump(kPatienceMs, wanted); }

}  // namespace rk350::win32
