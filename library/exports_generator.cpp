// Function generator exports: check the instrument and the generator, convert
// the argument (volts, percent, hertz, exported signal type codes) and call one
// generator operation of the instrument, or read one of its settings.
#include <cmath>

#include "library/library_state.h"
#include "rk350/rk350_ext.h"

using namespace rk350;

namespace {

constexpr uint8_t kKindWithGeneratorEnable = 18;
constexpr uint16_t kExportedArbitrary = 5;

// Instrument check, then generator check.
uint16_t CheckGenerator() {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  return gInstrument->FuncGenPresent ? ResultOk : ResultNoGenerator;
}

// Amplitude and offset share one limit, the largest accepted magnitude.
bool WithinMaxAmplitude(double volts) {
  return gInstrument->FuncGenMaxAmplitude >= std::fabs(static_cast<Extended>(volts));
}

}  // namespace

RK350_API(uint16_t) SetFuncGenSignalType(uint16_t signalType) {
  if (const uint16_t r = CheckGenerator(); r != ResultOk) return r;
  if (signalType > kExportedArbitrary) return ResultInvalidValue;
  const uint8_t internal =
      signalType == kExportedArbitrary ? static_cast<uint8_t>(gsArbitrary) : static_cast<uint8_t>(signalType);
  gInstrument->SetGenSignalType(internal);
  return ResultOk;
}

RK350_API(uint16_t) GetFuncGenSignalType(uint16_t* signalType) {
  if (const uint16_t r = CheckGenerator(); r != ResultOk) return r;
  const uint8_t internal = gInstrument->GenSignalType;
  uint16_t exported;
  if (internal <= gsNoise) {
    exported = internal;
  } else if (internal == gsArbitrary) {
    exported = kExportedArbitrary;
  } else {
    return ResultInvalidValue;
  }
  if (signalType != nullptr) *signalType = exported;
  return ResultOk;
}

RK350_API(uint16_t) SetFuncGenAmplitude(double volts) {
  if (const uint16_t r = CheckGenerator(); r != ResultOk) return r;
  if (!WithinMaxAmplitude(volts)) return ResultInvalidValue;  // also NaN
  gInstrument->SetGenAmplitude(volts);
  return ResultOk;
}

RK350_API(uint16_t) GetFuncGenAmplitude(double* volts) {
  if (const uint16_t r = CheckGenerator(); r != ResultOk) return r;
  if (volts != nullptr) *volts = static_cast<double>(gInstrument->GenAmplitude);
  return ResultOk;
}

RK350_API(uint16_t) SetFuncGenAmplitudeRange(uint32_t) { return ResultNotAvailable; }

RK350_API(uint16_t) GetFuncGenAmplitudeRange(uint32_t) { return ResultNotAvailable; }

RK350_API(uint16_t) SetFuncGenDCOffset(double volts) {
  if (const uint16_t r = CheckGenerator(); r != ResultOk) return r;
  if (!WithinMaxAmplitude(volts)) return ResultInvalidValue;
  gInstrument->SetGenDCOffset(volts);
  return ResultOk;
}

RK350_API(uint16_t) GetFuncGenDCOffset(double* volts) {
  if (const uint16_t r = CheckGenerator(); r != ResultOk) return r;
  if (volts != nullptr) *volts = static_cast<double>(gInstrument->GenDCOffset);
  return ResultOk;
}

RK350_API(uint16_t) SetFuncGenSymmetry(double percent) {
  if (const uint16_t r = CheckGenerator(); r != ResultOk) return r;
  if (!(percent >= 0 && percent <= 100)) return ResultInvalidValue;  // also NaN
  gInstrument->SetGenSymmetry(static_cast<Extended>(percent) / 100);
  return ResultOk;
}

RK350_API(uint16_t) GetFuncGenSymmetry(double* percent) {
  if (const uint16_t r = CheckGenerator(); r != ResultOk) return r;
  const Extended symmetry = gInstrument->GenSymmetry;
  if (!(symmetry >= 0 && symmetry <= 1)) return ResultInvalidValue;
  if (percent != nullptr) *percent = static_cast<double>(symmetry * 100);
  return ResultOk;
}

RK350_API(uint16_t) SetFuncGenFrequency(double* hertz) {
  if (const uint16_t r = CheckGenerator(); r != ResultOk) return r;
  if (hertz == nullptr) return ResultInvalidValue;
  // Above 0 and finite: an infinite frequency has no clock.
  if (!(*hertz > 0) || std::isinf(*hertz)) return ResultInvalidValue;
  gInstrument->SetGenFrequency(*hertz);
  *hertz = static_cast<double>(gInstrument->GenFrequency);  // the caller sees the 5 MHz limit
  return ResultOk;
}

