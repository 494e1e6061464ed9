// The standard waveforms of the function generator, computed into a buffer
// of 14-bit memory samples (0 .. 16383).
#include <cmath>
#include <cstdint>
#include <random>

#include "instrument/trk350.h"

namespace rk350 {

namespace {

constexpr Extended kPi = 3.14159265358979323846264338327950288L;

uint16_t LimitSample(Extended value) {
  if (!(value >= 0)) return 0;
  if (value > 65535) return 65535;
  return static_cast<uint16_t>(value);
}

int64_t Round(Extended value) { return static_cast<int64_t>(std::nearbyint(value)); }

// Pseudo-random source of the noise waveform: any uniform generator will do.
std::minstd_rand& NoiseSource() {
  static std::minstd_rand source;
  return source;
}

// Samples of the first part of the period: k = rnd(n * symmetry), kept
// within 1 .. n - 1 so that both parts exist. An out-of-range or NaN symmetry
// lands on the nearer limit.
int FirstPartLength(int n, Extended symmetry) {
  const Extended k = std::nearbyint(n * symmetry);
  if (k >= n) return n - 1;
  if (!(k >= 1)) return 1;
  return static_cast<int>(k);
}

}  // namespace

void TRK350::ComputeGenWaveform(uint16_t* buffer, int n, uint8_t type, Extended symmetry, int centre, int halfSwing) {
  if (buffer == nullptr || n < 2) return;
  const int k = FirstPartLength(n, symmetry);
  const int m = n - k;
  const Extended top = centre + halfSwing;
  const Extended bottom = centre - halfSwing;
  const Extended h = halfSwing;

  switch (type) {
    case gsSine:
      // Falls from the top over the first part, rises back over the second.
      for (int i = 0; i < n; ++i) {
        const Extended angle = i < k ? kPi * i / k : kPi * (i - k + m) / m;
        buffer[i] = LimitSample(centre + Round(h * std::cos(angle)));
      }
      break;
    case gsTriangle: {
      const Extended fallSlope = 2 * h / k;
      const Extended riseSlope = 2 * h / m;
      for (int i = 0; i < n; ++i) {
        buffer[i] = LimitSample(i < k ? top - Round(i * fallSlope) : bottom + Round((i - k) * riseSlope));
      }
      break;
    }
    case gsSquare:
      for (int i = 0; i < n; ++i) buffer[i] = LimitSample(i < k ? bottom : top);
      break;
    case gsDC:
      for (int i = 0; i < n; ++i) buffer[i] = LimitSample(top);
      break;
    case gsNoise: {
      std::uniform_int_distribution<int> draw(0, 2 * halfSwing - 1);
      for (int i = 0; i < n; ++i) buffer[i] = LimitSample(bottom + draw(NoiseSource()));
      break;
    }
    default:
      break;  // other codes leave the buffer as it is
  }
}

}  // namespace rk350
