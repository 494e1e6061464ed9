// Timebase exports: sample frequency, external clock, instrument
// configuration.
#include <cmath>

#include "instrument/sample_clock.h"
#include "library/library_state.h"

using namespace rk350;

namespace {
constexpr uint8_t kKindWithConfig = 18;
constexpr uint8_t kKindWithExternalClock2 = 22;
constexpr Extended kExternalClockMinRate = 50000000.0L;

bool ExternalClockAvailable() {
  const TRK350& in = *gInstrument;
  return (in.InstrumentKind == kKindWithConfig || in.InstrumentKind == kKindWithExternalClock2) &&
         in.MaxSampleFrequency >= kExternalClockMinRate;
}
}  // namespace

RK350_API(double) GetSampleFrequencyF(void) {
  if (!InstrumentPresent()) return 0.0;
  return static_cast<double>(gInstrument->GetrSampleFreq());
}

RK350_API(uint16_t) SetSampleFrequencyF(double* hertz) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  if (hertz == nullptr) return ResultInvalidValue;
  // 0 Hz is ignored as before; a negative, NaN or unreachably slow request
  // has no clock setting and is refused.
  const Extended request = *hertz;
  if (request != 0 && !sample_clock::IsProgrammableRate(request)) return ResultInvalidValue;
  gInstrument->SetrSampleFreq(request);
  *hertz = static_cast<double>(gInstrument->GetrSampleFreq());
  return ResultOk;
}

RK350_API(uint32_t) GetSampleFrequency(void) {
  return static_cast<uint32_t>(static_cast<int64_t>(std::nearbyint(GetSampleFrequencyF())));
}

RK350_API(uint16_t) SetSampleFrequency(uint32_t* hertz) {
  if (hertz == nullptr) {
    const uint16_t r = CheckInstrument();
    return r != ResultOk ? r : static_cast<uint16_t>(ResultInvalidValue);
  }
  double value = *hertz;
  const uint16_t result = SetSampleFrequencyF(&value);
  // Written back whatever the result: unchanged when the call failed.
  *hertz = static_cast<uint32_t>(static_cast<int64_t>(std::nearbyint(value)));
  return result;
}

RK350_API(uint16_t) GetExternalClock(uint16_t* flag) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  if (!ExternalClockAvailable()) {
    if (flag != nullptr) *flag = 0;
    return ResultNotAvailable;
  }
  if (flag != nullptr) *flag = gInstrument->bExternalClock ? 1 : 0;
  return ResultOk;
}

RK350_API(uint16_t) SetExternalClock(uint16_t flag) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  if (!ExternalClockAvailable()) {
    gInstrument->bExternalClock = false;
    return ResultNotAvailable;
  }
  if (flag > 1) {
    gInstrument->bExternalClock = false;
    return ResultInvalidValue;
  }
  gInstrument->bExternalClock = flag == 1;
  return ResultOk;
}

RK350_API(uint16_t) GetInstrumentConfig(uint16_t* config) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  if (gInstrument->InstrumentKind != kKindWithConfig) return ResultNotAvailable;
  if (gInstrument->InstrumentConfig > 2) return ResultInvalidValue;
  if (config != nullptr) *config = gInstrument->InstrumentConfig;
  return ResultOk;
}

RK350_API(uint16_t) SetInstrumentConfig(uint16_t config) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  TRK350& in = *gInstrument;
  if (in.InstrumentKind != kKindWithConfig) return ResultNotAvailable;

  uint16_t result = ResultOk;
  const Extended rate = in.GetrSampleFreq();
  const int32_t recordLength = in.lRecordLength;
  const Extended fullScale1 = in.GetChSensitivity(1);
  const Extended fullScale2 = in.GetChSensitivity(2);
  const int32_t postSamples = in.lPostSamples;
  if (config <= 2) {
    in.InstrumentConfig = static_cast<uint8_t>(config);
  } else {
    result = ResultInvalidValue;
  }
  // A configuration change re-derives the settings; they are applied again
  // even when the configuration was refused.
  in.SetrSampleFreq(rate);
  in.SetlRecordLength(recordLength);
  in.SetChSensitivity(1, fullScale1);
  in.SetChSensitivity(2, fullScale2);
  in.SetlPostSamples(postSamples);
  return result;
}
