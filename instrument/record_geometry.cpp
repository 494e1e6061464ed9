// Record geometry: record length, post-trigger and pre-trigger samples. The
// setters accept any value; the exports check the limits. A record length
// below the post samples leaves the pre samples negative, and every reader
// of the buffers copes with that.
#include "instrument/trk350.h"

namespace rk350 {

void TRK350::SetlRecordLength(int32_t samples) {
  if (samples == lRecordLength) return;
  lRecordLength = samples;
  SetlPreSamples(samples - lPostSamples);
  nCalculations = 1;
  NotifySettingsChanged();
}

void TRK350::SetlPostSamples(int32_t samples) {
  if (samples == lPostSamples) return;
  lPostSamples = samples;
  SetlPreSamples(lRecordLength - samples);
  nCalculations = 1;
  NotifySettingsChanged();
}

void TRK350::SetlPreSamples(int32_t samples) { lPreSamples = samples; }

}  // namespace rk350
