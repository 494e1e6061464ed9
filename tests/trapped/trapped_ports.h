// The trapped-port harness: it runs the hardware flavour unchanged and
// serves each of its x86 `in`/`out` instructions, which fault, from a
// virtual card. On Linux a library preloaded into the program grants the
// kernel's port permission (ioperm and iopl succeed without asking the
// kernel) and catches the faults (SIGSEGV); on Windows (Windows 9x as Wine
// presents it, where no port driver is checked) the test program catches the
// privileged-instruction exceptions with a vectored exception handler.
//
// The card sits at RK350_TRAPPED_BASE (default 0x300) and follows the host's
// clock. At exit, with RK350_TRAPPED_REPORT set, the harness writes to
// standard error how many instructions it served.
#pragma once

#include <stdint.h>

// Linux: the preloaded library's functions. Windows: linked into the test
// program itself.
#if defined(_WIN32)
#define RK350_TRAPPED_API
#else
#define RK350_TRAPPED_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

// The instructions served so far.
RK350_TRAPPED_API uint64_t RK350Trapped_InCount(void);
RK350_TRAPPED_API uint64_t RK350Trapped_OutCount(void);
// The card in manual time from `seconds` on, moved on by `step` at every
// status read (as the virtual flavour's RK350Sim_SetManualTime and
// RK350Sim_SetAutoTimeStep).
RK350_TRAPPED_API void RK350Trapped_SetManualTime(double seconds, double step);

#ifdef __cplusplus
}

namespace rk350::card {
class VirtualCard;
}
// The card behind the trapped instructions, for C++ tests.
RK350_TRAPPED_API rk350::card::VirtualCard& RK350Trapped_Card();
#endif
