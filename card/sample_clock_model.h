// The card's sample clock as the card sees it: a 50 MHz base with four fixed
// rates, and a prescaler feeding a 16-bit reload counter for the slower
// rates. The converters run at ConverterClockHz(); interleaved, both run at
// it, half a period apart.
//
// Register 5 (clock select, the memory readout bit ignored here): a fixed
//   rate, or the fast or slow counter group with a prescaler code i = 1..15
//   dividing the half base clock (codes and divisors in the register map).
// Registers 6, 7: reload value, taken by the counter when bit 0 of the
// command register 4 rises. The counter runs from the reload value up and
// wraps one state past 0xFFFF: it divides by (0x10001 - reload) mod 65536
// (0 meaning 65536).
// Register 8: clock mode (6 fixed rates and fast counter, 2 fixed rates
// interleaved, 0x14 slow counter).
#pragma once

#include <cstdint>

#include "hardware/register_map.h"

namespace rk350::card {

class SampleClockModel {
 public:
  static constexpr double kBaseClockHz = regs::kBaseClockHz;

  SampleClockModel() { Reset(); }
  void Reset();
  void OnRegisterWrite(uint8_t index, uint8_t value);

  // The converters' clock rate in Hz; 0 when the select names no clock.
  double ConverterClockHz() const;
  uint8_t ClockSelect() const { return select_; }
  uint8_t ClockMode() const { return mode_; }
  // The divider the counter runs with (from the reload value last loaded).
  uint32_t CounterDivider() const;
  uint16_t LoadedReload() const { return loadedReload_; }
  // Prescaler divisor of a code 1..15, 0 for any other code.
  static double PrescalerDivisor(int code);

 private:
  uint8_t select_ = 0;
  uint8_t mode_ = 0;
  uint8_t reloadLow_ = 0;
  uint8_t reloadHigh_ = 0;
  uint8_t command_ = 0;
  uint16_t loadedReload_ = 0;
};

}  // namespace rk350::card
