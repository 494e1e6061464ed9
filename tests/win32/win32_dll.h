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

extern "C" uint32_t rk350_probe_call(const void* fn, const uint32_t* args, uint32_t words, uint32_t* leftBytes);
extern "C" double rk350_probe_call_double(const void* fn, const uint32_t* args, uint32_t words, uint32_t* leftBytes);

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

// The outcome of one call through the probe.
struct ProbeResult {
  uint32_t value = 0;  // eax
  double real = 0;     // st0, for double results
  uint32_t leftBytes = 0;
};
ProbeResult ProbeCall(const void* fn, const std::vector<uint32_t>& args, bool returnsDouble = false);

// Collects the library's message-box texts (installed through the DLL).
struct MessageBoxTexts {
  std::vector<std::string> texts;
  static void __stdcall Handler(void* context, const char* text);
  bool Install(const LoadedDll& dll);
};

// Pumps this thread's messages for the given time and counts the ticks of
// thread timers (the tests make none: every one is the library's).
int PumpCountingTimerTicks(DWORD milliseconds);

}  // namespace rk350::win32
