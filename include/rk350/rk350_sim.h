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

/* ---- Input front end ---------------------------------------------------- */
/* What converter path 1 or 2 does to its input, as the card decodes it from
 * its relay latches and DACs: the full scale in volts (0 when the relays
 * select no range), AC coupling (0 or 1), the input channel it digitises (1
 * or 2; the other one when interleaved) and the offset in volts added to the
 * input. Null pointers are skipped. Another path:
 * RK350_RESULT_INVALID_CHANNEL, nothing is written. */
RK350_API(uint16_t) RK350Sim_GetInputPath(uint8_t path, double *fullScaleVolts, uint8_t *acCoupled,
                                          uint8_t *inputChannel, double *offsetVolts);

#endif /* RK350_RK350_SIM_H */
