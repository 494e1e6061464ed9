// An instrument wired to a virtual card through the recording bus, with the
// card on manual time, for tests of the acquisition paths.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "instrument/trk350.h"
#include "support/recorded_instrument.h"

namespace rk350::testing {

class AcquisitionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bus_ = std::make_unique<RecordedBus>();
    Card().Time().SetManual(0);
    instrument_ = std::make_unique<TRK350>(nullptr);
    instrument_->HardwarePresent = true;
    instrument_->nHardwareAddress = 0x288;
    for (int ch = 1; ch <= 4; ++ch) instrument_->AutoRanging[ch] = false;  // as after InitInstrument
    bus_->Recorder().SetRecording(false);
    bus_->Recorder().Clear();
  }
  void TearDown() override {
    instrument_.reset();
    bus_.reset();
  }

  TRK350& Instrument() { return *instrument_; }
  card::VirtualCard& Card() { return bus_->Card(); }
  card::PortRecorder& Recorder() { return bus_->Recorder(); }

  void SetSource(int input, card::SourceKind kind, double amplitude, double offset = 0, double frequency = 0,
                 double stepTime = 0) {
    card::SignalSource s;
    s.kind = kind;
    s.amplitude = amplitude;
    s.offset = offset;
    s.frequency = frequency;
    s.stepTime = stepTime;
    Card().Sources().Set(input, s);
  }
  // Sets the converter clock directly (as the sample-frequency setter would).
  void SetClock(long double hertz) {
    instrument_->ClockFrequency = hertz;
    instrument_->SampleFreqRequested = hertz;
  }
  void SetRecord(int32_t length, int32_t post) {
    instrument_->SetlRecordLength(length);
    instrument_->SetlPostSamples(post);
  }
  // Arms, runs the card for `seconds` of card time and reads the record.
  void MeasureOnce(double seconds) {
    instrument_->ArmMeasurement();
    Card().Time().Advance(seconds);
    ASSERT_TRUE(instrument_->RecordComplete());
    instrument_->ReadMeasurement();
  }
  uint16_t Sample(int channel, int index) { return instrument_->ChannelData[channel][index]; }

  std::unique_ptr<RecordedBus> bus_;
  std::unique_ptr<TRK350> instrument_;
};

}  // namespace rk350::testing
