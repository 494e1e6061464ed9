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

/* Power-on state of the card (its EEPROM content stays). */
RK350_API(void) RK350Sim_Reset(void);
/* Moves the card to another I/O base address (default 0x288). */
RK350_API(void) RK350Sim_SetBaseAddress(uint16_t base);
RK350_API(uint16_t) RK350Sim_GetBaseAddress(void);
/* The value last written to a card register (0..37). */
RK350_API(uint8_t) RK350Sim_GetRegister(uint8_t index);

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
