// Square wave generator exports: the function generator set to a square wave.
#include <cmath>

#include "library/library_state.h"

using namespace rk350;

RK350_API(uint16_t) SetSquareWaveGenFrequency(uint32_t* hertz) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  if (!gInstrument->SquareWaveGenPresent) return ResultNoGenerator;
  if (hertz == nullptr) return ResultInvalidValue;  // no frequency to take
  const Extended requested = *hertz;
  gInstrument->SetSquareWave(requested);
  // The requested value is kept, also above the generator's 5 MHz limit.
  gSquareWaveFrequency = static_cast<int32_t>(static_cast<uint32_t>(std::nearbyint(requested)));
  *hertz = static_cast<uint32_t>(gSquareWaveFrequency);
  return ResultOk;
}

RK350_API(uint32_t) GetSquareWaveGenFrequency(void) { return static_cast<uint32_t>(gSquareWaveFrequency); }
