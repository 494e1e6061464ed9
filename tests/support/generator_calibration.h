// Puts a card's generator calibration into an instrument the way detection
// does, so that generator tests need no EEPROM traffic.
#pragma once

#include "card/eeprom_image.h"
#include "instrument/trk350.h"

namespace rk350::testing {

void LoadGeneratorCalibration(TRK350& instrument, const card::EepromImage& image);

// An instrument as the exports see it after a successful InitInstrument with
// the default card: present, with a function generator and its calibration.
// Installs it as gInstrument; ResetLibraryToLoaded() releases it.
TRK350& InstallPresentInstrument();

}  // namespace rk350::testing
