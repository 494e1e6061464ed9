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

/*
 * The generator's frequency as the card runs it, in the sense of
 * SetFuncGenFrequency: for the standard waveforms and a 1024-sample
 * arbitrary waveform (short memory) the repetition frequency the phase
 * accumulator reaches with its integer increment (999.942 Hz for 1 kHz),
 * for other arbitrary lengths (long memory) the fixed clock the samples are
 * played at. With the output off: what the card will run once it is on.
 * RK350_RESULT_INVALID_VALUE for a null pointer.
 */
RK350_API(uint16_t) RK350_GetFuncGenRunFrequency(double *hertz);

/*
 * What the record last read holds, for channel 1 or 2. Positions *first to
 * *first + *count - 1 hold samples the card took; every other position holds
 * none and reads 0x8000 (0 V) through the data exports. Exact: the readout
 * knows where the record started in the card's memory and how many samples
 * the card took. A record starts unsampled when the card's trigger came
 * before the pre-trigger samples were taken. A channel the measure mode did
 * not read, and every channel before the first record, holds none
 * (*count 0). For an averaged record: the positions every record of the
 * mean held. The record last read is the one the data exports hand out: the
 * engine's newest record, or the block record once a data call fetched it
 * (or ADC_Ready placed it, with the software trigger on).
 */
RK350_API(uint16_t) RK350_GetValidRange(uint16_t channel, int32_t *first, int32_t *count);

/*
 * Whether a sample the record last read holds on the channel lies beyond the
 * overload thresholds (raw above 0xFD00 or below 0x0300: the input is at or
 * near the end of its range, the signal may be clipped): *overrange 1, else 0.
 */
RK350_API(uint16_t) RK350_GetOverrange(uint16_t channel, uint32_t *overrange);

/*
 * Software trigger (on: 1, off: 0; off after InitInstrument). With it on,
 * every measurement whose trigger source is channel 1 or 2 (trigger modes 0
 * to 3) with a pre-trigger part hands out complete records: every position
 * holds a sample and the trigger sample, the first sample at or after the
 * pre-trigger position that meets the trigger condition (level, hysteresis
 * and slope as the comparators apply them), is at index lPreSamples. The
 * card is armed with its comparator waiting and a post-trigger count of the
 * record plus a search window; when the card's trigger came after the
 * pre-trigger part, the record is read around it, otherwise the library
 * reads the trigger channel from the start of the run up to the first
 * qualifying crossing and then the record around it. At 100 MHz the card
 * runs free for the record plus the window. The window follows the spacing
 * of the crossings seen (a quarter of the record while none is known); a
 * run without a qualifying crossing is repeated with the window the run
 * taught, until the trigger time-out (engine and StartMeasurement) or
 * ADC_ForceTrig (block measurement) takes a record as it is. A record with
 * no trigger wanted (source none, time-out 0) is a free run of exactly the
 * record; without a pre-trigger part the card's trigger gives it complete.
 * The card's own trigger stays in use where the record and the smallest
 * window (64 samples) do not fit in the memory (records above 65,456
 * samples), for the external and logic sources, for trigger modes 4 and
 * above, and when the measure mode does not read the trigger channel.
 * RK350_RESULT_INVALID_VALUE for any other value than 0 and 1.
 */
RK350_API(uint16_t) RK350_SetSoftwareTrigger(uint32_t on);
RK350_API(uint16_t) RK350_GetSoftwareTrigger(uint32_t *on);

/*
 * How the record last read was taken (the record the data exports hand
 * out, like RK350_GetValidRange): *how is one of the codes below.
 */
#define RK350_RECORD_NONE 0                /* no record read yet */
#define RK350_RECORD_TRIGGERED_CARD 1      /* the card's comparator (or external, logic) trigger */
#define RK350_RECORD_TRIGGERED_SOFTWARE 2  /* the software trigger's search found the crossing */
#define RK350_RECORD_FORCED_TIMEOUT 3      /* no trigger: forced by the trigger time-out */
#define RK350_RECORD_FORCED_CALL 4         /* no trigger: forced by ADC_ForceTrig */
#define RK350_RECORD_FREE_RUN 5            /* untriggered by design: source none or time-out 0 */
RK350_API(uint16_t) RK350_GetRecordTrigger(uint32_t *how);

/*
 * The longest card time, in seconds, of the acquisition armed last (before
 * the first arming: of the one the settings give) from its trigger, or its
 * forcing, until the card has completed it and the library can report the
 * record: the post-trigger part, the software trigger's search window and
 * the trigger path's delay. The wait for the trigger is not included: it
 * lasts until the signal crosses, or until the trigger time-out or
 * ADC_ForceTrig forces it. With the software trigger a run without a
 * qualifying crossing is run again, and the time starts again with that
 * run's trigger. Hosts wait this long (plus their own polling delay) after
 * ADC_Triggered or ADC_ForceTrig before they call a card unresponsive.
 */
RK350_API(uint16_t) RK350_GetArmedRunTime(double *seconds);

/* Version of the library, as "major.minor.patch". */
RK350_API(const char *) RK350_Version(void);

#endif /* RK350_RK350_EXT_H */
