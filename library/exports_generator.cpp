// Function generator exports.
// Not yet implemented: each answers through the common guard.
#include "library/library_state.h"

using namespace rk350;

RK350_API(uint16_t) SetFuncGenSignalType(uint16_t) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) GetFuncGenSignalType(uint16_t*) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) SetFuncGenAmplitude(double) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) GetFuncGenAmplitude(double*) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) SetFuncGenAmplitudeRange(uint32_t) { return ResultNotAvailable; }

RK350_API(uint16_t) GetFuncGenAmplitudeRange(uint32_t) { return ResultNotAvailable; }

RK350_API(uint16_t) SetFuncGenDCOffset(double) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) GetFuncGenDCOffset(double*) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) SetFuncGenSymmetry(double) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) GetFuncGenSymmetry(double*) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) SetFuncGenFrequency(double*) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) GetFuncGenFrequency(double*) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) SetFuncGenTrigSource(uint8_t) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) GetFuncGenTrigSource(uint8_t*) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) FillFuncGenMemory(uint32_t, const uint16_t*) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) SetFuncGenOutputOn(uint16_t) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) GetFuncGenOutputOn(uint16_t*) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) SetFuncGenEnable(uint16_t) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) GetFuncGenEnable(uint16_t*) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) FuncGenBurst(uint16_t) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) SetFuncGenMode(uint32_t) { return ResultNotAvailable; }

RK350_API(uint16_t) GetFuncGenMode(uint32_t) { return ResultNotAvailable; }
