#include "support/generator_calibration.h"

#include "library/library_state.h"
#include "support/recorded_instrument.h"

namespace rk350::testing {

namespace L = card::eeprom_layout;

void LoadGeneratorCalibration(TRK350& instrument, const card::EepromImage& image) {
  for (int row = 0; row <= 6; ++row) {
    for (int entry = 1; entry <= 15; ++entry) {
      instrument.GenOffsetStepTable[row][entry] = image.Word(L::GenOffsetStep(row, entry));
      instrument.GenAmpStepTable[row][entry] = image.Word(L::GenAmpStep(row, entry));
    }
  }
  instrument.GenOffsetZeroHigh = static_cast<int16_t>(image.Word(L::kGenOffsetZeroHigh));
  instrument.GenOffsetZeroMid = static_cast<int16_t>(image.Word(L::kGenOffsetZeroMid));
  instrument.GenOffsetZeroLow = static_cast<int16_t>(image.Word(L::kGenOffsetZeroLow));
  instrument.GenGainMid = image.Word(L::kGenGainMid);
  instrument.GenGainLow = image.Word(L::kGenGainLow);
  instrument.GenAmpZero = static_cast<int16_t>(image.Word(L::kGenAmpZero));
}

TRK350& InstallPresentInstrument() {
  ResetLibraryToLoaded();
  gInstrument = new TRK350(nullptr);
  gInstrument->HardwarePresent = true;
  gInstrument->FuncGenPresent = true;
  LoadGeneratorCalibration(*gInstrument, card::EepromImage::Default());
  return *gInstrument;
}

}  // namespace rk350::testing
