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
  const std::string vcd = Eeprom().Trace().Vcd();
  const auto needed = static_cast<uint32_t>(vcd.size() + 1);
  if (buffer != nullptr && size >= needed) std::memcpy(buffer, vcd.c_str(), needed);
  return needed;
}

// ---- Input front end -------------------------------------------------------------

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
