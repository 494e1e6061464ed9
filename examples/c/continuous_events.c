/*
 * Continuous mode: DoMeasure(-1) lets the library's 6 ms timer run the
 * measurement engine; on POSIX the thread that called InitInstrument drives
 * that timer by calling RK350_ProcessMessages (on Windows its message loop
 * does). GetMeasurement reads the newest record at any time. The example
 * changes the generator's amplitude while the engine runs and checks that the
 * records follow, then stops the engine with DoMeasure(0).
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
  pump_for(0.5);
  expect_near(swing_now(), 2.0, 0.15, "swing at 1 V amplitude (V)");

  check(SetFuncGenAmplitude(3.0), "SetFuncGenAmplitude");
  pump_for(0.5);
  expect_near(swing_now(), 6.0, 0.3, "swing at 3 V amplitude (V)");

  check(DoMeasure(0), "DoMeasure(0)");
  ExitInstrument();
  return 0;
}
