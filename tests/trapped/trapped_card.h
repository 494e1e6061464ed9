// The harness's side of a trapped instruction: the card that serves it.
#pragma once

#include <cstdint>

#include "card/virtual_card.h"
#include "tests/trapped/port_instruction.h"

namespace rk350::trapped {

// The card at RK350_TRAPPED_BASE (default 0x300), following the host's clock.
card::VirtualCard& Card();
// Serves one decoded instruction and counts it; returns the accumulator.
uint64_t Serve(const PortInstruction& op, uint64_t accumulator);
// With RK350_TRAPPED_REPORT set: the counts to standard error.
void Report();
uint64_t InCount();
uint64_t OutCount();

}  // namespace rk350::trapped
