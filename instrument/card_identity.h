// What the card's EEPROM says about the card: whether it is an RK350 ISA,
// its serial number, whether a function generator is fitted, and its
// calibration date. Read the same way by the instrument's detection and by
// a reader on the port seam that needs no instrument (ReadCardIdentity).
#pragma once

#include <cstdint>
#include <string>

#include "hardware/eeprom_layout.h"
#include "hardware/port_io.h"
#include "instrument/eeprom_protocol.h"

namespace rk350 {

// Calibration date and time of day as the EEPROM holds it.
struct CalibrationDateTime {
  int year = 1980, month = 1, day = 1, hour = 0, minute = 0;
};

// The instrument kind and name of an RK350 ISA.
constexpr uint8_t kKindRk350 = 5;
constexpr uint8_t kKindUnknown = 0;
inline constexpr const char* kDeviceNameRk350 = "RK350 ISA";

// The identity bytes as detection reads them.
struct CardIdentity {
  bool answered = false;   // the signature byte is valid: a card's memory answers
  bool rk350 = false;      // ... and its model code is an RK350 ISA's
  int32_t serial = 0;      // read for an RK350 ISA only
  bool generator = false;  // a function generator is fitted (read for an RK350 ISA only)
};

// A stored calibration time that names a real date and time of day.
bool IsValidCalibration(const CalibrationDateTime& t);

// The detection reads, in the order the card's contract has them: signature,
// model code, then for an RK350 ISA the serial number (low byte first) and
// the generator fitting byte.
template <class Card>
CardIdentity ReadIdentity(Card& card) {
  namespace layout = eeprom_layout;
  CardIdentity id;
  id.answered = eeprom_protocol::ReadByte(card, layout::kSignature) == layout::kSignatureValue;
  if (!id.answered) return id;
  id.rk350 = eeprom_protocol::ReadByte(card, layout::kModelCode) == layout::kModelCodeRk350;
  if (!id.rk350) return id;
  const int serialLow = eeprom_protocol::ReadByte(card, layout::kSerialLow);  // low byte first, on the wire too
  id.serial = serialLow + 256 * eeprom_protocol::ReadByte(card, layout::kSerialLow + 1);
  id.generator = eeprom_protocol::ReadByte(card, layout::kGeneratorFitted) == 0;
  return id;
}

// The calibration date; a stored time that names no real date and time of
// day reads as the default.
template <class Card>
CalibrationDateTime ReadCalibrationDateOf(Card& card) {
  namespace layout = eeprom_layout;
  CalibrationDateTime stored;
  const int yearLow = eeprom_protocol::ReadByte(card, layout::kYearLow);
  const int yearHigh = eeprom_protocol::ReadByte(card, layout::kYearLow + 1);
  stored.year = yearLow + 256 * yearHigh;
  stored.month = eeprom_protocol::ReadByte(card, layout::kMonth);
  stored.day = eeprom_protocol::ReadByte(card, layout::kDay);
  stored.hour = eeprom_protocol::ReadByte(card, layout::kHour);
  stored.minute = eeprom_protocol::ReadByte(card, layout::kMinute);
  return IsValidCalibration(stored) ? stored : CalibrationDateTime{};
}

// The reader on the port seam: the identity and the calibration date of the
// card at `base`, read through `ports` directly (the active port pair is not
// touched, no instrument is built). A port function's fault reads as an
// open bus (0xFF).
CardIdentity ReadCardIdentity(const hw::PortPair& ports, uint16_t base);
CalibrationDateTime ReadCardCalibrationDate(const hw::PortPair& ports, uint16_t base);

}  // namespace rk350
