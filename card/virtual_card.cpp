#include "card/virtual_card.h"

namespace rk350::card {

VirtualCard::VirtualCard(uint16_t base, EepromVariant eeprom) : base_(base), eeprom_(eeprom) {
  // The front end decodes its DAC codes with the calibration in the card's
  // own EEPROM.
  frontEnd_.UseCalibration(&eeprom_.Memory().Image());
  sources_.AttachGenerator(&generator_);
  // The generator's level DACs are calibrated by what the card's EEPROM says.
  generator_.AttachCalibration(&eeprom_.Memory().Image());
  Reset();
}

void VirtualCard::Reset() {
  registers_.fill(0);
  writeCounts_.fill(0);
  selectedIndex_ = 0;
  frontEnd_.Reset();
  generator_.Reset();
  eeprom_.Reset();
  sampleClock_.Reset();
  sources_.Reset();
  acquisition_.Reset();
  fault_ = Fault::kNone;
  faultArmed_ = false;
}

uint8_t VirtualCard::In(uint16_t port) {
  if (!Decodes(port) || fault_ == Fault::kSilent) return 0xFF;
  switch (port - base_) {
    case regs::kPortIndex:
      return ReadSampleByte(2);
    case regs::kPortData:
      return ReadSampleByte(1);
    case regs::kPortStatus:
      return ReadStatus();
    case regs::kPortAddressHigh:
      return acquisition_.AddressHigh();
    case regs::kPortAddressLow:
      return acquisition_.AddressLow();
    default:
      return 0;
  }
}

void VirtualCard::Out(uint16_t port, uint8_t value) {
  if (!Decodes(port) || fault_ == Fault::kSilent) return;
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
  acquisition_.OnRegisterWrite(index, value);
}

uint8_t VirtualCard::ReadStatus() {
  if (fault_ == Fault::kStatusStuck) return 0xFF;
  uint8_t status = acquisition_.StatusBits();
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

uint8_t VirtualCard::ReadSampleByte(int channel) { return acquisition_.ReadSampleByte(channel); }

}  // namespace rk350::card
