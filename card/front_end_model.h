// The card's input front end as the card sees it: the relay shift register
// with its two latches and the serial DACs of both converter paths, decoded
// from the writes to registers 0 and 1. Each path ends up with a range (full
// scale), a coupling, the input it digitises and an input offset.
#pragma once

#include <cstdint>

namespace rk350::card {

// What one converter path does to its input, as decoded from the card's
// latches and DACs.
struct PathAnalogState {
  double fullScaleVolts = 0.8;  // input voltage at the end of the ADC scale
  bool acCoupled = false;       // relay bit 0
  int inputChannel = 1;         // the input this path digitises (1 or 2)
  double offsetVolts = 0.0;     // added to the input before conversion
};

class FrontEndModel {
 public:
  FrontEndModel();
  void Reset();
  // Every register write reaches the model; it follows registers 0 and 1.
  void OnRegisterWrite(uint8_t index, uint8_t value);
  // Path 1 or 2.
  PathAnalogState Path(int path) const;
};

}  // namespace rk350::card
