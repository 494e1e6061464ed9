// Square wave generator exports.
// Not yet implemented: each answers through the common guard.
#include "library/library_state.h"

using namespace rk350;

RK350_API(uint16_t) SetSquareWaveGenFrequency(uint32_t*) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint32_t) GetSquareWaveGenFrequency(void) { return static_cast<uint32_t>(gSquareWaveFrequency); }
