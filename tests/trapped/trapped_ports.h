// The trapped-port harness: a library, preloaded into a program that runs the
// hardware flavour unchanged, that grants the kernel's port permission
// (ioperm and iopl succeed without asking the kernel), and serves every x86
// `in`/`out` instruction, which then faults, from a virtual card.
//
// The card sits at RK350_TRAPPED_BASE (default 0x300) and follows the host's
// clock. At exit, with RK350_TRAPPED_REPORT set, the harness writes to
// standard error how many instructions it served.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// The instructions served so far.
uint64_t RK350Trapped_InCount(void);
uint64_t RK350Trapped_OutCount(void);
// The card in manual time from `seconds` on, moved on by `step` at every
// status read (as the virtual flavour's RK350Sim_SetManualTime and
// RK350Sim_SetAutoTimeStep).
void RK350Trapped_SetManualTime(double seconds, double step);

#ifdef __cplusplus
}

namespace rk350::card {
class VirtualCard;
}
// The card behind the trapped instructions, for C++ tests.
rk350::card::VirtualCard& RK350Trapped_Card();
#endif
