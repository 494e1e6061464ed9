// Digital I/O, resistance, I2C and other auxiliary exports. This card has none
// of these circuits; the functions answer with their result codes and never
// touch the card.
#include "library/library_state.h"

using namespace rk350;

RK350_API(uint16_t) GetDigitalInputValues(uint16_t* values) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  if (gInstrument->DigitalInputsAvailable == 0) return ResultNotAvailable;
  // One value per sample of the record; the count is held in 16 bits, so a
  // multiple of 65536 samples means 65536 values.
  uint32_t count = static_cast<uint16_t>(gInstrument->lRecordLength);
  if (count == 0 && gInstrument->lRecordLength > 0) count = 65536;
  if (values != nullptr) {
    for (uint32_t i = 0; i < count; ++i) values[i] = 0;
  }
  return ResultOk;
}

RK350_API(uint16_t) GetOneDigitalValue(uint32_t /*input*/, uint16_t* value) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  if (gInstrument->DigitalInputsAvailable == 0) return ResultNotAvailable;
  if (value != nullptr) *value = 0;
  return ResultOk;
}

RK350_API(uint16_t) SetDigitalOutputs(uint32_t /*outputs*/) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  if (gInstrument->DigitalOutputsAvailable == 0) return ResultNotAvailable;
  return ResultOk;
}

RK350_API(uint16_t) GetDigitalOutputs(uint32_t* /*outputs*/) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  if (gInstrument->DigitalOutputsAvailable == 0) return ResultNotAvailable;
  return ResultOk;
}

RK350_API(uint16_t) SetupOhmMeasurements(uint32_t /*ignored*/) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  constexpr uint8_t kOhmMeterKind = 21;
  return gInstrument->InstrumentKind == kOhmMeterKind ? ResultOk : ResultNotAvailable;
}

RK350_API(uint16_t) GetOhmValues(void* /*ignored1*/, void* /*ignored2*/) { return ResultNotAvailable; }

namespace {
// The shared I2C routines: only the instrument check, then not available.
uint16_t I2CWriteCommon(bool /*stop*/) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}
uint16_t I2CReadCommon(bool /*stop*/) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}
}  // namespace

RK350_API(uint16_t) I2CWrite(uint32_t, void*, uint32_t) { return I2CWriteCommon(true); }
RK350_API(uint16_t) I2CWriteNoStop(uint32_t, void*, uint32_t) { return I2CWriteCommon(false); }
RK350_API(uint16_t) I2CRead(uint32_t, void*, uint32_t) { return I2CReadCommon(true); }
RK350_API(uint16_t) I2CReadNoStop(uint32_t, void*, uint32_t) { return I2CReadCommon(false); }

RK350_API(uint16_t) I2CGetSpeed(uint32_t*) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) I2CSetSpeed(uint32_t) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return ResultNotAvailable;
}

RK350_API(uint16_t) GetActiveQV5(uint32_t) { return ResultNotAvailable; }
RK350_API(uint16_t) SetActiveQV5(uint32_t) { return ResultNotAvailable; }
RK350_API(uint16_t) SetDAC1451(uint32_t, uint32_t, uint32_t, uint32_t) { return ResultNotAvailable; }
RK350_API(uint16_t) SetMotorOn(uint32_t, uint32_t) { return ResultNotAvailable; }
