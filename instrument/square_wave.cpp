// The square wave generator: the function generator set to a fixed square
// wave configuration.
#include <cmath>

#include "instrument/trk350.h"

namespace rk350 {

namespace {
constexpr Extended kSquareWaveAmplitude = 2.5L;
constexpr Extended kSmallestSquareWaveFrequency = 0.00001L;  // at or below: 0 V
constexpr Extended kHalfPeriod = 0.5L;
}  // namespace

void TRK350::SetSquareWave(Extended hertz) {
  SetGenFrequency(hertz);
  SetGenAmplitude(std::fabs(hertz) > kSmallestSquareWaveFrequency ? kSquareWaveAmplitude : 0.0L);
  SetGenOption(0);
  SetGenSignalType(gsSquare);
  SetGenDCOffset(0);
  SetGenSymmetry(kHalfPeriod);
  SetGenOutputOn(true);
}

}  // namespace rk350
