#include "card/virtual_card.h"

namespace rk350::card {

VirtualCard::VirtualCard(uint16_t base, EepromVariant eeprom) : base_(base), eeprom_(eeprom) { Reset(); }

void VirtualCard::Reset() {
  registers_.fill(0);
  writeCounts_.fill(0);
  selectedIndex_ = 0;
  frontEnd_.Reset();
  generator_.Reset();
  eeprom_.Reset();
  sampleClock_.Reset();
}

uint8_t VirtualCard::In(uint16_t port) {
  if (!Decodes(port)) return 0xFF;
  switch (port - base_) {
    case regs::kPortIndex:
      return ReadSampleByte(2);
    case regs::kPortData:
      return ReadSampleByte(1);
    case regs::kPortStatus:
      return ReadStatus();
    case regs::kPortAddressHigh:
    case regs::kPortAddressLow:
    default:
      return 0;
  }
}

void VirtualCard::Out(uint16_t port, uint8_t value) {
  if (!Decodes(port)) return;
  switch (port - base_) {
    case regs::kPortIndex:
      selectedIndex_ = value;
      break;
    case regs::kPortData:
      if (selectedIndex_ < regs::kRegisterCount) {
        registers_[selectedIndex_] = value;
        ++writeCounts_[selectedIndex_];
      }
      OnRegisterWrite(selectedIndex_, value);
      break;
    default:
      break;  // ports 2..4 are read-only
  }
}

void VirtualCard::OnRegisterWrite(uint8_t index, uint8_t value) {
  frontEnd_.OnRegisterWrite(index, value);
  generator_.OnRegisterWrite(index, value);
  eeprom_.OnRegisterWrite(index, value);
  sampleClock_.OnRegisterWrite(index, value);
}

uint8_t VirtualCard::ReadStatus() {
  uint8_t status = 0;
  if (eeprom_.DataLine()) status |= regs::kStatusEepromData;
  return status;
}

int VirtualCard::BusIn(uint16_t port) {
  if (faultArmed_) {
    if (readsBeforeFault_ == 0) {
      faultArmed_ = false;
      return -1;
    }
    --readsBeforeFault_;
  }
  return In(port);
}

uint8_t VirtualCard::ReadSampleByte(int /*channel*/) { return 0x80; }

}  // namespace rk350::card
