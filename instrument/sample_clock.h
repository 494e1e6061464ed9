// The card's sample clock: a 50 MHz base, four fixed rates, and below them a
// prescaler with a 16-bit divider.
#pragma once

#include <cstdint>

#include "hardware/register_map.h"
#include "instrument/trk350.h"

namespace rk350::sample_clock {

inline constexpr Extended kBaseClock = regs::kBaseClockHz;
inline constexpr int32_t kMaxDivider = 0xFFFF;

// The slowest rate the divider reaches: the largest prescaler with the
// largest 16-bit divider. Requests below it cannot be programmed.
inline constexpr Extended kMinRate = kBaseClock / 2 / regs::kPrescalerDivisor[regs::kLastPrescaler] / kMaxDivider;

// Counter rates above this run in the fast counter mode.
inline constexpr Extended kFastCounterLimit = 100000.0L;

// True for a request the clock can be programmed with: positive, not below
// the slowest reachable rate (NaN is not).
inline bool IsProgrammableRate(Extended hertz) { return hertz >= kMinRate; }

}  // namespace rk350::sample_clock
