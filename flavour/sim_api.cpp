// The virtual card's control calls, exported by the virtual-card flavour.
#include <algorithm>
#include <cstring>
#include <string>

#include "flavour/default_card.h"
#include "rk350/rk350_sim.h"

using rk350::card::DefaultVirtualCard;

RK350_API(void) RK350Sim_Reset(void) { DefaultVirtualCard().Reset(); }
RK350_API(void) RK350Sim_SetBaseAddress(uint16_t base) { DefaultVirtualCard().SetBase(base); }
RK350_API(uint16_t) RK350Sim_GetBaseAddress(void) { return DefaultVirtualCard().Base(); }
RK350_API(uint8_t) RK350Sim_GetRegister(uint8_t index) { return DefaultVirtualCard().Register(index); }

// ---- Serial EEPROM ------------------------------------------------------------

namespace {
rk350::card::SerialEepromModel& Eeprom() { return DefaultVirtualCard().Eeprom(); }
constexpr uint16_t kSimOk = RK350_RESULT_OK;
constexpr uint16_t kSimInvalidValue = RK350_RESULT_INVALID_VALUE;
}  // namespace

RK350_API(uint16_t) RK350Sim_SetEepromVariant(uint32_t variant) {
  if (variant >= static_cast<uint32_t>(rk350::card::kEepromVariantCount)) return kSimInvalidValue;
  Eeprom().SetVariant(static_cast<rk350::card::EepromVariant>(variant));
  return kSimOk;
}

RK350_API(uint16_t) RK350Sim_LoadEepromImage(const uint8_t* bytes, uint32_t length) {
  if (bytes == nullptr || length == 0 || length > rk350::card::EepromImage::kSize) return kSimInvalidValue;
  rk350::card::EepromImage image;  // erased
  std::copy(bytes, bytes + length, image.Bytes().begin());
  Eeprom().LoadImage(image);
  return kSimOk;
}

RK350_API(uint32_t) RK350Sim_ReadEepromImage(uint8_t* buffer, uint32_t length) {
  const auto& bytes = Eeprom().Memory().Image().Bytes();
  if (buffer == nullptr) return static_cast<uint32_t>(bytes.size());
  const uint32_t count = std::min<uint32_t>(length, static_cast<uint32_t>(bytes.size()));
  std::copy(bytes.begin(), bytes.begin() + count, buffer);
  return count;
}

RK350_API(void) RK350Sim_InjectBusFault(uint32_t readsBefore) { DefaultVirtualCard().InjectBusFault(readsBefore); }

RK350_API(void) RK350Sim_StartEepromTrace(void) { Eeprom().StartTrace(); }
RK350_API(void) RK350Sim_StopEepromTrace(void) { Eeprom().StopTrace(); }

RK350_API(uint32_t) RK350Sim_GetEepromTraceVcd(char* buffer, uint32_t size) {
  const std::string& vcd = Eeprom().Trace().Vcd();
  const auto needed = static_cast<uint32_t>(vcd.size() + 1);
  if (buffer != nullptr && size >= needed) std::memcpy(buffer, vcd.c_str(), needed);
  return needed;
}

// ---- Input front end and sample clock -------------------------------------------

RK350_API(uint16_t)
RK350Sim_GetInputPath(uint8_t path, double* fullScaleVolts, uint8_t* acCoupled, uint8_t* inputChannel,
                      double* offsetVolts) {
  if (path != 1 && path != 2) return RK350_RESULT_INVALID_CHANNEL;
  const rk350::card::PathAnalogState state = DefaultVirtualCard().FrontEnd().Path(path);
  if (fullScaleVolts != nullptr) *fullScaleVolts = state.fullScaleVolts;
  if (acCoupled != nullptr) *acCoupled = state.acCoupled ? 1 : 0;
  if (inputChannel != nullptr) *inputChannel = static_cast<uint8_t>(state.inputChannel);
  if (offsetVolts != nullptr) *offsetVolts = state.offsetVolts;
  return RK350_RESULT_OK;
}

RK350_API(double) RK350Sim_GetConverterClock(void) { return DefaultVirtualCard().SampleClock().ConverterClockHz(); }
// ---- Acquisition: inputs, time, faults ----------------------------------------

