// Sample clock and post-trigger counter register sequences.
#include "instrument/sample_clock.h"

#include <cmath>

#include "instrument/trk350.h"

namespace rk350 {

void TRK350::ProgramSampleClock(Extended& hertz) {
  using namespace sample_clock;
  using namespace regs;
  constexpr Extended B = kBaseClock;
  // Below the slowest rate the divider would no longer fit 16 bits.
  if (!IsProgrammableRate(hertz)) hertz = kMinRate;

  gClockMode = Interleaved ? kClockModeFixedInterleaved : kClockModeFixed;

  const auto fixedRate = [&](Extended rate, uint8_t select) {
    WriteRegister(regs::kRegClockMode, gClockMode);
    hertz = rate;
    gClockSelect = select;
    WriteRegister(regs::kRegClockSelect, gClockSelect);
  };
  if (hertz > B / 2) return fixedRate(B, kClockSelect50MHz);
  if (hertz > B / 4) return fixedRate(B / 2, kClockSelect25MHz);
  if (hertz >= B / 5) return fixedRate(B / 5, kClockSelect10MHz);
  if (hertz >= B / 10) return fixedRate(B / 10, kClockSelect5MHz);

  // Counter rates: the smallest prescaler whose 16-bit divider reaches the
  // request.
  int code = kLastPrescaler;
  for (int i = 1; i <= kLastPrescaler; ++i) {
    if (hertz / 2 >= B / 65536 / kPrescalerDivisor[i]) {
      code = i;
      break;
    }
  }
  const Extended prescaled = B / 2 / kPrescalerDivisor[code];
  const auto divider = static_cast<uint16_t>(static_cast<int32_t>(std::nearbyint(prescaled / hertz)));
  hertz = prescaled / divider;
  const auto reload = static_cast<uint16_t>(0xFFFF - divider + 2);

  if (hertz > kFastCounterLimit) {
    gClockSelect = static_cast<uint8_t>(code + kClockSelectFastCounter);
    gClockMode = kClockModeFastCounter;
  } else {
    gClockSelect = static_cast<uint8_t>(code + kClockSelectSlowCounter);
    gClockMode = kClockModeSlowCounter;
  }
  WriteRegister(regs::kRegClockSelect, gClockSelect);
  WriteRegister(regs::kRegClockReloadLow, static_cast<uint8_t>(reload & 0xFF));
  WriteRegister(regs::kRegClockReloadHigh, static_cast<uint8_t>(reload >> 8));
  WriteRegister(regs::kRegCommand, kCommandLoadCounter);
  WriteRegister(regs::kRegCommand, kCommandIdle);
  WriteRegister(regs::kRegClockMode, gClockMode);
}

void TRK350::LoadPostTriggerCounter(uint16_t count) {
  if (count == 0) count = 1;
  WriteRegister(regs::kRegPostCountLow, static_cast<uint8_t>(count & 0xFF));
  WriteRegister(regs::kRegPostCountHigh, static_cast<uint8_t>(count >> 8));
}

}  // namespace rk350
