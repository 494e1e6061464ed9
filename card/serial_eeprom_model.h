// The card's serial EEPROM as fitted: its clock and data wires driven from
// register 1 (clock 0x01, data 0x02, data drive 0x04), the line decoder and
// the 24-series memory behind them, and a logic trace of the wires. The data
// line as seen by the card is status bit 0x10.
#pragma once

#include <cstdint>

#include "card/eeprom_24xx.h"
#include "card/eeprom_image.h"
#include "card/i2c_line_decoder.h"
#include "card/wire_trace.h"

namespace rk350::card {

class SerialEepromModel {
 public:
  explicit SerialEepromModel(EepromVariant variant = EepromVariant::kDefault);
  SerialEepromModel(const SerialEepromModel&) = delete;
  SerialEepromModel& operator=(const SerialEepromModel&) = delete;

  // Wires at power-on (clock low, data released); the memory keeps its content.
  void Reset();
  void OnRegisterWrite(uint8_t index, uint8_t value);
  // Status bit 0x10: the data line level.
  bool DataLine() const { return wires_.Sda(); }
  bool ClockLine() const { return wires_.Scl(); }

  // Replaces the memory's content and answering with those of a variant.
  void SetVariant(EepromVariant variant);
  // Loads an image; the memory answers.
  void LoadImage(const EepromImage& image);
  Eeprom24xx& Memory() { return memory_; }
  const Eeprom24xx& Memory() const { return memory_; }

  void StartTrace() { trace_.Start(wires_.Scl(), wires_.Sda()); }
  void StopTrace() { trace_.Stop(); }
  const WireTrace& Trace() const { return trace_; }

 private:
  Eeprom24xx memory_;
  I2cLineDecoder wires_{memory_};
  WireTrace trace_;
};

}  // namespace rk350::card
