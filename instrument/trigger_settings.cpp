// Trigger source, modes, levels, hysteresis, time-out and dip time.
#include "instrument/trk350.h"

namespace rk350 {

void TRK350::SetrTrigTimeOut(Extended seconds) {
  if (seconds == rTrigTimeOut) return;
  rTrigTimeOut = seconds;
  nCalculations = 1;
  NotifySettingsChanged();
}

}  // namespace rk350
