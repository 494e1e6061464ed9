// The content of the card's serial EEPROM: identity and calibration. A
// 24C32-sized memory (4096 bytes, 16-bit word addresses). Words are stored
// high byte first; the serial number and the calibration year low byte
// first.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "hardware/eeprom_layout.h"

namespace rk350::card {

// Where the card keeps what in its EEPROM (shared with the library).
namespace eeprom_layout = rk350::eeprom_layout;

// The EEPROM a virtual card is made with.
enum class EepromVariant : uint8_t {
  kDefault,      // the plausible card of EepromImage::Default()
  kBlank,        // erased: every byte 0xFF
  kNoAnswer,     // no memory answers on the wires: the data line stays high
  kWrongModel,   // signature present, model code 0x51
  kInvalidDate,  // calibration month 13
  kNoGenerator,  // generator fitting byte 1: no function generator
};
constexpr int kEepromVariantCount = 6;
// Short names ("default", "blank", "no-answer", "wrong-model", "invalid-date",
// "no-generator"), for tools and messages.
const char* EepromVariantName(EepromVariant variant);
// False for an unknown name.
bool EepromVariantFromName(const char* name, EepromVariant& variant);

class EepromImage {
 public:
  static constexpr std::size_t kSize = 4096;

  EepromImage() { bytes_.fill(0xFF); }  // erased

  // The image of a plausible card: identity, a calibration date, and
  // calibration records that keep every DAC code of every offered range, DC
  // level and generator level inside its DAC.
  static EepromImage Default();
  // The image of a variant (kNoAnswer keeps the default content: it is the
  // memory that does not answer).
  static EepromImage OfVariant(EepromVariant variant);

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
