// The generator clock: prescaler index and phase increment from the
// frequency.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "instrument/trk350.h"

namespace rk350 {

namespace {

constexpr Extended kBaseClock = regs::kBaseClockHz;
constexpr int kSlowestPrescaler = regs::kGenSlowestPrescaler;
constexpr Extended kPhaseUnitsPerPeriod = 8388608.0L;  // 2^23 per 1024-sample period
constexpr Extended kMinimumIncrement = 10000.0L;
constexpr Extended kShortMemoryMaxFrequency = 5000000.0L;

// Long-memory mode: the lowest frequency at which each prescaler is chosen.
// The last two are not clocks but the thresholds 100000/41 and 25000/41 Hz.
constexpr Extended kLongMemoryThreshold[14] = {50000000.0L, 25000000.0L, 10000000.0L,       5000000.0L,      2500000.0L,
                                               1250000.0L,  625000.0L,   312500.0L,         156250.0L,       78125.0L,
                                               39062.5L,    9765.625L,   100000.0L / 41.0L, 25000.0L / 41.0L};
constexpr uint8_t kLongMemoryIncrement = 0x80;  // one sample per clock

Extended PrescaledClock(int index) { return kBaseClock / regs::kGenPrescalerDivisor[index]; }

// One byte of the increment: the integer part of value, modulo 256. A value
// without an integer part (not finite, or beyond 64 bits) is reported with
// the byte's name and the increment; 0 is written in its place.
uint8_t IncrementByte(Extended value, Extended increment, const char* name) {
  const Extended whole = std::trunc(value);
  if (!std::isfinite(whole) || whole >= 9223372036854775808.0L || whole < -9223372036854775808.0L) {
    char text[64];
    std::snprintf(text, sizeof text, "%s%.15g", name, static_cast<double>(increment));
    platform::ShowMessageBox(text);
    return 0;
  }
  return static_cast<uint8_t>(static_cast<uint64_t>(static_cast<int64_t>(whole)) & 0xFF);
}

// The clock the card runs a frequency at: prescaler index, phase increment
// (short memory; the long memory plays one sample per clock) and the
// frequency after the short memory's 5 MHz limit.
struct GenClock {
  int index = kSlowestPrescaler;
  Extended increment = 0;
  Extended hertz = 0;
};

GenClock ChooseGenClock(Extended hertz, bool shortMemory) {
  GenClock clock;
  if (shortMemory) {
    if (hertz > kShortMemoryMaxFrequency) hertz = kShortMemoryMaxFrequency;
    // The highest clock at which the increment is at least 10000.
    for (int i = 1; i <= kSlowestPrescaler; ++i) {
      if (hertz >= PrescaledClock(i) * kMinimumIncrement / kPhaseUnitsPerPeriod) {
        clock.index = i;
        break;
      }
    }
    clock.increment = kPhaseUnitsPerPeriod / PrescaledClock(clock.index) * hertz;
  } else {
    // The frequency is the sample clock; the increment stays at one sample.
    for (int i = 0; i < kSlowestPrescaler; ++i) {
      if (hertz >= kLongMemoryThreshold[i]) {
        clock.index = i;
        break;
      }
    }
  }
  clock.hertz = hertz;
  return clock;
}

}  // namespace

void TRK350::ProgramGenClock(Extended& hertz) {
  const bool shortMemory = GenWaveLength == static_cast<int32_t>(regs::kGenShortMemorySamples);
  const GenClock clock = ChooseGenClock(hertz, shortMemory);
  hertz = clock.hertz;
  if (shortMemory) {
    const Extended increment = clock.increment;
    const uint8_t high = IncrementByte(increment / 65536, increment, "DeeltalHigh ");
    const uint8_t mid = IncrementByte(increment / 256, increment, "DeeltalMid ");
    const uint8_t low = IncrementByte(increment, increment, "DeeltalLow ");
    WriteRegister(regs::kRegGenIncrementLow, low);
    WriteRegister(regs::kRegGenIncrementMid, mid);
    WriteRegister(regs::kRegGenIncrementHigh, high);
    WriteRegister(regs::kRegGenClockSelect, static_cast<uint8_t>(clock.index));
    for (const uint8_t control : regs::kGenShortClockSequence) WriteRegister(regs::kRegGenControl, control);
  } else {
    WriteRegister(regs::kRegGenIncrementLow, kLongMemoryIncrement);
    WriteRegister(regs::kRegGenIncrementMid, 0);
    WriteRegister(regs::kRegGenIncrementHigh, 0);
    WriteRegister(regs::kRegGenClockSelect, static_cast<uint8_t>(clock.index));
    for (const uint8_t control : regs::kGenLongClockSequence) WriteRegister(regs::kRegGenControl, control);
  }
}

Extended TRK350::GenRunFrequency() const {
  // The wave length the output programs: an arbitrary waveform's own, else
  // the short memory's.
  const int32_t length = GenSignalType == gsArbitrary ? std::clamp<int32_t>(FuncGenMemoryLength, 1, kGenBufferWords)
                                                      : static_cast<int32_t>(regs::kGenShortMemorySamples);
  const bool shortMemory = length == static_cast<int32_t>(regs::kGenShortMemorySamples);
  const GenClock clock = ChooseGenClock(GenFrequency, shortMemory);
  if (!shortMemory) return PrescaledClock(clock.index);
  // The registers hold the increment's integer part, 24 bits of it.
  const Extended whole = std::trunc(clock.increment);
  if (!(whole >= 0) || whole >= 16777216.0L) return 0;
  return whole * PrescaledClock(clock.index) / kPhaseUnitsPerPeriod;
}

}  // namespace rk350
