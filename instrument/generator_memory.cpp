// Loading the generator's waveform memory. With the clock stopped, each
// sample is put on the data registers, strobed into the memory and the phase
// accumulator advanced by one sample; the accumulator then restarts from the
// prescaled clock.
#include <algorithm>
#include <cstdint>

#include "instrument/trk350.h"

namespace rk350 {

namespace {
// Phase increment of one sample during the load.
constexpr uint32_t kShortLoadIncrement = regs::kGenPhaseUnits / regs::kGenShortMemorySamples;  // 0x2000
constexpr uint32_t kLongLoadIncrement = regs::kGenPhaseUnits / regs::kGenLongMemorySamples;    // 0x80
}  // namespace

void TRK350::LoadGenMemory(const uint16_t* samples, int32_t count) {
  const bool shortMemory = GenWaveLength == static_cast<int32_t>(regs::kGenShortMemorySamples);
  const uint8_t mode = shortMemory ? 0 : regs::kGenCtrlLongMemory;
  const uint32_t increment = shortMemory ? kShortLoadIncrement : kLongLoadIncrement;
  // The sources are the instrument's 65536-word blocks; never read past them.
  const int32_t n = samples == nullptr ? 0 : std::clamp<int32_t>(count, 0, kGenBufferWords);

  WriteRegister(regs::kRegGenIncrementLow, static_cast<uint8_t>(increment));
  WriteRegister(regs::kRegGenIncrementMid, static_cast<uint8_t>(increment >> 8));
  WriteRegister(regs::kRegGenIncrementHigh, 0);
  WriteRegister(regs::kRegGenClockSelect, regs::kGenClockStopped);
  WriteRegister(regs::kRegGenControl, regs::kGenLoadHoldReset | mode);
  WriteRegister(regs::kRegGenControl, regs::kGenLoadReleased | mode);
  for (int32_t i = 0; i < n; ++i) {
    WriteRegister(regs::kRegGenMemDataLow, static_cast<uint8_t>(samples[i]));
    WriteRegister(regs::kRegGenMemDataHigh, static_cast<uint8_t>(samples[i] >> 8));
    WriteRegister(regs::kRegGenControl, regs::kGenLoadStrobeLow | mode);
    WriteRegister(regs::kRegGenControl, regs::kGenLoadReleased | mode);  // write strobe rises
    WriteRegister(regs::kRegGenControl, regs::kGenLoadAdvanceLow | mode);
    WriteRegister(regs::kRegGenControl, regs::kGenLoadReleased | mode);  // advance line rises
  }
  WriteRegister(regs::kRegGenControl, regs::kGenLoadRun | mode);
}

}  // namespace rk350
