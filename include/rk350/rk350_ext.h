/*
 * RK350 ISA driver library: extension calls.
 *
 * These calls are not part of the instrument interface of rk350.h; they let
 * a host run the library outside a Windows message loop, receive the
 * library's message-box texts, install its own port access, and name result
 * codes.
 */
#ifndef RK350_RK350_EXT_H
#define RK350_RK350_EXT_H

#include "rk350.h"

/* One declaration per line: the export-table tests read this file. */
/* clang-format off */

/*
 * Processes the calling thread's pending messages once: runs due ticks of the
 * measurement timer and delivers posted messages. On POSIX nothing else runs
 * the timer-driven measurement engine, so the thread that called
 * InitInstrument calls this regularly (every few milliseconds) while
 * measurements run in continuous or one-shot mode. On Windows it runs
 * PeekMessage/DispatchMessage over the thread's queue. Returns the number of
 * timer ticks and messages handled.
 */
RK350_API(uint32_t) RK350_ProcessMessages(void);

/*
 * Receives the library's message-box texts instead of a modal box (Windows)
 * or a line on standard error (POSIX). Pass a null handler to restore the
 * default.
 */
typedef void(RK350_CALL *RK350MessageBoxHandler)(void *context, const char *text);
RK350_API(void) RK350_SetMessageBoxHandler(RK350MessageBoxHandler handler, void *context);

/*
 * Installs the host's own port access. `in` returns the byte read (0..255),
 * or a negative value to report a bus fault; `out` returns 0, or a negative
 * value to report a bus fault. Passing null for both restores the library's
 * own port access. Refused with RK350_RESULT_NOT_AVAILABLE while an
 * instrument exists (between InitInstrument and ExitInstrument), and with
 * RK350_RESULT_INVALID_VALUE when only one of the two functions is given.
 */
typedef int(RK350_CALL *RK350PortInFunction)(void *context, uint16_t port);
typedef int(RK350_CALL *RK350PortOutFunction)(void *context, uint16_t port, uint8_t value);
RK350_API(uint16_t) RK350_SetPortFunctions(void *context, RK350PortInFunction in, RK350PortOutFunction out);

/*
 * Names and meanings of result codes, for messages to people. A combination
 * of bits or an unknown code yields "Unknown" / "unknown result code".
 */
RK350_API(const char *) RK350_ResultName(uint32_t result);
RK350_API(const char *) RK350_ResultText(uint32_t result);

/*
 * Whether the measurement engine has finished a record since the last call:
 * returns the library's measurement-ready flag (set when the instrument
 * reports a finished measurement) and clears it. A host running continuous
 * or one-shot measurements reads each new record once this answers 1.
 * Answers 0 while no instrument exists.
 */
RK350_API(uint32_t) RK350_TakeMeasurementReady(void);

/* Version of the library, as "major.minor.patch". */
RK350_API(const char *) RK350_Version(void);

#endif /* RK350_RK350_EXT_H */
