// The virtual card's control calls, exported by the virtual-card flavour.
#include "flavour/default_card.h"
#include "rk350/rk350_sim.h"

using rk350::card::DefaultVirtualCard;

RK350_API(void) RK350Sim_Reset(void) { DefaultVirtualCard().Reset(); }
RK350_API(void) RK350Sim_SetBaseAddress(uint16_t base) { DefaultVirtualCard().SetBase(base); }
RK350_API(uint16_t) RK350Sim_GetBaseAddress(void) { return DefaultVirtualCard().Base(); }
RK350_API(uint8_t) RK350Sim_GetRegister(uint8_t index) { return DefaultVirtualCard().Register(index); }

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
