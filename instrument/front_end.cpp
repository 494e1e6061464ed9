// Per-channel input settings: range, coupling, auto ranging, DC level.
#include "instrument/trk350.h"

namespace rk350 {

Extended TRK350::GetChSensitivity(int channel) const { return Sensitivities[RangeIndex[channel]]; }

void TRK350::SetChAutoRanging(int channel, bool flag) {
  // Stored only: no notification, nCalculations untouched.
  AutoRanging[channel] = flag;
}

bool TRK350::GetChAutoRanging(int channel) const { return AutoRanging[channel]; }

void TRK350::SetChDcLevel(int channel, Extended volts) {
  if (volts == DcLevel[channel]) return;
  DcLevel[channel] = volts;
  nCalculations = 1;
  NotifySettingsChanged();
}

Extended TRK350::GetChDcLevel(int channel) const { return DcLevel[channel]; }

}  // namespace rk350
