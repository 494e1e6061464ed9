#include "instrument/card_identity.h"

namespace rk350 {

namespace {

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month];
}

// Register access straight through a port pair, as the instrument's own
// access goes through the active one.
struct PortSeamCard {
  hw::PortPair ports;
  uint16_t base = 0;
  uint8_t ControlRegisterShadow = 0;

  void WriteRegister(uint8_t index, uint8_t value) {
    ports.out(ports.context, base, index);
    ports.out(ports.context, static_cast<uint16_t>(base + 1), value);
  }
  uint8_t ReadPort(uint8_t offset) {
    const int v = ports.in(ports.context, static_cast<uint16_t>(base + offset));
    return v < 0 ? 0xFF : static_cast<uint8_t>(v);
  }
};

}  // namespace

bool IsValidCalibration(const CalibrationDateTime& t) {
  if (t.year == 0 || t.month < 1 || t.month > 12) return false;
  if (t.day < 1 || t.day > DaysInMonth(t.year, t.month)) return false;
  return t.hour <= 23 && t.minute <= 59;
}

CardIdentity ReadCardIdentity(const hw::PortPair& ports, uint16_t base) {
  if (ports.in == nullptr || ports.out == nullptr) return {};  // no functions: nothing answers
  PortSeamCard card{ports, base};
  return ReadIdentity(card);
}

CalibrationDateTime ReadCardCalibrationDate(const hw::PortPair& ports, uint16_t base) {
  if (ports.in == nullptr || ports.out == nullptr) return {};
  PortSeamCard card{ports, base};
  return ReadCalibrationDateOf(card);
}

}  // namespace rk350
