// Shared set-up of the input, timebase and trigger tests: an instrument on a
// recorded bus with the card's own calibration, and an instrument standing
// in as the library's gInstrument for the exports.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "library/library_state.h"
#include "support/recorded_instrument.h"

namespace rk350::testing {

// An instrument on a recorded bus with a virtual card behind it, its
// calibration read from the card's EEPROM, the traffic so far cleared.
class CalibratedInstrument : public ::testing::Test {
 protected:
  void SetUp() override {
    instrument = std::make_unique<TRK350>(nullptr);
    instrument->ReadCalibration();
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
    gInstrument->ReadCalibration();
    bus.Recorder().Clear();
  }
  void TearDown() override { ResetLibraryToLoaded(); }
  TRK350& In() { return *gInstrument; }

  RecordedBus bus;
};

}  // namespace rk350::testing