RK350_API(uint16_t) GetFuncGenFrequency(double* hertz) {
  if (const uint16_t r = CheckGenerator(); r != ResultOk) return r;
  if (hertz != nullptr) *hertz = static_cast<double>(gInstrument->GenFrequency);
  return ResultOk;
}

RK350_API(uint16_t) RK350_GetFuncGenRunFrequency(double* hertz) {
  if (const uint16_t r = CheckGenerator(); r != ResultOk) return r;
  if (hertz == nullptr) return ResultInvalidValue;
  *hertz = static_cast<double>(gInstrument->GenRunFrequency());
  return ResultOk;
}

RK350_API(uint16_t) SetFuncGenTrigSource(uint8_t source) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  if (!gInstrument->HasGeneratorTriggerSource) return ResultNotAvailable;
  if (source == tsExternal) {
    gInstrument->GenTrigExternal = true;
  } else if (source == tsNoTrig) {
    gInstrument->GenTrigExternal = false;
  } else {
    return ResultInvalidValue;
  }
  return ResultOk;
}

RK350_API(uint16_t) GetFuncGenTrigSource(uint8_t* source) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  if (!gInstrument->HasGeneratorTriggerSource) return ResultNotAvailable;
  if (source != nullptr) *source = gInstrument->GenTrigExternal ? tsExternal : tsNoTrig;
  return ResultOk;
}

RK350_API(uint16_t) FillFuncGenMemory(uint32_t count, const uint16_t* samples) {
  if (const uint16_t r = CheckGenerator(); r != ResultOk) return r;
  // No samples, or none to take: refused, the waveform stays as it is.
  if (samples == nullptr || count == 0) return ResultInvalidValue;
  // The memory holds 65536 samples; further samples are ignored, and the
  // length that reaches the card is the number kept.
  const uint32_t kept = count < static_cast<uint32_t>(kGenBufferWords) ? count : kGenBufferWords;
  gInstrument->FuncGenMemoryLength = static_cast<int32_t>(kept);
  gInstrument->LoadGenUserWaveform(samples, kept);
  return ResultOk;
}

RK350_API(uint16_t) SetFuncGenOutputOn(uint16_t on) {
  if (const uint16_t r = CheckGenerator(); r != ResultOk) return r;
  if (on == 1) {
    gInstrument->SetGenOutputOn(true);
  } else if (on == 0) {
    // On an instrument with a separate enable the output stays on.
    gInstrument->SetGenOutputOn(gInstrument->InstrumentKind == kKindWithGeneratorEnable);
  } else {
    return ResultInvalidValue;
  }
  return ResultOk;
}

RK350_API(uint16_t) GetFuncGenOutputOn(uint16_t* on) {
  if (on != nullptr) *on = 0;
  if (const uint16_t r = CheckGenerator(); r != ResultOk) return r;
  if (on != nullptr && gInstrument->GenOutputOn) *on = 1;
  return ResultOk;
}

RK350_API(uint16_t) SetFuncGenEnable(uint16_t enable) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  if (gInstrument->InstrumentKind != kKindWithGeneratorEnable) return ResultNotAvailable;
  if (!gInstrument->FuncGenPresent) return ResultNoGenerator;
  if (enable > 1) return ResultInvalidValue;
  gInstrument->GenEnable = enable == 1;
  return ResultOk;
}

RK350_API(uint16_t) GetFuncGenEnable(uint16_t* enable) {
  if (enable != nullptr) *enable = 0;
  if (const uint16_t r = CheckGenerator(); r != ResultOk) return r;
  if (gInstrument->InstrumentKind != kKindWithGeneratorEnable) return ResultNotAvailable;
  if (enable != nullptr && gInstrument->GenEnable) *enable = 1;
  return ResultOk;
}

RK350_API(uint16_t) FuncGenBurst(uint16_t count) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  if (!gInstrument->HasGeneratorBurst) return ResultNotAvailable;
  gInstrument->SetGenOutputOn(true);
  gInstrument->GenBurstCount = count;
  gInstrument->GenEnable = true;
  return ResultOk;
}

RK350_API(uint16_t) SetFuncGenMode(uint32_t) { return ResultNotAvailable; }

RK350_API(uint16_t) GetFuncGenMode(uint32_t) { return ResultNotAvailable; }
