// The hardware flavour's own x86 `in`/`out` instructions, run unchanged:
// each faults and is served by the harness's virtual card (trapped_ports.h;
// on Linux the harness is preloaded, on Windows it is part of this program,
// which runs under Wine presenting Windows 98). Its block measurements
// through the exports must equal the virtual flavour's, sample by sample, on
// the same signals and the same card time. Under Wine presenting an NT
// version the library asks for its port driver instead, and refuses.
#include "tests/trapped/trapped_ports.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "card/virtual_card.h"
#include "hardware/register_map.h"
#include "rk350/rk350_sim.h"
#include "tools/common/library_api.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

using rk350::capture::LoadedLibrary;
namespace regs = rk350::regs;

constexpr uint16_t kBase = 0x300;    // where the harness's card sits (RK350_TRAPPED_BASE)
constexpr double kTimeStep = 50e-6;  // card time per status read

struct Record {
  std::vector<uint16_t> ch1, ch2;
};

// One block measurement as a host makes it: start, wait while processing
// messages, read both channels.
Record Measure(const LoadedLibrary& library) {
  const auto& api = library.Api();
  Record record;
  EXPECT_EQ(api.InitInstrument(kBase), RK350_RESULT_OK) << library.File();
  for (uint8_t channel : {1, 2}) {
    double fullScale = 0.4;  // volts: the signals span much of the range
    EXPECT_EQ(api.SetSensitivity(channel, &fullScale), RK350_RESULT_OK);
  }
  double rate = 100e3;  // a record of 512 samples holds several periods
  EXPECT_EQ(api.SetSampleFrequencyF(&rate), RK350_RESULT_OK);
  EXPECT_EQ(api.ADC_Start(), RK350_RESULT_OK);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (api.ADC_Ready() == 0 && std::chrono::steady_clock::now() < deadline) api.RK350_ProcessMessages();
  EXPECT_EQ(api.ADC_Ready(), 1) << library.File();
  const int32_t length = api.GetRecordLength();
  if (length > 0) {
    record.ch1.resize(static_cast<size_t>(length));
    record.ch2.resize(static_cast<size_t>(length));
    EXPECT_EQ(api.ADC_GetDataCh(1, record.ch1.data()), RK350_RESULT_OK);
    EXPECT_EQ(api.ADC_GetDataCh(2, record.ch2.data()), RK350_RESULT_OK);
  }
  EXPECT_EQ(api.ExitInstrument(), RK350_RESULT_OK);
  return record;
}

std::unique_ptr<LoadedLibrary> Open(const char* file) {
  std::string error;
  auto library = LoadedLibrary::Open(file, error);
  EXPECT_NE(library, nullptr) << error;
  return library;
}

