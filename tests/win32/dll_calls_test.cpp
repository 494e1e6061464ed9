// Each DLL loaded by file name: every export of the headers found by its plain
// name, called through stdcall pointers, and the instrument's lifecycle and
// timer as a Windows host sees them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/other_thread.h"
#include "win32/receiver_window.h"
#include "win32/win32_dll.h"

namespace rk350::win32 {
namespace {

using exports::kExports;

constexpr uint32_t kResultOk = 0;
constexpr uint32_t kResultNoInstrument = 1;
constexpr UINT kDeviceChange = 0x0219;
constexpr UINT kDeviceArrived = 0x0400 + 13;
constexpr const char* kGiveioMessage =
    "Windows NT / 2000 / XP requires an extra NT-driver for the parallel port and ISA bus.\n"
    "It was not detected on this computer.\nHardware will not be available";

bool ExportedBy(const exports::Export& e, const DllUnderTest& dll) {
  return std::string(e.header) != "rk350_sim.h" || dll.virtualCard;
}

uint16_t Result16(const ProbeResult& r) { return static_cast<uint16_t>(r.value); }

class Win32Dll : public ::testing::TestWithParam<DllUnderTest> {
 protected:
  void SetUp() override {
    dll_ = std::make_unique<LoadedDll>(GetParam().fileName);
    ASSERT_TRUE(dll_->Loaded()) << GetParam().fileName << ": error " << GetLastError();
    ASSERT_TRUE(boxes_.Install(*dll_));
  }
  // Calls an export by name through the probe; fails the test when the
  // callee leaves arguments on the stack.
  ProbeResult Call(const char* name, const std::vector<uintptr_t>& args = {}) {
    const void* fn = dll_->Find(name);
    EXPECT_NE(fn, nullptr) << name;
    if (fn == nullptr) return {};
    const ProbeResult r = ProbeCall(fn, args);
    EXPECT_EQ(r.leftBytes, 0u) << name << " left arguments on the stack";
    return r;
  }

