// Measurement exports.
// Not yet implemented: each answers through the common guard.
#include "library/library_state.h"

using namespace rk350;

RK350_API(uint16_t) DoMeasure(int32_t) {
  if (const uint16_t r = CheckInstrumentInitialised(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) ADC_Start(void) {
  if (const uint16_t r = CheckInstrumentInitialised(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) ADC_Abort(void) {
  if (const uint16_t r = CheckInstrumentInitialised(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) ADC_ForceTrig(void) {
  if (const uint16_t r = CheckInstrumentInitialised(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) ADC_Running(void) {
  if (!InstrumentPresent()) return 0;
  return 0;
}

RK350_API(uint16_t) ADC_Triggered(void) {
  if (!InstrumentPresent()) return 0;
  return 0;
}

RK350_API(uint16_t) ADC_Ready(void) {
  if (!InstrumentPresent()) return 0;
  return 0;
}

RK350_API(uint16_t) ADC_GetDataCh(uint16_t, uint16_t*) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) ADC_GetDataVoltCh(uint16_t, double*) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) ADC_GetData(uint16_t*, uint16_t*) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) ADC_GetDataVolt(double*, double*) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) StartMeasurement(void) {
  if (const uint16_t r = CheckInstrumentInitialised(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) GetMeasurement(double*, double*) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) GetOneMeasurement(int32_t, double*, double*) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) GetMeasurementRaw(uint16_t*, uint16_t*) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) GetOneMeasurementRaw(int32_t, uint16_t*, uint16_t*) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) GetOneMeasurementRawCh(uint16_t, int32_t, uint16_t*) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) SetDataReadyCallback(RK350DataReadyCallback) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) SetDataReadyEvent(void*) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) SetTransferMode(uint32_t) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) GetTransferMode(uint32_t*) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) GetMeasureMode(uint8_t*) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) SetMeasureMode(uint32_t) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(int32_t) GetRecordLength(void) {
  if (!InstrumentPresent()) return 0;
  return 0;
}

RK350_API(uint16_t) SetRecordLength(uint32_t) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(int32_t) GetPostSamples(void) {
  if (!InstrumentPresent()) return 0;
  return 0;
}

RK350_API(uint16_t) SetPostSamples(uint32_t) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}
