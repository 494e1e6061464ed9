// The front end's serial bus: 11-bit words into the serial DACs of a path and
// relay bytes into the latch shift register, bit-banged through register 0
// (selects and strobes) and register 1 (data and clock).
#include "instrument/trk350.h"

namespace rk350 {

namespace {
constexpr uint8_t kIdle = regs::kSelectIdle;  // no DAC selected, no latch strobed
constexpr int kDacWordBits = regs::kFrontEndDacWordBits;

constexpr uint8_t DataBit(bool one) { return one ? regs::kFrontEndData : 0; }
}  // namespace

void TRK350::ShiftDacWord(int path, uint16_t word) {
  const uint8_t select = path == 2 ? regs::kSelectDacPath2 : regs::kSelectDacPath1;
  WriteRegister(regs::kRegSerialLines, 0x00);
  WriteRegister(regs::kRegSerialSelect, static_cast<uint8_t>(kIdle & ~select));
  uint8_t d = 0;
  for (int bit = kDacWordBits - 1; bit >= 0; --bit) {
    d = DataBit((word >> bit) & 1);
    WriteRegister(regs::kRegSerialLines, d);
    WriteRegister(regs::kRegSerialLines, static_cast<uint8_t>(d | regs::kFrontEndClock));
  }
  WriteRegister(regs::kRegSerialLines, d);  // clock low before the select rises
  WriteRegister(regs::kRegSerialSelect, kIdle);
}

void TRK350::ShiftFrontEndByte(uint8_t value, uint8_t strobe) {
  WriteRegister(regs::kRegSerialSelect, kIdle);
  for (int bit = 7; bit >= 0; --bit) {
    const uint8_t d = DataBit((value >> bit) & 1);
    WriteRegister(regs::kRegSerialLines, d);
    WriteRegister(regs::kRegSerialLines, static_cast<uint8_t>(d | regs::kFrontEndClock));
  }
  // The clock stays high after the last bit; the strobe copies the shift
  // register into the path's relay latch.
  WriteRegister(regs::kRegSerialSelect, static_cast<uint8_t>(kIdle | strobe));
  WriteRegister(regs::kRegSerialSelect, kIdle);
}

namespace {
constexpr uint16_t DacWord(int address, int32_t value) {
  return static_cast<uint16_t>((address & 7) << 8 | (value & 0xFF));
}
}  // namespace

void TRK350::WriteTrimDacs(int path, int32_t g) {
  g = ClampInt(g, 0, 255);
  ShiftDacWord(path, DacWord(regs::kDacTrimLow, 255 - g));
  ShiftDacWord(path, DacWord(regs::kDacTrimHigh, g));
}

void TRK350::WriteOffsetDacs(int path, int32_t fine, int32_t coarse) {
  coarse = ClampInt(coarse, 1, 254);
  fine = ClampInt(fine, 0, 255);
  ShiftDacWord(path, DacWord(regs::kDacCoarseDown, 254 - coarse));
  ShiftDacWord(path, DacWord(regs::kDacCoarseUp, coarse - 1));
  ShiftDacWord(path, DacWord(regs::kDacFine, 255 - fine));
}

}  // namespace rk350
