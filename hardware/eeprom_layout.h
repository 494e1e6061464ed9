// Where the card keeps what in its serial EEPROM: identity, calibration date,
// the calibration records of both input channels and the generator tables.
// Words are stored high byte first; the serial number and the calibration
// year low byte first. Shared by the library and the virtual card.
#pragma once

#include <cstdint>

namespace rk350::eeprom_layout {

constexpr uint16_t kSignature = 1;        // 0xAA
constexpr uint16_t kModelCode = 5;        // 0x50
constexpr uint16_t kSerialLow = 6;        // serial number, low byte first
constexpr uint16_t kGeneratorFitted = 8;  // 0: function generator fitted
constexpr uint16_t kYearLow = 10;         // calibration year, low byte first
constexpr uint16_t kMonth = 12;
constexpr uint16_t kDay = 13;
constexpr uint16_t kHour = 14;
constexpr uint16_t kMinute = 15;

constexpr uint8_t kSignatureValue = 0xAA;
constexpr uint8_t kModelCodeRk350 = 0x50;

// 12-byte channel records per range r (1..12).
constexpr uint16_t ChannelRecord(int channel, int range) {
  return static_cast<uint16_t>((channel == 1 ? 20 : 176) + 12 * (range - 1));
}
constexpr uint16_t kRecOffsetTrim = 0, kRecInterleaveOffsetTrim = 1, kRecDcGain = 2, kRecDcZero = 4,
                   kRecInterleaveDcZero = 6, kRecDcStep = 8, kRecDcScale = 10;
constexpr uint16_t kChannelRecordSize = 12;

// Generator step tables, row 0..6, entry 1..15.
constexpr uint16_t GenOffsetStep(int row, int entry) { return static_cast<uint16_t>(332 + 30 * row + 2 * (entry - 1)); }
constexpr uint16_t GenAmpStep(int row, int entry) { return static_cast<uint16_t>(542 + 30 * row + 2 * (entry - 1)); }
constexpr uint16_t kGenOffsetZeroHigh = 752, kGenOffsetZeroMid = 754, kGenOffsetZeroLow = 756, kGenUnused = 758,
                   kGenGainMid = 760, kGenGainLow = 762, kGenAmpZero = 764;

}  // namespace rk350::eeprom_layout
