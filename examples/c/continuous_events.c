/*
 * Continuous mode: DoMeasure(-1) lets the library's 6 ms timer run the
 * measurement engine; on POSIX the thread that called InitInstrument drives
 * that timer by calling RK350_ProcessMessages (on Windows its message loop
 * does). RK350_TakeMeasurementReady answers 1 once per record the engine
 * finished (the library's measurement-ready event), and GetMeasurement reads
 * that record. The example changes the generator's amplitude while the engine
 * runs and checks that the following records show it, then stops the engine
 * with DoMeasure(0).
 */
#include "example_util.h"

enum { kLength = 2000 };

static double swing_now(void) {
  static double ch1[kLength], ch2[kLength];
  double lo, hi;
  check(GetMeasurement(ch1, ch2), "GetMeasurement");
  min_max(ch1, kLength, &lo, &hi);
  return hi - lo;
}

/* Pumps messages until the engine has finished `count` more records. */
static void wait_for_records(int count) {
  double start = now_seconds();
  while (count > 0) {
    RK350_ProcessMessages();
    if (RK350_TakeMeasurementReady()) {
      --count;
    } else {
      sleep_ms(1);
    }
    if (now_seconds() - start > 20.0) {
      fprintf(stderr, "the engine delivered no record for 20 s\n");
      ExitInstrument();
      exit(3);
    }
  }
}

int main(void) {
  double range = 4.0, rate = 1e6, frequency = 2000.0;

  check(InitInstrument(0x288), "InitInstrument");
  check(SetSensitivity(1, &range), "SetSensitivity");
  check(SetSampleFrequencyF(&rate), "SetSampleFrequencyF");
  check(SetRecordLength(kLength), "SetRecordLength");
  check(SetPostSamples(kLength / 2), "SetPostSamples");
  check(SetTriggerSource(RK350_TS_CH1), "SetTriggerSource");
  check(SetTriggerTimeOut(200), "SetTriggerTimeOut");

  check(SetFuncGenSignalType(RK350_GEN_SINE), "SetFuncGenSignalType");
  check(SetFuncGenAmplitude(1.0), "SetFuncGenAmplitude");
  check(SetFuncGenSymmetry(50.0), "SetFuncGenSymmetry"); /* 0 after InitInstrument */
  check(SetFuncGenOutputOn(1), "SetFuncGenOutputOn");
  check(SetFuncGenFrequency(&frequency), "SetFuncGenFrequency");

  check(DoMeasure(-1), "DoMeasure(-1)");
  wait_for_records(3);
  expect_near(swing_now(), 2.0, 0.15, "swing at 1 V amplitude (V)");

  check(SetFuncGenAmplitude(3.0), "SetFuncGenAmplitude");
  wait_for_records(2); /* the record being taken may straddle the change */
  expect_near(swing_now(), 6.0, 0.3, "swing at 3 V amplitude (V)");

  check(DoMeasure(0), "DoMeasure(0)");
  ExitInstrument();
  return 0;
}