  std::unique_ptr<LoadedDll> dll_;
  MessageBoxTexts boxes_;
};

#if defined(__i386__)
// The probe itself tells the conventions apart.
extern "C" uint32_t __cdecl CdeclThree(uint32_t a, uint32_t b, uint32_t c) { return a + b + c; }
extern "C" uint32_t __stdcall StdcallThree(uint32_t a, uint32_t b, uint32_t c) { return a + b + c; }

TEST(StdcallProbe, TellsCalleeCleanupFromCallerCleanup) {
  const ProbeResult callerCleans = ProbeCall(reinterpret_cast<const void*>(&CdeclThree), {1, 2, 3});
  EXPECT_EQ(callerCleans.value, 6u);
  EXPECT_EQ(callerCleans.leftBytes, 12u);
  const ProbeResult calleeCleans = ProbeCall(reinterpret_cast<const void*>(&StdcallThree), {1, 2, 3});
  EXPECT_EQ(calleeCleans.value, 6u);
  EXPECT_EQ(calleeCleans.leftBytes, 0u);
}
#else
// The probe puts each of the first four slots where the callee looks for an
// argument of its type (integer register or xmm register) and the rest on the
// stack; integer and double results come back.
extern "C" int64_t Mixed(int64_t a, double b, int64_t c, double d, int64_t e, double f) {
  return a + static_cast<int64_t>(b) * 10 + c * 100 + static_cast<int64_t>(d) * 1000 + e * 10000 +
         static_cast<int64_t>(f) * 100000;
}
extern "C" double Half(int64_t a, double b) { return static_cast<double>(a) / 2 + b; }

uintptr_t DoubleSlot(double value) {
  uintptr_t bits;
  static_assert(sizeof bits == sizeof value);
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

TEST(X64Probe, PassesIntegerAndDoubleArgumentsInRegistersAndOnTheStack) {
  const ProbeResult r =
      ProbeCall(reinterpret_cast<const void*>(&Mixed), {1, DoubleSlot(2.0), 3, DoubleSlot(4.0), 5, DoubleSlot(6.0)});
  EXPECT_EQ(r.value, 654321u);
  EXPECT_EQ(r.leftBytes, 0u);
  const ProbeResult half = ProbeCall(reinterpret_cast<const void*>(&Half), {5, DoubleSlot(0.25)}, true);
  EXPECT_EQ(half.real, 2.75);
}
#endif

TEST_P(Win32Dll, EveryHeaderExportIsFoundByItsPlainNameOnly) {
  for (const auto& e : kExports) {
    if (!ExportedBy(e, GetParam())) continue;
    EXPECT_NE(dll_->Find(e.name), nullptr) << e.name;
    const std::string decorated = std::string(e.name) + "@" + std::to_string(e.argumentBytes);
    EXPECT_EQ(dll_->Find(decorated.c_str()), nullptr) << decorated;
  }
}

// Every export is called with its exact argument bytes (0, 0.0 and null) in
// the states without a card; each must remove exactly its own arguments, and
// the guarded ones answer ResultNoInstrument.
TEST_P(Win32Dll, EveryExportRemovesItsOwnArgumentsInEveryStateWithoutCard) {
  auto sweep = [&](const char* state) {
    for (const auto& e : kExports) {
      if (!ExportedBy(e, GetParam())) continue;
      const std::string name = e.name;
      // The lifecycle has its own test; the handler and the card's place are
      // set to useful values below.
      if (name == "InitInstrument" || name == "ExitInstrument") continue;
      std::vector<uintptr_t> args(ArgumentSlots(e), 0);
      if (name == "RK350_SetMessageBoxHandler") {
        args = {reinterpret_cast<uintptr_t>(&MessageBoxTexts::Handler), Slot(&boxes_)};
      }
      if (name == "RK350Sim_SetBaseAddress") args = {0x288};
      const ProbeResult r = ProbeCall(dll_->Find(e.name), args, e.returns == exports::kReturnsDouble);
      EXPECT_EQ(r.leftBytes, 0u) << state << ": " << name << " (" << e.argumentBytes << " argument bytes)";
      if (name == "GetNrChannels" || name == "SetDcLevel" || name == "GetSensitivity" || name == "SetTriggerLevel") {
        EXPECT_EQ(Result16(r), kResultNoInstrument) << state << ": " << name;
      }
      if (name == "GetMaxSampleFrequencyF") {
        EXPECT_EQ(r.real, 0.0) << state;
      }
    }
  };
  sweep("loaded");
  const uint16_t init = Result16(Call("InitInstrument", {0x288}));
  if (init == kResultNoInstrument) sweep("absent");
  EXPECT_EQ(Result16(Call("ExitInstrument")), kResultOk);
  sweep("closed");
  EXPECT_EQ(Result16(Call("InitInstrument", {0x288})), kResultNoInstrument);
  sweep("stale");
  EXPECT_EQ(Result16(Call("ExitInstrument")), kResultOk);
}

TEST_P(Win32Dll, InitAndExitFollowTheLifecycle) {
  EXPECT_EQ(Result16(Call("ExitInstrument")), kResultOk);  // nothing to release yet
  const uint16_t first = Result16(Call("InitInstrument", {0x288}));
  if (GetParam().virtualCard) {
    EXPECT_TRUE(first == kResultOk || first == kResultNoInstrument) << first;
  } else {
    // Wine is an NT-family system without the giveio driver.
    EXPECT_EQ(first, kResultNoInstrument);
    ASSERT_FALSE(boxes_.texts.empty());
    EXPECT_EQ(boxes_.texts.front(), kGiveioMessage);
  }
  EXPECT_EQ(Result16(Call("InitInstrument", {0x300})), first);  // the second call repeats the first
  EXPECT_EQ(Result16(Call("ExitInstrument")), kResultOk);
  EXPECT_EQ(Result16(Call("ExitInstrument")), kResultOk);
  if (first == kResultOk) {
    // Spent until the module is loaded again.
    EXPECT_EQ(Result16(Call("InitInstrument", {0x288})), kResultNoInstrument);
    EXPECT_EQ(Result16(Call("ExitInstrument")), kResultOk);
  }

  // Unloading and loading again starts from the beginning, also when an
  // instrument still exists at unload.
  // The running timer and the window go with the module.
  dll_ = std::make_unique<LoadedDll>(GetParam().fileName);
  ASSERT_TRUE(boxes_.Install(*dll_));
  Call("InitInstrument", {0x288});
  ASSERT_NE(FindReceiverWindow(), nullptr);
  PostMessageA(FindReceiverWindow(), 0x0400 + 13, 0, 0);
  EXPECT_GT(PumpUntilTimerTicks(1), 0);
  dll_->Unload();
  EXPECT_EQ(FindReceiverWindow(), nullptr);
  EXPECT_EQ(PumpCountingTimerTicks(40), 0);
  dll_ = std::make_unique<LoadedDll>(GetParam().fileName);
  ASSERT_TRUE(dll_->Loaded());
  ASSERT_TRUE(boxes_.Install(*dll_));
  EXPECT_EQ(Result16(Call("InitInstrument", {0x288})), first);
  EXPECT_EQ(Result16(Call("ExitInstrument")), kResultOk);
}

// The hidden window is created on the initialising thread; device arrival
// starts the 6 ms timer, which then ticks on that thread, only while it pumps
// its messages, never on another thread, and not after ExitInstrument.
TEST_P(Win32Dll, TimerTicksOnTheInitialisingThreadOnlyWhileItPumps) {
  Call("InitInstrument", {0x288});
  HWND receiver = FindReceiverWindow();
  ASSERT_NE(receiver, nullptr);
  EXPECT_EQ(GetWindowThreadProcessId(receiver, nullptr), GetCurrentThreadId());
  EXPECT_FALSE(IsWindowVisible(receiver));

  // Disabled until something starts it.
  EXPECT_EQ(PumpCountingTimerTicks(60), 0);

  boxes_.texts.clear();
  ASSERT_TRUE(PostMessageA(receiver, kDeviceChange, 0, 0));
  PumpCountingTimerTicks(0);
  EXPECT_TRUE(boxes_.texts.empty());
  ASSERT_TRUE(PostMessageA(receiver, kDeviceArrived, 0, 0));
  PumpCountingTimerTicks(0);
  ASSERT_EQ(boxes_.texts.size(), 1u);
  EXPECT_EQ(boxes_.texts[0], "WMDeviceArrived ");

  // Another thread pumping its own queue sees none of the ticks.
  int otherThreadTicks = -1;
  test::RunOnOtherThread([&] { otherThreadTicks = PumpCountingTimerTicks(150); });
  EXPECT_EQ(otherThreadTicks, 0);

  // While this thread pumps, the timer ticks.
  EXPECT_GE(PumpUntilTimerTicks(5), 5);

  // Without pumping nothing runs: the ticks missed meanwhile do not pile up.
  Sleep(150);
  EXPECT_LE(PumpCountingTimerTicks(0), 1);

  EXPECT_EQ(Result16(Call("ExitInstrument")), kResultOk);
  EXPECT_EQ(FindReceiverWindow(), nullptr);
  EXPECT_EQ(PumpCountingTimerTicks(60), 0);
}

TEST_P(Win32Dll, ProcessMessagesRunsTheTicksOnThisThread) {
  Call("InitInstrument", {0x288});
  HWND receiver = FindReceiverWindow();
  ASSERT_NE(receiver, nullptr);
  ASSERT_TRUE(PostMessageA(receiver, kDeviceArrived, 0, 0));
  // The posted message, then about one tick each 6 ms; each call returns
  // even when a tick is due again at once.
  uint32_t handled = 0;
  const DWORD start = GetTickCount();
  // Ticks keep coming while this thread processes its messages; the limit
  // only ends the wait on a loaded machine.
  while (handled < 6 && GetTickCount() - start < kPatienceMs) {
    handled += static_cast<uint32_t>(Call("RK350_ProcessMessages").value);
    Sleep(2);
  }
  EXPECT_GE(handled, 6u);
  ASSERT_EQ(boxes_.texts.size(), GetParam().virtualCard ? 1u : 2u);
  EXPECT_EQ(boxes_.texts.back(), "WMDeviceArrived ");
  Call("ExitInstrument");
}

std::string DllName(const ::testing::TestParamInfo<DllUnderTest>& info) {
  return info.param.virtualCard ? "Virtual" : "Hardware";
}

INSTANTIATE_TEST_SUITE_P(BothFlavours, Win32Dll, ::testing::ValuesIn(kDlls), DllName);

}  // namespace
}  // namespace rk350::win32
