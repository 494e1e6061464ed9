// The card's serial EEPROM, reached by bit-banging its two wires through
// card register 1 and reading the data line back through status bit 0x10.
// There is no bus controller and no delay: the bus runs as fast as the port
// writes. The library only reads the memory.
//
// The protocol is written once, over any card access that offers
// WriteRegister(index, value), ReadPort(offset) and a ControlRegisterShadow
// byte: the instrument, and the identity reader on the port seam
// (card_identity.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "hardware/port_io.h"
#include "hardware/register_map.h"
#include "platform/platform.h"

namespace rk350::eeprom_protocol {

// Control byte of register 1 while the card drives the data line, and while
// it releases it for the memory.
constexpr uint8_t kDrivenLines = regs::kEepromAlwaysSet | regs::kEepromDrive;  // 0x0C
constexpr uint8_t kReleasedLines = regs::kEepromAlwaysSet;                     // 0x08

// ---- Line primitives ---------------------------------------------------------

template <class Card>
void SetLines(Card& card, bool data, bool clock) {
  uint8_t control = kDrivenLines;
  if (clock) control |= regs::kEepromClock;
  if (data) control |= regs::kEepromData;
  card.ControlRegisterShadow = control;
  card.WriteRegister(regs::kRegSerialLines, control);
}

template <class Card>
uint8_t SampleDataLine(Card& card, bool clock) {
  uint8_t control = kReleasedLines;
  if (clock) control |= regs::kEepromClock;
  card.ControlRegisterShadow = control;
  card.WriteRegister(regs::kRegSerialLines, control);
  return (card.ReadPort(regs::kPortStatus) & regs::kStatusEepromData) != 0 ? 1 : 0;
}

// Data falls while the clock is high.
template <class Card>
void StartCondition(Card& card) {
  SetLines(card, true, true);
  SetLines(card, false, true);
  SetLines(card, false, false);
}

// Data rises while the clock is high.
template <class Card>
void StopCondition(Card& card) {
  SetLines(card, false, true);
  SetLines(card, true, true);
}

// Most significant bit first, then one clock for the memory's acknowledge,
// which is sampled and not checked: the caller judges the content instead.
template <class Card>
void SendByte(Card& card, uint8_t value) {
  for (int bit = 7; bit >= 0; --bit) {
    const bool level = ((value >> bit) & 1) != 0;
    SetLines(card, level, false);
    SetLines(card, level, true);
    SetLines(card, level, false);
  }
  SampleDataLine(card, false);
  SampleDataLine(card, true);
  SetLines(card, false, false);
}

template <class Card>
void StartAndAddress(Card& card, bool read) {
  StartCondition(card);
  SendByte(card, read ? regs::kEepromDeviceRead : regs::kEepromDeviceWrite);
}

// Eight bits sampled while the clock is high.
template <class Card>
uint8_t ReceiveBits(Card& card) {
  uint8_t value = 0;
  for (int bit = 7; bit >= 0; --bit) {
    SampleDataLine(card, false);
    value = static_cast<uint8_t>(value | SampleDataLine(card, true) << bit);
    SampleDataLine(card, false);
  }
  return value;
}

// The controller's answer to a received byte, one clock with the data line
// held: low (acknowledge) asks the memory for the next byte, high
// (no-acknowledge) makes it stop sending.
template <class Card>
void AnswerByte(Card& card, bool acknowledge) {
  SetLines(card, !acknowledge, false);
  SetLines(card, !acknowledge, true);
  SetLines(card, !acknowledge, false);
}

// Eight bits, then a no-acknowledge so that the memory stops sending.
template <class Card>
uint8_t ReceiveByte(Card& card) {
  const uint8_t value = ReceiveBits(card);
  AnswerByte(card, false);
  return value;
}

// ---- Reads ---------------------------------------------------------------------

// One random read of a byte, without fault handling.
template <class Card>
uint8_t RandomRead(Card& card, uint16_t address) {
  StartAndAddress(card, false);
  SendByte(card, static_cast<uint8_t>(address >> 8));
  SendByte(card, static_cast<uint8_t>(address & 0xFF));
  StopCondition(card);
  StartAndAddress(card, true);
  const uint8_t value = ReceiveByte(card);
  StopCondition(card);
  return value;
}

// A sequential read of `count` bytes from `address` on: the random read's
// addressing once, then every byte but the last acknowledged, so the memory
// sends the next one (its address pointer counts up). Per byte it costs a
// fifth of a random read's bus traffic.
template <class Card>
void SequentialRead(Card& card, uint16_t address, uint8_t* out, size_t count) {
  if (count == 0) return;
  StartAndAddress(card, false);
  SendByte(card, static_cast<uint8_t>(address >> 8));
  SendByte(card, static_cast<uint8_t>(address & 0xFF));
  StopCondition(card);
  StartAndAddress(card, true);
  for (size_t i = 0; i < count; ++i) {
    out[i] = ReceiveBits(card);
    AnswerByte(card, i + 1 < count);
  }
  StopCondition(card);
}

template <class Card>
uint16_t BigEndianWord(Card& card, uint16_t address) {
  const uint8_t high = RandomRead(card, address);
  const uint8_t low = RandomRead(card, static_cast<uint16_t>(address + 1));
  return static_cast<uint16_t>(high << 8 | low);
}

// Runs one read operation and catches a bus fault raised while it runs: the
// operation then shows "<name><address>" and yields 0.
// Runs `operation` and answers whether no bus fault was raised while it ran;
// a fault already pending before it is not blamed on it and stays pending.
template <typename Operation>
bool RanWithoutFault(Operation operation) {
  const bool earlierFault = hw::TakeBusFault();
  operation();
  const bool failed = hw::TakeBusFault();
  if (earlierFault) hw::detail::gBusFault = true;
  return !failed;
}

template <typename Result, typename Read>
Result GuardedRead(const char* name, uint16_t address, Read read) {
  Result value{};
  if (RanWithoutFault([&] { value = read(); })) return value;
  const std::string text = name + std::to_string(address);
  platform::ShowMessageBox(text.c_str());
  return 0;
}

template <class Card>
uint8_t ReadByte(Card& card, uint16_t address) {
  return GuardedRead<uint8_t>("ReadByte ", address, [&] { return RandomRead(card, address); });
}

template <class Card>
uint16_t ReadWord(Card& card, uint16_t address) {
  return GuardedRead<uint16_t>("ReadWord ", address, [&] { return BigEndianWord(card, address); });
}

template <class Card>
int32_t ReadInteger(Card& card, uint16_t address) {
  return GuardedRead<int32_t>("ReadInteger ", address, [&] {
    const int32_t word = BigEndianWord(card, address);
    return (word & 0x8000) != 0 ? word - 65536 : word;
  });
}

}  // namespace rk350::eeprom_protocol
