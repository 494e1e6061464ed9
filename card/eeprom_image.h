// The content of the card's serial EEPROM: identity and calibration. A
// 24C32-sized memory (4096 bytes, 16-bit word addresses). Words are stored
// high byte first; the serial number and the calibration year low byte
// first.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace rk350::card {

// Where the card keeps what in its EEPROM.
namespace eeprom_layout {
constexpr uint16_t kSignature = 1;       // 0xAA
constexpr uint16_t kModelCode = 5;       // 0x50
constexpr uint16_t kSerialLow = 6;       // serial number, low byte first
constexpr uint16_t kGeneratorFitted = 8; // 0: function generator fitted
constexpr uint16_t kYearLow = 10;        // calibration year, low byte first
constexpr uint16_t kMonth = 12;
constexpr uint16_t kDay = 13;
constexpr uint16_t kHour = 14;
constexpr uint16_t kMinute = 15;
// 12-byte channel records per range r (1..12).
constexpr uint16_t ChannelRecord(int channel, int range) {
  return static_cast<uint16_t>((channel == 1 ? 20 : 176) + 12 * (range - 1));
}
constexpr uint16_t kRecOffsetTrim = 0, kRecInterleaveOffsetTrim = 1, kRecDcGain = 2, kRecDcZero = 4,
                   kRecInterleaveDcZero = 6, kRecDcStep = 8, kRecDcScale = 10;
// Generator step tables, row 0..6, entry 1..15.
constexpr uint16_t GenOffsetStep(int row, int entry) { return static_cast<uint16_t>(332 + 30 * row + 2 * (entry - 1)); }
constexpr uint16_t GenAmpStep(int row, int entry) { return static_cast<uint16_t>(542 + 30 * row + 2 * (entry - 1)); }
constexpr uint16_t kGenOffsetZeroHigh = 752, kGenOffsetZeroMid = 754, kGenOffsetZeroLow = 756, kGenUnused = 758,
                   kGenGainMid = 760, kGenGainLow = 762, kGenAmpZero = 764;
}  // namespace eeprom_layout

class EepromImage {
 public:
  static constexpr std::size_t kSize = 4096;

  EepromImage() { bytes_.fill(0xFF); }  // erased

  // The image of a plausible card: identity, a calibration date, and
  // calibration records that keep every DAC code of every offered range, DC
  // level and generator level inside its DAC.
  static EepromImage Default();

  uint8_t Byte(uint16_t address) const { return bytes_[address % kSize]; }
  void SetByte(uint16_t address, uint8_t value) { bytes_[address % kSize] = value; }
  uint16_t Word(uint16_t address) const {
    return static_cast<uint16_t>(Byte(address) << 8 | Byte(static_cast<uint16_t>(address + 1)));
  }
  void SetWord(uint16_t address, uint16_t value) {
    SetByte(address, static_cast<uint8_t>(value >> 8));
    SetByte(static_cast<uint16_t>(address + 1), static_cast<uint8_t>(value));
  }
  const std::array<uint8_t, kSize>& Bytes() const { return bytes_; }
  std::array<uint8_t, kSize>& Bytes() { return bytes_; }

 private:
  std::array<uint8_t, kSize> bytes_;
};

}  // namespace rk350::card
