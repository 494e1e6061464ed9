// The channel comparators' trigger condition, applied to samples by the
// library: what the software trigger searches for.
#pragma once

#include <cstdint>

namespace rk350 {

enum class Condition { kRising, kFalling, kAbove, kNone };

// The comparator condition of a trigger mode (routing registers 15/16 and 25).
inline Condition ConditionOf(uint8_t mode) {
  switch (mode & 0x7F) {
    case 0:
    case 2:
      return Condition::kRising;
    case 1:
      return Condition::kFalling;
    case 3:
      return Condition::kAbove;
    default:
      return Condition::kNone;
  }
}

// One comparator pair stepped sample by sample, as the card applies it
// (comparator scale: count L stands for converter code L + 1): rising arms
// below A and fires at or above B, falling arms above A and fires at or below
// B, level fires at or above B. After firing it waits to be armed again. It
// notes where it fired last, so the spacing of crossings can be learned.
struct CrossingDetector {
  Condition condition = Condition::kNone;
  int32_t a = 0, b = 0;
  bool armed = false;
  int64_t lastFire = -1;  // index of the last firing, -1 none
  int64_t spacing = 0;    // between the last two firings, 0 unknown

  // Steps one raw sample at index i; true when the condition fires there.
  bool Step(int64_t i, uint16_t raw) {
    const int32_t x = (raw >> 8) - 1;
    bool fires = false;
    switch (condition) {
      case Condition::kRising:
        fires = armed && x >= b;
        if (!fires && x < a) armed = true;
        break;
      case Condition::kFalling:
        fires = armed && x <= b;
        if (!fires && x > a) armed = true;
        break;
      case Condition::kAbove:
        fires = x >= b;
        break;
      case Condition::kNone:
        break;
    }
    if (!fires) return false;
    armed = false;
    if (lastFire >= 0) spacing = i - lastFire;
    lastFire = i;
    return true;
  }
};

}  // namespace rk350
