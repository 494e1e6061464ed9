// Shared set-up of the input, timebase and trigger tests: an instrument on a
// recorded bus with the card's own calibration, and an instrument standing
// in as the library's gInstrument for the exports.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "card/eeprom_image.h"
#include "library/library_state.h"
#include "support/recorded_instrument.h"

namespace rk350::testing {

// Copies an EEPROM image's channel records into the instrument, as the
// calibration readout leaves them.
inline void LoadChannelCalibration(TRK350& in, const card::EepromImage& image) {
  namespace L = card::eeprom_layout;
  for (int ch = 1; ch <= 2; ++ch) {
    for (int r = 1; r <= 12; ++r) {
      const uint16_t base = L::ChannelRecord(ch, r);
      in.OffsetTrim[ch][r] = image.Byte(base + L::kRecOffsetTrim);
      in.InterleaveOffsetTrim[ch][r] = image.Byte(base + L::kRecInterleaveOffsetTrim);
      in.DcGain[ch][r] = image.Word(base + L::kRecDcGain);
      in.DcZero[ch][r] = image.Word(base + L::kRecDcZero);
      in.InterleaveDcZero[ch][r] = image.Word(base + L::kRecInterleaveDcZero);
      in.DcStep[ch][r] = image.Word(base + L::kRecDcStep);
      in.DcScale[ch][r] = image.Word(base + L::kRecDcScale);
    }
  }
}

// An instrument on a recorded bus with a virtual card behind it, calibrated
// from the card's default image, its construction traffic cleared.
class CalibratedInstrument : public ::testing::Test {
 protected:
  void SetUp() override {
    instrument = std::make_unique<TRK350>(nullptr);
    LoadChannelCalibration(*instrument, card::EepromImage::Default());
    bus.Recorder().Clear();
  }
  TRK350& In() { return *instrument; }

  RecordedBus bus;
  std::unique_ptr<TRK350> instrument;
};

// The library with an instrument whose card was found, for the exports;
// returns the library to its loaded state afterwards.
class ExportsOnInstrument : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetLibraryToLoaded();
    gInstrument = new TRK350(nullptr);
    gInstrument->HardwarePresent = true;
    LoadChannelCalibration(*gInstrument, card::EepromImage::Default());
    bus.Recorder().Clear();
  }
  void TearDown() override { ResetLibraryToLoaded(); }
  TRK350& In() { return *gInstrument; }

  RecordedBus bus;
};

}  // namespace rk350::testing