TEST(TrappedPorts, BlockMeasurementEqualsTheVirtualFlavourSampleBySample) {
#if !defined(_WIN32)
  // The library must get its port permission from the harness, never from
  // the kernel: a process that may use the ports would reach the real bus.
  Dl_info where{};
  ASSERT_NE(dladdr(dlsym(RTLD_DEFAULT, "ioperm"), &where), 0);
  ASSERT_NE(std::string(where.dli_fname).find("trapped_ports"), std::string::npos) << where.dli_fname;
#endif
  auto hardware = Open(RK350_HARDWARE_LIBRARY);
  auto simulated = Open(RK350_VIRTUAL_LIBRARY);
  ASSERT_TRUE(hardware && simulated);

  // The same signals on both cards: a sine on CH1, a square on CH2.
  RK350SimSource sine{};
  sine.kind = RK350SIM_SOURCE_SINE;
  sine.amplitude = 0.3;
  sine.frequency = 1700;
  RK350SimSource square{};
  square.kind = RK350SIM_SOURCE_SQUARE;
  square.amplitude = 0.2;
  square.frequency = 900;
  square.offset = -0.05;
  auto& card = RK350Trapped_Card();
  const auto setSource = [&](uint8_t input, const RK350SimSource& s) {
    rk350::card::SignalSource source;
    source.kind = static_cast<rk350::card::SourceKind>(s.kind);
    source.amplitude = s.amplitude;
    source.frequency = s.frequency;
    source.offset = s.offset;
    card.Sources().Set(input, source);
    using SetInputSource = decltype(&RK350Sim_SetInputSource);
    auto set = reinterpret_cast<SetInputSource>(simulated->Find("RK350Sim_SetInputSource"));
    ASSERT_NE(set, nullptr);
    ASSERT_EQ(set(input, &s), RK350_RESULT_OK);
  };
  setSource(1, sine);
  setSource(2, square);
  // Card time moves only with the library's status reads, on both.
  RK350Trapped_SetManualTime(0, kTimeStep);
  reinterpret_cast<decltype(&RK350Sim_SetBaseAddress)>(simulated->Find("RK350Sim_SetBaseAddress"))(kBase);
  reinterpret_cast<decltype(&RK350Sim_SetManualTime)>(simulated->Find("RK350Sim_SetManualTime"))(0);
  reinterpret_cast<decltype(&RK350Sim_SetAutoTimeStep)>(simulated->Find("RK350Sim_SetAutoTimeStep"))(kTimeStep);

  const uint64_t insBefore = RK350Trapped_InCount();
  const uint64_t outsBefore = RK350Trapped_OutCount();
  const Record trapped = Measure(*hardware);
  const uint64_t ins = RK350Trapped_InCount() - insBefore;
  const uint64_t outs = RK350Trapped_OutCount() - outsBefore;
  const Record expected = Measure(*simulated);

  ASSERT_FALSE(expected.ch1.empty());
  // Every sample byte came through a trapped `in`.
  EXPECT_GE(ins, 2 * expected.ch1.size());
  EXPECT_GT(outs, 0u);
  EXPECT_EQ(trapped.ch1, expected.ch1);
  EXPECT_EQ(trapped.ch2, expected.ch2);
  // A real signal, not an empty bus: the sine spans many codes.
  const auto [low, high] = std::minmax_element(trapped.ch1.begin(), trapped.ch1.end());
  EXPECT_GT(*high - *low, 0x4000);
  std::printf("trapped: %llu in, %llu out for a record of %zu samples per channel\n",
              static_cast<unsigned long long>(ins), static_cast<unsigned long long>(outs), trapped.ch1.size());
}

#if defined(__x86_64__)
// Each encoding of `in` and `out` the processor has: byte, word and
// doubleword, through DX and through an immediate port number.
TEST(TrappedPorts, EveryFormOfInAndOutIsServed) {
  auto& card = RK350Trapped_Card();
  ASSERT_EQ(card.Base(), kBase);
  const uint64_t insBefore = RK350Trapped_InCount();
  const uint64_t outsBefore = RK350Trapped_OutCount();

  // out dx, al: register index, then its data.
  uint16_t port = kBase + regs::kPortIndex;
  asm volatile("outb %%al, %%dx" : : "a"(uint8_t{regs::kRegClockReloadLow}), "d"(port));
  port = kBase + regs::kPortData;
  asm volatile("outb %%al, %%dx" : : "a"(uint8_t{0x5A}), "d"(port));
  EXPECT_EQ(card.Register(regs::kRegClockReloadLow), 0x5A);
  // out dx, ax: the low byte at the port (index), the high byte at the next (data).
  const uint32_t writesBefore = card.RegisterWriteCount(regs::kRegClockReloadHigh);
  port = kBase + regs::kPortIndex;
  asm volatile("outw %%ax, %%dx" : : "a"(uint16_t{0xA500 | regs::kRegClockReloadHigh}), "d"(port));
  EXPECT_EQ(card.Register(regs::kRegClockReloadHigh), 0xA5);
  EXPECT_EQ(card.RegisterWriteCount(regs::kRegClockReloadHigh), writesBefore + 1);
  // out imm8, al and out imm8, eax: nothing decodes port 0x80; the writes go nowhere.
  asm volatile("outb %%al, $0x80" : : "a"(uint8_t{1}));
  asm volatile("outl %%eax, $0x80" : : "a"(uint32_t{2}));

  // in al, imm8: an empty bus reads 0xFF; the rest of RAX stays.
  uint64_t rax = 0x1122334455667788;
  asm volatile("inb $0x80, %%al" : "+a"(rax));
  EXPECT_EQ(rax, 0x11223344556677FFu);
  // in ax, dx: the address counter, high byte port then low byte port.
  const uint16_t counter =
      static_cast<uint16_t>(card.In(kBase + regs::kPortAddressHigh) | card.In(kBase + regs::kPortAddressLow) << 8);
  rax = 0x1122334455667788;
  port = kBase + regs::kPortAddressHigh;
  asm volatile("inw %%dx, %%ax" : "+a"(rax) : "d"(port));
  EXPECT_EQ(rax, 0x1122334455660000u | counter);
  // in eax, dx: two bytes of the card, two of the empty bus beyond it; a
  // 32-bit result clears the upper half of RAX.
  rax = 0x1122334455667788;
  asm volatile("inl %%dx, %%eax" : "+a"(rax) : "d"(port));
  EXPECT_EQ(rax, 0xFFFF0000u | counter);
  // in eax, imm8.
  asm volatile("inl $0x80, %%eax" : "+a"(rax));
  EXPECT_EQ(rax, 0xFFFFFFFFu);

  EXPECT_EQ(RK350Trapped_InCount() - insBefore, 4u);
  EXPECT_EQ(RK350Trapped_OutCount() - outsBefore, 5u);
}

