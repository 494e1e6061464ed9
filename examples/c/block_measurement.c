/*
 * Block measurement: arm with ADC_Start, poll ADC_Ready, fetch volts with
 * ADC_GetDataVoltCh. On the virtual card the generator's 1 kHz sine is looped
 * back to channel 1; the example checks its swing, its frequency and that the
 * trigger instant (0 V, rising) sits at index lRecordLength - lPostSamples.
 * The library's software trigger makes the record complete: every position
 * holds a sample, which RK350_GetValidRange confirms.
 */
#include "example_util.h"

enum { kLength = 4000, kPost = 3000 };

int main(void) {
  static double ch1[kLength];
  double range = 2.0, rate = 1e6, frequency = 1000.0, lo, hi, start;
  int pre = kLength - kPost;
  int32_t first = -1, count = -1;

  check(InitInstrument(0x288), "InitInstrument");
  check(SetSensitivity(1, &range), "SetSensitivity");
  check(SetSampleFrequencyF(&rate), "SetSampleFrequencyF");
  check(SetRecordLength(kLength), "SetRecordLength");
  check(SetPostSamples(kPost), "SetPostSamples");
  check(SetTriggerSource(RK350_TS_CH1), "SetTriggerSource");
  check(SetTriggerMode(0), "SetTriggerMode");
  check(SetTriggerLevel(1, 0.0), "SetTriggerLevel");
  check(RK350_SetSoftwareTrigger(1), "RK350_SetSoftwareTrigger");

  check(SetFuncGenSignalType(RK350_GEN_SINE), "SetFuncGenSignalType");
  check(SetFuncGenAmplitude(1.0), "SetFuncGenAmplitude");
  check(SetFuncGenDCOffset(0.0), "SetFuncGenDCOffset");
  check(SetFuncGenSymmetry(50.0), "SetFuncGenSymmetry"); /* 0 after InitInstrument */
  check(SetFuncGenOutputOn(1), "SetFuncGenOutputOn");
  check(SetFuncGenFrequency(&frequency), "SetFuncGenFrequency");

  check(ADC_Start(), "ADC_Start");
  start = now_seconds();
  while (!ADC_Ready()) {
    RK350_ProcessMessages();
    if (now_seconds() - start > 1.0 && !ADC_Triggered()) check(ADC_ForceTrig(), "ADC_ForceTrig");
    if (now_seconds() - start > 20.0) {
      fprintf(stderr, "no record within 20 s\n");
      return 3;
    }
    sleep_ms(1);
  }
  check(ADC_GetDataVoltCh(1, ch1), "ADC_GetDataVoltCh");
  check(RK350_GetValidRange(1, &first, &count), "RK350_GetValidRange");
  if (first != 0 || count != kLength) {
    fprintf(stderr, "positions %d .. %d hold samples, not all %d\n", (int)first, (int)(first + count - 1), kLength);
    return 2;
  }

  min_max(ch1, kLength, &lo, &hi);
  expect_near(hi - lo, 2.0, 0.1, "CH1 peak-to-peak (V)");
  expect_near(frequency_of(ch1, kLength, GetSampleFrequencyF()), 1000.0, 10.0, "CH1 frequency (Hz)");
  expect_near(ch1[pre], 0.0, 0.1, "CH1 at the trigger (V)");
  if (!(ch1[pre + 20] > ch1[pre - 20])) {
    fprintf(stderr, "the trigger is not on a rising edge\n");
    return 2;
  }
  ExitInstrument();
  return 0;
}
