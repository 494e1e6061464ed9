// The card's serial EEPROM, reached by bit-banging its two wires through
// card register 1 and reading the data line back through status bit 0x10.
// There is no bus controller and no delay: the bus runs as fast as the port
// writes. The library only reads the memory.
#include <string>

#include "instrument/trk350.h"
#include "platform/platform.h"

namespace rk350 {

namespace {

// Control byte of register 1 while the card drives the data line, and while
// it releases it for the memory.
constexpr uint8_t kDrivenLines = regs::kEepromAlwaysSet | regs::kEepromDrive;  // 0x0C
constexpr uint8_t kReleasedLines = regs::kEepromAlwaysSet;                     // 0x08

// Runs one read operation and catches a bus fault raised while it runs: the
// operation then shows "<name><address>" and yields 0. A fault already
// pending before the operation is not blamed on it and stays pending.
template <typename Result, typename Read>
Result GuardedRead(const char* name, uint16_t address, Read read) {
  const bool earlierFault = hw::TakeBusFault();
  const Result value = read();
  const bool failed = hw::TakeBusFault();
  if (earlierFault) hw::detail::gBusFault = true;
  if (!failed) return value;
  const std::string text = name + std::to_string(address);
  platform::ShowMessageBox(text.c_str());
  return 0;
}

// One random read of a byte, without fault handling.
uint8_t RandomRead(TRK350& instrument, uint16_t address) {
  instrument.StartAndAddress(false);
  instrument.SendByte(static_cast<uint8_t>(address >> 8));
  instrument.SendByte(static_cast<uint8_t>(address & 0xFF));
  instrument.StopCondition();
  instrument.StartAndAddress(true);
  const uint8_t value = instrument.ReceiveByte();
  instrument.StopCondition();
  return value;
}

uint16_t BigEndianWord(TRK350& instrument, uint16_t address) {
  const uint8_t high = RandomRead(instrument, address);
  const uint8_t low = RandomRead(instrument, static_cast<uint16_t>(address + 1));
  return static_cast<uint16_t>(high << 8 | low);
}

}  // namespace

// ---- Line primitives -------------------------------------------------------

void TRK350::SetLines(bool data, bool clock) {
  uint8_t control = kDrivenLines;
  if (clock) control |= regs::kEepromClock;
  if (data) control |= regs::kEepromData;
  ControlRegisterShadow = control;
  WriteRegister(regs::kRegSerialLines, control);
}

uint8_t TRK350::SampleDataLine(bool clock) {
  uint8_t control = kReleasedLines;
  if (clock) control |= regs::kEepromClock;
  ControlRegisterShadow = control;
  WriteRegister(regs::kRegSerialLines, control);
  return (ReadPort(regs::kPortStatus) & regs::kStatusEepromData) != 0 ? 1 : 0;
}

// Data falls while the clock is high.
void TRK350::StartCondition() {
  SetLines(true, true);
  SetLines(false, true);
  SetLines(false, false);
}

// Data rises while the clock is high.
void TRK350::StopCondition() {
  SetLines(false, true);
  SetLines(true, true);
}

void TRK350::StartAndAddress(bool read) {
  StartCondition();
  SendByte(read ? regs::kEepromDeviceRead : regs::kEepromDeviceWrite);
}

// Most significant bit first, then one clock for the memory's acknowledge,
// which is sampled and not checked: the caller judges the content instead.
void TRK350::SendByte(uint8_t value) {
  for (int bit = 7; bit >= 0; --bit) {
    const bool level = ((value >> bit) & 1) != 0;
    SetLines(level, false);
    SetLines(level, true);
    SetLines(level, false);
  }
  SampleDataLine(false);
  SampleDataLine(true);
  SetLines(false, false);
}

// Eight bits sampled while the clock is high, then a no-acknowledge so that
// the memory stops sending.
uint8_t TRK350::ReceiveByte() {
  uint8_t value = 0;
  for (int bit = 7; bit >= 0; --bit) {
    SampleDataLine(false);
    value = static_cast<uint8_t>(value | SampleDataLine(true) << bit);
    SampleDataLine(false);
  }
  SetLines(true, false);
  SetLines(true, true);
  SetLines(true, false);
  return value;
}

// ---- Reads -------------------------------------------------------------------

uint8_t TRK350::ReadByte(uint16_t address) {
  return GuardedRead<uint8_t>("ReadByte ", address, [&] { return RandomRead(*this, address); });
}

uint16_t TRK350::ReadWord(uint16_t address) {
  return GuardedRead<uint16_t>("ReadWord ", address, [&] { return BigEndianWord(*this, address); });
}

int32_t TRK350::ReadInteger(uint16_t address) {
  return GuardedRead<int32_t>("ReadInteger ", address, [&] {
    const int32_t word = BigEndianWord(*this, address);
    return (word & 0x8000) != 0 ? word - 65536 : word;
  });
}

}  // namespace rk350
