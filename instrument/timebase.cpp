// Sample frequency and record geometry.
#include "instrument/sample_clock.h"
#include "instrument/trk350.h"

namespace rk350 {

namespace {
constexpr Extended kInterleaveAbove = 50000000.0L;  // one converter's top rate
}  // namespace

void TRK350::SetrSampleFreq(Extended hertz) {
  if (hertz == SampleFreqRequested || hertz == 0) return;
  // Negative, NaN and too slow requests would divide by zero or wrap the
  // divider: they are ignored like a request of 0 Hz.
  if (!sample_clock::IsProgrammableRate(hertz)) return;

  SampleFreqRequested = hertz;
  // Interleaving puts both converters on channel 1: with channel 2 measured
  // as well it would report twice the rate the records were taken at, so
  // those modes get the converters' own top rate.
  InterleaveWanted = InterleaveCapable && hertz > kInterleaveAbove;
  if (InterleaveWanted && mMeasureMode != mCh2 && mMeasureMode != mCh12 && mMeasureMode != mXY) {
    // Both converters at their top rate; the next arming programs the card.
    ClockFrequency = kInterleaveAbove;
    Interleaved = true;
  } else {
    ClockFrequency = hertz;
    Interleaved = false;
    Extended reached = hertz;
    ProgramSampleClock(reached);
    if (reached != hertz) {
      ClockFrequency = reached;
      SampleFreqRequested = reached;
    }
  }
  nCalculations = 1;
  NotifySettingsChanged();
}

Extended TRK350::GetrSampleFreq() const { return Interleaved ? 2 * ClockFrequency : ClockFrequency; }

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

void TRK350::SetlPreSamples(int32_t samples) {
  if (samples == lPreSamples) return;
  lPreSamples = samples;
  nCalculations = 1;
  NotifySettingsChanged();
}

void TRK350::SetrTransSampleTime(Extended seconds) {
  // Stored only; the transient hook has nothing to do on this card.
  if (seconds == rTransSampleTime) return;
  rTransSampleTime = seconds;
}

}  // namespace rk350
