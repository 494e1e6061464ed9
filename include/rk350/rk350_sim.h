/*
 * RK350 ISA driver library, virtual-card flavour: control of the virtual card.
 *
 * Exported only by the virtual-card flavour. A host or test uses these calls
 * to place the card, choose its EEPROM, feed its inputs, step its time and
 * look at its registers. They never go through the library's instrument.
 */
#ifndef RK350_RK350_SIM_H
#define RK350_RK350_SIM_H

#include "rk350.h"

/* One declaration per line: the export-table tests read this file. */
/* clang-format off */

/* Power-on state of the card (its EEPROM content stays). */
RK350_API(void) RK350Sim_Reset(void);
/* Moves the card to another I/O base address (default 0x288). */
RK350_API(void) RK350Sim_SetBaseAddress(uint16_t base);
RK350_API(uint16_t) RK350Sim_GetBaseAddress(void);
/* The value last written to a card register (0..37). */
RK350_API(uint8_t) RK350Sim_GetRegister(uint8_t index);

/* ---- Serial EEPROM ------------------------------------------------------ */
/* EEPROM variants of the card. */
#define RK350_SIM_EEPROM_DEFAULT 0      /* a plausible calibrated card */
#define RK350_SIM_EEPROM_BLANK 1        /* erased: every byte 0xFF */
#define RK350_SIM_EEPROM_NO_ANSWER 2    /* no memory answers: the data line stays high */
#define RK350_SIM_EEPROM_WRONG_MODEL 3  /* model code 0x51 */
#define RK350_SIM_EEPROM_INVALID_DATE 4 /* calibration month 13 */
#define RK350_SIM_EEPROM_NO_GENERATOR 5 /* generator fitting byte 1 */
/* Size of the card's EEPROM in bytes (a 24C32: 4096). */
#define RK350_SIM_EEPROM_SIZE 4096u

/* Gives the card's EEPROM the content of a variant. Unknown variant:
 * RK350_RESULT_INVALID_VALUE, nothing changes. */
RK350_API(uint16_t) RK350Sim_SetEepromVariant(uint32_t variant);
/* Loads `length` bytes (1..RK350_SIM_EEPROM_SIZE) from address 0 on; the rest
 * of the memory reads erased (0xFF) and the memory answers. A null pointer or
 * a length outside that range: RK350_RESULT_INVALID_VALUE, nothing changes. */
RK350_API(uint16_t) RK350Sim_LoadEepromImage(const uint8_t *bytes, uint32_t length);
/* Copies up to `length` bytes of the EEPROM content from address 0 into
 * `buffer`; returns the number copied. With a null buffer nothing is copied
 * and the EEPROM size is returned. */
RK350_API(uint32_t) RK350Sim_ReadEepromImage(uint8_t *buffer, uint32_t length);

/* The port read after `readsBefore` further port reads reports a bus fault
 * (once), as a faulting host port function would. */
RK350_API(void) RK350Sim_InjectBusFault(uint32_t readsBefore);

/* Logic trace of the EEPROM's clock and data wires. Start begins a new trace
 * (the previous one is dropped); Stop ends it. GetEepromTraceVcd writes the
 * trace as VCD text (signals "scl" and "sda", NUL-terminated) into `buffer`
 * when it fits in `size` bytes, and returns the size it needs including the
 * terminating NUL; call it with a null buffer to learn the size. */
RK350_API(void) RK350Sim_StartEepromTrace(void);
RK350_API(void) RK350Sim_StopEepromTrace(void);
RK350_API(uint32_t) RK350Sim_GetEepromTraceVcd(char *buffer, uint32_t size);

/* ---- Input front end and sample clock ----------------------------------- */
/* What converter path 1 or 2 does to its input, as the card decodes it from
 * its relay latches and DACs: the full scale in volts (0 when the relays
 * select no range), AC coupling (0 or 1), the input channel it digitises (1
 * or 2; the other one when interleaved) and the offset in volts added to the
 * input. Null pointers are skipped. Another path:
 * RK350_RESULT_INVALID_CHANNEL, nothing is written. */
