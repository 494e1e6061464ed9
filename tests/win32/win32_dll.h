// Loading one of the library DLLs by file name, and the helpers the Win32
// tests share: calls through the stdcall probe, the message-box capture and a
// message pump that counts the library's timer ticks.
#pragma once

#include <windows.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "generated/export_table.h"

// The probe (probe_call_x86.S, probe_call_x64.S) calls a function with
// argument slots of the machine's word size: 32-bit stack slots on x86 (a
// double takes two), 64-bit register or stack slots on x64 (one per argument).
extern "C" uintptr_t rk350_probe_call(const void* fn, const uintptr_t* args, uintptr_t slots, uint32_t* leftBytes);
extern "C" double rk350_probe_call_double(const void* fn, const uintptr_t* args, uintptr_t slots, uint32_t* leftBytes);

namespace rk350::win32 {

// The DLL file names the tests load, and whether the flavour carries the
// virtual-card calls.
struct DllUnderTest {
  const char* fileName;
  bool virtualCard;
};
inline constexpr DllUnderTest kDlls[] = {{"rk350.dll", false}, {"rk350_virtual.dll", true}};
// Test names show the file name.
inline void PrintTo(const DllUnderTest& dll, std::ostream* out) { *out << dll.fileName; }

class LoadedDll {
 public:
  explicit LoadedDll(const char* fileName) : module_(LoadLibraryA(fileName)) {}
  ~LoadedDll() { Unload(); }
  LoadedDll(const LoadedDll&) = delete;
  LoadedDll& operator=(const LoadedDll&) = delete;

  bool Loaded() const { return module_ != nullptr; }
  HMODULE Module() const { return module_; }
  void Unload() {
    if (module_ != nullptr) FreeLibrary(module_);
    module_ = nullptr;
  }
  const void* Find(const char* name) const { return reinterpret_cast<const void*>(GetProcAddress(module_, name)); }

 private:
  HMODULE module_;
};

// The number of argument slots an export takes on this machine.
inline unsigned ArgumentSlots(const exports::Export& e) {
#if defined(__x86_64__)
  return e.argumentCount;
#else
  return e.argumentBytes / 4;
#endif
}

// A pointer as one argument slot.
template <typename T>
uintptr_t Slot(T* pointer) {
  return reinterpret_cast<uintptr_t>(pointer);
}

// The outcome of one call through the probe.
struct ProbeResult {
  uintptr_t value = 0;  // eax / rax
  double real = 0;      // st0 / xmm0, for double results
  uint32_t leftBytes = 0;
};
ProbeResult ProbeCall(const void* fn, const std::vector<uintptr_t>& args, bool returnsDouble = false);

// Collects the library's message-box texts (installed through the DLL).
struct MessageBoxTexts {
  std::vector<std::string> texts;
  static void __stdcall Handler(void* context, const char* text);
  bool Install(const LoadedDll& dll);
};

// Pumps this thread's messages for the given time and counts the ticks of
// thread timers (the tests make none: every one is the library's).
int PumpCountingTimerTicks(DWORD milliseconds);

// How long a test waits for something that must happen (a timer tick) before
// it fails: far beyond the 6 ms the tick takes on an idle machine, so a
// loaded machine does not fail the test.
inline constexpr DWORD kPatienceMs = 5000;

// Pumps this thread's messages until the library's timer has ticked `wanted`
// times or kPatienceMs have passed; returns the ticks counted.
int PumpUntilTimerTicks(int wanted);

}  // namespace rk350::win32