namespace {
using rk350::card::SignalSource;
using rk350::card::SignalSources;
using rk350::card::SourceKind;

bool ToSourceKind(int32_t kind, SourceKind& out) {
  switch (kind) {
    case RK350SIM_SOURCE_UNPLUGGED:
      out = SourceKind::kUnplugged;
      return true;
    case RK350SIM_SOURCE_DC:
      out = SourceKind::kDc;
      return true;
    case RK350SIM_SOURCE_SINE:
      out = SourceKind::kSine;
      return true;
    case RK350SIM_SOURCE_SQUARE:
      out = SourceKind::kSquare;
      return true;
    case RK350SIM_SOURCE_STEP:
      out = SourceKind::kStep;
      return true;
    case RK350SIM_SOURCE_NOISE:
      out = SourceKind::kNoise;
      return true;
    case RK350SIM_SOURCE_GENERATOR:
      out = SourceKind::kGenerator;
      return true;
    default:
      return false;
  }
}
}  // namespace

RK350_API(uint16_t) RK350Sim_SetInputSource(uint8_t input, const RK350SimSource* source) {
  SourceKind kind{};
  if (input >= SignalSources::kInputCount || source == nullptr || !ToSourceKind(source->kind, kind)) {
    return RK350_RESULT_INVALID_VALUE;
  }
  SignalSource s;
  s.kind = kind;
  s.amplitude = source->amplitude;
  s.frequency = source->frequency;
  s.offset = source->offset;
  s.phase = source->phase;
  s.stepTime = source->stepTime;
  s.noise = source->noise;
  DefaultVirtualCard().Sources().Set(input, s);
  return RK350_RESULT_OK;
}

RK350_API(uint16_t)
RK350Sim_SetInputSamples(uint8_t input, const double* volts, uint32_t count, double interval, double startTime,
                         int32_t repeat) {
  if (input >= SignalSources::kInputCount || volts == nullptr || count == 0 || !(interval > 0)) {
    return RK350_RESULT_INVALID_VALUE;
  }
  DefaultVirtualCard().Sources().SetSamples(input, volts, count, interval, startTime, repeat != 0);
  return RK350_RESULT_OK;
}

RK350_API(double) RK350Sim_GetTime(void) { return DefaultVirtualCard().Time().Now(); }
RK350_API(void) RK350Sim_SetManualTime(double seconds) { DefaultVirtualCard().Time().SetManual(seconds); }
RK350_API(void) RK350Sim_AdvanceTime(double seconds) { DefaultVirtualCard().Time().Advance(seconds); }
RK350_API(void) RK350Sim_SetAutoTimeStep(double step) { DefaultVirtualCard().Time().SetAutoStep(step); }
RK350_API(void) RK350Sim_UseHostTime(void) { DefaultVirtualCard().Time().FollowHostClock(); }

RK350_API(uint16_t) RK350Sim_SetFault(int32_t fault) {
  using Fault = rk350::card::VirtualCard::Fault;
  switch (fault) {
    case RK350SIM_FAULT_NONE:
      DefaultVirtualCard().SetFault(Fault::kNone);
      return RK350_RESULT_OK;
    case RK350SIM_FAULT_STATUS_STUCK:
      DefaultVirtualCard().SetFault(Fault::kStatusStuck);
      return RK350_RESULT_OK;
    case RK350SIM_FAULT_SILENT:
      DefaultVirtualCard().SetFault(Fault::kSilent);
      return RK350_RESULT_OK;
    default:
      return RK350_RESULT_INVALID_VALUE;
  }
}

// ---- Function generator ----------------------------------------------------------

RK350_API(uint16_t) RK350Sim_GetGeneratorOutput(double* frequency, double* amplitude, double* offset) {
  const rk350::card::GeneratorOutput out = DefaultVirtualCard().Generator().Output();
  if (frequency != nullptr) *frequency = out.frequencyHz;
  if (amplitude != nullptr) *amplitude = out.amplitudeVolts;
  if (offset != nullptr) *offset = out.offsetVolts;
  return out.running ? 1 : 0;
}
RK350_API(double) RK350Sim_GetGeneratorVolts(double seconds) {
  return DefaultVirtualCard().Generator().OutputVolts(seconds);
}
