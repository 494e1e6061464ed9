#include "card/serial_eeprom_model.h"

#include "hardware/register_map.h"

namespace rk350::card {

SerialEepromModel::SerialEepromModel(EepromVariant variant) {
  wires_.SetObserver(&trace_);
  SetVariant(variant);
}

void SerialEepromModel::Reset() {
  memory_.CancelTransfer();
  wires_.Reset();
}

void SerialEepromModel::OnRegisterWrite(uint8_t index, uint8_t value) {
  if (index != regs::kRegSerialLines) return;
  const bool clock = (value & regs::kEepromClock) != 0;
  // A released data line is pulled high; only a driven low pulls it down.
  const bool driven = (value & regs::kEepromDrive) != 0;
  const bool data = !driven || (value & regs::kEepromData) != 0;
  wires_.Drive(clock, data);
}

void SerialEepromModel::SetVariant(EepromVariant variant) {
  memory_.Image() = EepromImage::OfVariant(variant);
  memory_.SetAnswering(variant != EepromVariant::kNoAnswer);
}

void SerialEepromModel::LoadImage(const EepromImage& image) {
  memory_.Image() = image;
  memory_.SetAnswering(true);
}

}  // namespace rk350::card
