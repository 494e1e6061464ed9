/*
 * The smallest host of the library, in C: initialises the instrument at the
 * default base address 0x288, tells what InitInstrument answered and what
 * the card is, and releases it again. Linked to the virtual-card flavour it
 * runs anywhere; linked to the hardware flavour it looks at the real bus.
 */
#include <stdint.h>
#include <stdio.h>

#include "rk350/rk350.h"
#include "rk350/rk350_ext.h"

int main(void) {
  const uint16_t result = InitInstrument(0x288);
  printf("RK350 library %s\n", RK350_Version());
  printf("InitInstrument(0x288) = %u (%s: %s)\n", result, RK350_ResultName(result), RK350_ResultText(result));
  if (result == RK350_RESULT_OK) {
    uint16_t channels = 0;
    int32_t serial = 0;
    uint32_t date = 0;
    GetNrChannels(&channels);
    GetSerialNumber(&serial);
    GetCalibrationDate(&date);
    printf("channels: %u\n", channels);
    printf("serial number: %ld\n", (long)serial);
    printf("calibrated: %04lu-%02lu-%02lu\n", (unsigned long)(date & 0xFFFFu), (unsigned long)((date >> 16) & 0xFFu),
           (unsigned long)(date >> 24));
    printf("max. sample frequency: %ld Hz, max. record length: %ld samples\n", (long)GetMaxSampleFrequency(),
           (long)GetMaxRecordLength());
  }
  ExitInstrument();
  return result == RK350_RESULT_OK ? 0 : 1;
}