#endif

#if !defined(_WIN32)
// The handler serves port instructions only: any other fault still ends the
// program, as without the harness.
TEST(TrappedPortsDeathTest, OtherFaultsStillEndTheProgram) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(asm volatile("hlt"), "");  // privileged, but no port instruction
  volatile int* volatile nowhere = nullptr;
  EXPECT_DEATH(*nowhere = 1, "");
}
#else
OSVERSIONINFOA WindowsVersion() {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof(info);
  EXPECT_TRUE(GetVersionExA(&info));
  return info;
}

// The program's Windows version comes from Wine's registry (set for this
// program's file name by the test's setup).
TEST(TrappedPortsWin98, WinePresentsWindows98) {
  const OSVERSIONINFOA info = WindowsVersion();
  EXPECT_EQ(info.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_WINDOWS));
  EXPECT_EQ(info.dwMajorVersion, 4u);
  EXPECT_EQ(info.dwMinorVersion, 10u);
}

std::vector<std::string> gBoxes;
void RK350_CALL KeepBox(void*, const char* text) { gBoxes.emplace_back(text); }

// NT needs the giveio driver for port instructions in user mode; without it
// the library says so and finds no card, and no instruction runs.
TEST(TrappedPortsNt, WithoutGiveioTheMessageAndNoInstrument) {
  ASSERT_EQ(WindowsVersion().dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
  auto hardware = Open(RK350_HARDWARE_LIBRARY);
  ASSERT_TRUE(hardware);
  auto setHandler =
      reinterpret_cast<decltype(&RK350_SetMessageBoxHandler)>(hardware->Find("RK350_SetMessageBoxHandler"));
  ASSERT_NE(setHandler, nullptr);
  setHandler(&KeepBox, nullptr);
  const uint64_t ins = RK350Trapped_InCount() + RK350Trapped_OutCount();
  EXPECT_EQ(hardware->Api().InitInstrument(kBase), RK350_RESULT_NO_INSTRUMENT);
  ASSERT_EQ(gBoxes.size(), 1u);
  EXPECT_EQ(gBoxes[0],
            "Windows NT / 2000 / XP requires an extra NT-driver for the parallel port and ISA bus.\n"
            "It was not detected on this computer.\nHardware will not be available");
  EXPECT_EQ(RK350Trapped_InCount() + RK350Trapped_OutCount(), ins);
  EXPECT_EQ(hardware->Api().ExitInstrument(), RK350_RESULT_OK);
}
#endif

}  // namespace