RK350_API(uint16_t) RK350Sim_GetInputPath(uint8_t path, double *fullScaleVolts, uint8_t *acCoupled, uint8_t *inputChannel, double *offsetVolts);
/* The rate the card's converters are clocked at, in Hz (each converter; 0
 * while the clock select names no clock). */
RK350_API(double) RK350Sim_GetConverterClock(void);

/* ---- Acquisition: inputs, time, faults ---------------------------------- */

/* Inputs of the card: 1 and 2 are the analog channels, 0 the external
 * trigger input (TTL-like, threshold 1.4 V). */
#define RK350SIM_INPUT_EXTERNAL 0

/* Source kinds. The power-on wiring loops the generator output to input 1;
 * input 2 and the external input are unplugged (0 V). */
#define RK350SIM_SOURCE_UNPLUGGED 0
#define RK350SIM_SOURCE_DC 1        /* offset */
#define RK350SIM_SOURCE_SINE 2      /* offset + amplitude * sin(2 pi f t + phase) */
#define RK350SIM_SOURCE_SQUARE 3    /* offset +/- amplitude, high first */
#define RK350SIM_SOURCE_STEP 4      /* offset, then offset + amplitude from stepTime on */
#define RK350SIM_SOURCE_NOISE 5     /* offset + uniform noise within +/- amplitude */
#define RK350SIM_SOURCE_GENERATOR 7 /* the function generator's output */

typedef struct RK350SimSource {
  int32_t kind;
  double amplitude; /* volts */
  double frequency; /* hertz */
  double offset;    /* volts */
  double phase;     /* radians */
  double stepTime;  /* seconds of card time */
  double noise;     /* half-width in volts of uniform noise added to any kind */
} RK350SimSource;

/* Connects a source to an input (0..2); RK350_RESULT_INVALID_VALUE for another
 * input, a null source or an unknown kind. */
RK350_API(uint16_t) RK350Sim_SetInputSource(uint8_t input, const RK350SimSource *source);
/* Plays host samples (volts) on an input, one every `interval` seconds from
 * card time `startTime`; `repeat` non-zero loops them, else the last holds. */
RK350_API(uint16_t) RK350Sim_SetInputSamples(uint8_t input, const double *volts, uint32_t count, double interval, double startTime, int32_t repeat);

/* Card time, in seconds. By default it follows the host's monotonic clock;
 * RK350Sim_SetManualTime freezes it at a value, after which it moves only by
 * RK350Sim_AdvanceTime and, when set, by `step` seconds at every status read
 * (RK350Sim_SetAutoTimeStep; this lets StartMeasurement finish in manual
 * time). RK350Sim_UseHostTime goes back to the host clock from the current
 * card time. */
RK350_API(double) RK350Sim_GetTime(void);
RK350_API(void) RK350Sim_SetManualTime(double seconds);
RK350_API(void) RK350Sim_AdvanceTime(double seconds);
RK350_API(void) RK350Sim_SetAutoTimeStep(double step);
RK350_API(void) RK350Sim_UseHostTime(void);

/* Faults: 0 none, 1 the status port reads 0xFF, 2 the card answers nothing
 * (every read 0xFF, writes lost). */
#define RK350SIM_FAULT_NONE 0
#define RK350SIM_FAULT_STATUS_STUCK 1
#define RK350SIM_FAULT_SILENT 2
RK350_API(uint16_t) RK350Sim_SetFault(int32_t fault);
/* ---- Function generator ---------------------------------------------------
 * What the card's generator puts out, decoded from its registers and its own
 * calibration: the waveform repetition frequency (0 while its clock is
 * stopped), the amplitude (peak: the output swings from offset - amplitude
 * to offset + amplitude) and the offset, in volts. Null pointers are skipped.
 * Returns 1 while the generator's clock runs, else 0. */
RK350_API(uint16_t) RK350Sim_GetGeneratorOutput(double *frequency, double *amplitude, double *offset);
/* The generator's output voltage at a virtual time in seconds. */
RK350_API(double) RK350Sim_GetGeneratorVolts(double seconds);

#endif /* RK350_RK350_SIM_H */
