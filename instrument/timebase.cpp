// Sample clock and record geometry.
#include "instrument/trk350.h"

namespace rk350 {

void TRK350::SetrSampleFreq(Extended hertz) {
  if (hertz == SampleFreqRequested || hertz == 0) return;
  SampleFreqRequested = hertz;
  ClockFrequency = hertz;
  Interleaved = false;
  nCalculations = 1;
  NotifySettingsChanged();
}

Extended TRK350::GetrSampleFreq() const { return Interleaved ? 2 * ClockFrequency : ClockFrequency; }

}  // namespace rk350
