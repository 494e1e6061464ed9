/*
 * Function generator and loopback: a square wave of 25 % symmetry with an
 * offset, measured on channel 1 (the virtual card wires the generator output
 * there). The symmetry is the share of the period spent in the first part of
 * the waveform, which for a square is the high part. The example checks the
 * high and low levels, the frequency and the share of the period spent high.
 */
#include "example_util.h"

enum { kLength = 10000, kPost = 8000 };

int main(void) {
  static double ch1[kLength];
  double range = 4.0, rate = 1e6, frequency = 5000.0, lo, hi, mid, start;
  int i, high = 0;

  check(InitInstrument(0x288), "InitInstrument");
  if (GetFunctionGenStatus() != RK350_RESULT_OK) {
    fprintf(stderr, "this card has no function generator\n");
    return 1;
  }
  check(SetSensitivity(1, &range), "SetSensitivity");
  check(SetSampleFrequencyF(&rate), "SetSampleFrequencyF");
  check(SetRecordLength(kLength), "SetRecordLength");
  check(SetPostSamples(kPost), "SetPostSamples");
  check(SetTriggerSource(RK350_TS_CH1), "SetTriggerSource");
  check(SetTriggerLevel(1, 0.5), "SetTriggerLevel");

  check(SetFuncGenSignalType(RK350_GEN_SQUARE), "SetFuncGenSignalType");
  check(SetFuncGenAmplitude(1.5), "SetFuncGenAmplitude");
  check(SetFuncGenDCOffset(0.5), "SetFuncGenDCOffset");
  check(SetFuncGenSymmetry(25.0), "SetFuncGenSymmetry");
  check(SetFuncGenOutputOn(1), "SetFuncGenOutputOn");
  check(SetFuncGenFrequency(&frequency), "SetFuncGenFrequency");
  printf("generator runs at %.3f Hz\n", frequency);

  check(ADC_Start(), "ADC_Start");
  start = now_seconds();
  while (!ADC_Ready()) {
    RK350_ProcessMessages();
    if (now_seconds() - start > 1.0 && !ADC_Triggered()) check(ADC_ForceTrig(), "ADC_ForceTrig");
    if (now_seconds() - start > 20.0) return 3;
    sleep_ms(1);
  }
  check(ADC_GetDataVoltCh(1, ch1), "ADC_GetDataVoltCh");

  /* The samples from the trigger on: the card took them after the start
   * (before it, the memory may hold older content when the trigger came
   * early). */
  {
    const double* after = ch1 + (kLength - kPost);
    min_max(after, kPost, &lo, &hi);
    mid = (lo + hi) / 2;
    for (i = 0; i < kPost; ++i) high += after[i] > mid;
    expect_near(hi, 2.0, 0.1, "high level (V)");
    expect_near(lo, -1.0, 0.1, "low level (V)");
    expect_near(frequency_of(after, kPost, GetSampleFrequencyF()), 5000.0, 25.0, "frequency (Hz)");
    expect_near(100.0 * high / kPost, 25.0, 2.0, "time high (%)");
  }
  ExitInstrument();
  return 0;
}
