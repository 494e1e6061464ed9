/*
 * Synchronous measurement: StartMeasurement returns once the engine has read
 * one record; GetMeasurement then copies it in volts. The example measures a
 * DC level set on the generator (looped back to channel 1 on the virtual card)
 * and checks that SetDcLevel on the input shifts the trace by that much.
 */
#include "example_util.h"

enum { kLength = 1000 };

static double mean_of(const double* v, int n) {
  double sum = 0.0;
  int i;
  for (i = 0; i < n; ++i) sum += v[i];
  return sum / n;
}

int main(void) {
  static double ch1[kLength], ch2[kLength];
  double range = 2.0, rate = 1e6;

  check(InitInstrument(0x288), "InitInstrument");
  check(SetSensitivity(1, &range), "SetSensitivity");
  check(SetSampleFrequencyF(&rate), "SetSampleFrequencyF");
  check(SetRecordLength(kLength), "SetRecordLength");
  /* Free run (DC has no edge): the record starts when the card does, so it
   * is all post-trigger samples; samples before the start would be whatever
   * the card's memory held. */
  check(SetPostSamples(kLength), "SetPostSamples");
  check(SetTriggerSource(RK350_TS_NO_TRIG), "SetTriggerSource");

  check(SetFuncGenSignalType(RK350_GEN_DC), "SetFuncGenSignalType");
  check(SetFuncGenDCOffset(0.5), "SetFuncGenDCOffset");
  check(SetFuncGenOutputOn(1), "SetFuncGenOutputOn");

  check(StartMeasurement(), "StartMeasurement");
  check(GetMeasurement(ch1, ch2), "GetMeasurement");
  expect_near(mean_of(ch1, kLength), 0.5, 0.05, "CH1 mean (V)");

  /* The input's DC level adds to the signal. */
  check(SetDcLevel(1, 1.0), "SetDcLevel");
  check(StartMeasurement(), "StartMeasurement");
  check(GetMeasurement(ch1, ch2), "GetMeasurement");
  expect_near(mean_of(ch1, kLength), 1.5, 0.05, "CH1 mean with +1 V level (V)");

  ExitInstrument();
  return 0;
}
