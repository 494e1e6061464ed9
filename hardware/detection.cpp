// Card detection, identification, calibration and hardware initialisation.
#include "instrument/trk350.h"

namespace rk350 {

bool TRK350::InitHardware() {
  HardwarePresent = false;
  StopMeasureTimer();
  return false;
}

CalibrationDateTime TRK350::ReadCalibrationDate() { return {}; }

void TRK350::ShutdownHardware() {}

}  // namespace rk350
