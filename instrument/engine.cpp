// The timer-driven measurement engine.
#include "instrument/trk350.h"

namespace rk350 {

void TRK350::SetamAcquisitionMode(TAcquisitionMode mode) {
  if (mode == amAcquisitionMode) return;
  amAcquisitionMode = mode;
  if (mode == amOneShot) nCalculations = 1;
}

void TRK350::EngineTick() {
  if (!HardwarePresent) return;
}

}  // namespace rk350
