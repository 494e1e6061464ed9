// Identity and capability exports.
#include <cmath>

#include "library/library_state.h"

using namespace rk350;

RK350_API(uint16_t) GetCalibrationDate(uint32_t* date) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  // The date is read from the card on every call; the time of day is dropped.
  const CalibrationDateTime cal = gInstrument->ReadCalibrationDate();
  if (date != nullptr) {
    *date = (static_cast<uint32_t>(cal.day) << 24) + (static_cast<uint32_t>(cal.month) << 16) +
            static_cast<uint32_t>(cal.year);
  }
  return ResultOk;
}

RK350_API(uint16_t) GetSerialNumber(int32_t* serial) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  if (serial != nullptr) *serial = gInstrument->SerialNumber;
  return ResultOk;
}

RK350_API(uint16_t) GetNrChannels(uint16_t* channels) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  if (channels != nullptr) *channels = gInstrument->ChannelCount;
  return ResultOk;
}

RK350_API(double) GetMaxSampleFrequencyF(void) {
  if (!InstrumentPresent()) return 0.0;
  return static_cast<double>(gInstrument->MaxSampleFrequency);
}

RK350_API(int32_t) GetMaxSampleFrequency(void) {
  if (!InstrumentPresent()) return 0;
  return static_cast<int32_t>(std::nearbyint(gInstrument->MaxSampleFrequency));
}

RK350_API(int32_t) GetMaxRecordLength(void) {
  if (!InstrumentPresent()) return 0;
  return gInstrument->MaxRecordLength;
}

RK350_API(uint32_t) GetDCLevelStatus(void) {
  if (!InstrumentPresent()) return ResultNoInstrument;
  return gInstrument->DcLevelAvailable ? ResultOk : ResultNotAvailable;
}

RK350_API(uint16_t) GetSquareWaveGenStatus(void) {
  if (!InstrumentPresent()) return ResultNoInstrument;
  return gInstrument->SquareWaveGenPresent ? ResultOk : ResultNoGenerator;
}

RK350_API(uint16_t) GetFunctionGenStatus(void) {
  if (!InstrumentPresent()) return ResultNoInstrument;
  return gInstrument->FuncGenPresent ? ResultOk : ResultNoGenerator;
}

RK350_API(uint16_t) GetFuncGenMaxAmplitude(double* amplitude) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  if (!gInstrument->FuncGenPresent) return ResultNoGenerator;
  if (amplitude != nullptr) *amplitude = static_cast<double>(gInstrument->FuncGenMaxAmplitude);
  return ResultOk;
}
