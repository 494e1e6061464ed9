// Per-channel input settings: range, coupling, auto ranging, DC level and
// resolution. Setters only store; ApplyFrontEnd puts them on the card.
#include <algorithm>
#include <cmath>

#include "instrument/trk350.h"

namespace rk350 {

namespace {
// Offered ranges are 3..12: ranges 1 and 2 exist in the table but are never
// chosen for a caller.
constexpr int kFirstOfferedRange = 3;
constexpr int kLastRange = 12;
}  // namespace

Extended TRK350::GetChSensitivity(int channel) const { return Sensitivities[RangeIndex[channel]]; }

void TRK350::SetChSensitivity(int channel, Extended fullScale) {
  if (fullScale == Sensitivities[RangeIndex[channel]]) return;
  if (std::isnan(fullScale)) return;  // no range is nearest to it
  // Everything below the first offered range chooses it, everything above
  // the last the last one; limiting first keeps that true for infinities.
  fullScale = std::clamp(fullScale, Sensitivities[kFirstOfferedRange], Sensitivities[kLastRange]);

  // Nearest offered range; on equal distance the lower range (smaller full
  // scale) keeps its place.
  int best = kFirstOfferedRange;
  Extended bestDistance = std::fabs(fullScale - Sensitivities[kFirstOfferedRange]);
  for (int r = kFirstOfferedRange; r <= kLastRange; ++r) {
    const Extended distance = std::fabs(fullScale - Sensitivities[r]);
    if (distance < bestDistance && Sensitivities[r] != 0) {
      best = r;
      bestDistance = distance;
    }
  }

  RangeIndex[channel] = static_cast<uint16_t>(best);
  DcLevelLimit[channel] = DcLevelLimits[best];
  ClampDcLevel(channel);
  nCalculations = 1;
  NotifySettingsChanged();
}

void TRK350::SetChCoupling(int channel, uint8_t code) {
  if (code == Coupling[channel]) return;
  Coupling[channel] = code;
  nCalculations = 1;
  NotifySettingsChanged();
}

uint8_t TRK350::GetChCoupling(int channel) const { return Coupling[channel]; }

void TRK350::SetChAutoRanging(int channel, bool flag) {
  // Stored only: no notification, nCalculations untouched.
  if (flag != AutoRanging[channel]) AutoRanging[channel] = flag;
}

bool TRK350::GetChAutoRanging(int channel) const { return AutoRanging[channel]; }

void TRK350::SetChDcLevel(int channel, Extended volts) {
  if (volts == DcLevel[channel]) return;
  DcLevel[channel] = volts;
  ClampDcLevel(channel);
  nCalculations = 1;
  NotifySettingsChanged();
}

Extended TRK350::GetChDcLevel(int channel) const { return DcLevel[channel]; }

void TRK350::ClampDcLevel(int channel) {
  if (channel != 1 && channel != 2) return;
  if (DcLevel[channel] < -DcLevelLimit[channel]) {
    SetChDcLevel(channel, -DcLevelLimit[channel]);
  } else if (DcLevel[channel] > DcLevelLimit[channel]) {
    SetChDcLevel(channel, DcLevelLimit[channel]);
  }
}

Extended TRK350::GetAvailableSensitivity(int n) const {
  // n counts the offered ranges from 1; anything else has no full scale.
  if (n < 1 || n > kLastRange - 2) return 0;
  return Sensitivities[n + 2];
}

uint16_t TRK350::GetAvailableResolution(int n) const {
  if (n < 0 || n >= ResolutionCount || n >= 10) return 0;
  return Resolutions[n];
}

void TRK350::SetResolutionBits(int /*bits*/) {
  // The converters have 8 bits and nothing else.
  Resolution = 8;
}

}  // namespace rk350
