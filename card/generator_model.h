// The card's function generator: waveform memory loaded through registers
// 31..33, a phase accumulator with a 24-bit increment, a clock prescaler, the
// serial level DACs on register 0 and the range select, giving an output
// voltage over virtual time from the card's own calibration.
#pragma once

#include <cstdint>

namespace rk350::card {

class GeneratorModel {
 public:
  GeneratorModel();
  void Reset();
  // Every register write reaches the model.
  void OnRegisterWrite(uint8_t index, uint8_t value);
  // The output voltage at a virtual time, in seconds since power-on.
  double OutputVolts(double timeSeconds) const;
};

}  // namespace rk350::card
