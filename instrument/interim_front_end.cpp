// Stand-ins for operations of the input and timebase area that the
// measurement sequences call, until that area provides them: the sample
// clock and post-trigger counter sequences, the DC-level clamp and the
// front-end programming (no front-end writes) and the comparator clamp.
#include <cmath>

#include "instrument/trk350.h"

namespace rk350 {

namespace {
constexpr Extended kBaseClock = 50000000.0L;
constexpr uint32_t kPrescaler[16] = {0,   5,    10,   20,    40,    80,      160,      320,
                                     640, 1280, 5120, 20480, 81920, 1310720, 20971520, 335544320};
}  // namespace

void TRK350::ProgramSampleClock(Extended& hertz) {
  gClockMode = Interleaved ? 2 : 6;
  auto fixed = [&](Extended rate, uint8_t select) {
    WriteRegister(regs::kRegClockMode, gClockMode);
    hertz = rate;
    gClockSelect = select;
    WriteRegister(regs::kRegClockSelect, gClockSelect);
  };
  if (hertz > kBaseClock / 2) return fixed(kBaseClock, 0x0F);
  if (hertz > kBaseClock / 4) return fixed(kBaseClock / 2, 0x10);
  if (hertz >= kBaseClock / 5) return fixed(kBaseClock / 5, 0x11);
  if (hertz >= kBaseClock / 10) return fixed(kBaseClock / 10, 0x12);
  int code = 15;
  for (int i = 1; i <= 15; ++i) {
    if (hertz / 2 >= kBaseClock / 65536 / kPrescaler[i]) {
      code = i;
      break;
    }
  }
  const auto n = static_cast<uint16_t>(std::nearbyint(kBaseClock / 2 / kPrescaler[code] / hertz));
  hertz = kBaseClock / 2 / kPrescaler[code] / n;
  const auto reload = static_cast<uint16_t>(0xFFFF - n + 2);
  if (hertz > 100000) {
    gClockSelect = static_cast<uint8_t>(code + 0x20);
    gClockMode = 6;
  } else {
    gClockSelect = static_cast<uint8_t>(code + 0x30);
    gClockMode = 0x14;
  }
  WriteRegister(regs::kRegClockSelect, gClockSelect);
  WriteRegister(regs::kRegClockReloadLow, static_cast<uint8_t>(reload & 0xFF));
  WriteRegister(regs::kRegClockReloadHigh, static_cast<uint8_t>(reload >> 8));
  WriteRegister(regs::kRegCommand, 0x01);
  WriteRegister(regs::kRegCommand, 0x00);
  WriteRegister(regs::kRegClockMode, gClockMode);
}

void TRK350::LoadPostTriggerCounter(uint16_t count) {
  if (count == 0) count = 1;
  WriteRegister(regs::kRegPostCountLow, static_cast<uint8_t>(count & 0xFF));
  WriteRegister(regs::kRegPostCountHigh, static_cast<uint8_t>(count >> 8));
}

void TRK350::ClampDcLevel(int channel) {
  if (channel < 1 || channel > 2) return;
  if (DcLevel[channel] < -DcLevelLimit[channel]) {
    SetChDcLevel(channel, -DcLevelLimit[channel]);
  } else if (DcLevel[channel] > DcLevelLimit[channel]) {
    SetChDcLevel(channel, DcLevelLimit[channel]);
  }
}

void TRK350::ApplyFrontEnd() {}

int32_t TRK350::ClampInt(int32_t value, int32_t lowest, int32_t highest) {
  if (value < lowest) return lowest;
  if (value > highest) return highest;
  return value;
}

}  // namespace rk350
