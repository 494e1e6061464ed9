// Input, timebase and trigger exports.
// Not yet implemented: each answers through the common guard.
#include "library/library_state.h"

using namespace rk350;

RK350_API(uint16_t) GetAvailableSensitivities(double*) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) GetAvailableResolutions(double*) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) GetSensitivity(uint8_t, double*) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) SetSensitivity(uint8_t, double*) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) GetAutoRanging(uint8_t, uint8_t*) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) SetAutoRanging(uint8_t, uint8_t) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) GetCoupling(uint8_t, uint8_t*) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) SetCoupling(uint8_t, uint8_t) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) GetDcLevel(uint8_t, double*) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) SetDcLevel(uint8_t, double) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) GetResolution(uint8_t*) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) SetResolution(uint8_t) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(double) GetSampleFrequencyF(void) {
  if (!InstrumentPresent()) return 0.0;
  return 0.0;
}

RK350_API(uint16_t) SetSampleFrequencyF(double*) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint32_t) GetSampleFrequency(void) {
  if (!InstrumentPresent()) return 0;
  return 0;
}

RK350_API(uint16_t) SetSampleFrequency(uint32_t*) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) GetExternalClock(uint16_t*) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) SetExternalClock(uint16_t) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) GetInstrumentConfig(uint16_t*) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) SetInstrumentConfig(uint16_t) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) GetTriggerSource(uint8_t*) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) SetTriggerSource(uint8_t) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) GetTriggerMode(uint8_t*) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) SetTriggerMode(uint8_t) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) GetTriggerModeCh(uint8_t, uint8_t*) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) SetTriggerModeCh(uint8_t, uint8_t) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) GetTriggerLevel(uint8_t, double*) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) SetTriggerLevel(uint8_t, double) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) GetTriggerHys(uint8_t, double*) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) SetTriggerHys(uint8_t, double) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) GetPXITriggerSlopes(uint8_t*) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) SetPXITriggerSlopes(uint8_t) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) GetPXITriggerEnables(uint8_t*) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) SetPXITriggerEnables(uint8_t) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(int32_t) GetTriggerTimeOut(void) {
  if (!InstrumentPresent()) return 1;
  return 1;
}

RK350_API(uint16_t) SetTriggerTimeOut(uint32_t) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}
