/*
 * Windows NT, 2000, XP and 64-bit Windows without giveio: the port driver
 * InpOut32 (32-bit programs) or InpOutx64 (64-bit programs), which many ISA
 * users already have, carries the card's port access. The example loads it
 * when present, installs its DlPortReadPortUchar and DlPortWritePortUchar
 * with RK350_SetPortFunctions (before InitInstrument, so the library asks for
 * no driver of its own), and takes one block measurement of both channels.
 * The library itself never loads InpOut: the host chooses.
 *
 * Usage: example_inpout_ports [address]   (the card's base, default 0x300)
 * Exit status 0 when a record was taken, 4 when InpOut is not installed.
 */
#include <string.h>

#include "example_util.h"

#if !defined(_WIN32)
#error "InpOut is a Windows port driver"
#endif

typedef unsigned char(__stdcall* ReadPortUchar)(unsigned short port);
typedef void(__stdcall* WritePortUchar)(unsigned short port, unsigned char value);

static ReadPortUchar gRead;
static WritePortUchar gWrite;

static int RK350_CALL InPort(void* context, uint16_t port) {
  (void)context;
  return gRead(port);
}

static int RK350_CALL OutPort(void* context, uint16_t port, uint8_t value) {
  (void)context;
  gWrite(port, value);
  return 0;
}

enum { kLength = 1000 };

int main(int argc, char** argv) {
  static double ch1[kLength], ch2[kLength];
  const char* dll = sizeof(void*) == 8 ? "inpoutx64.dll" : "inpout32.dll";
  unsigned long address = argc > 1 ? strtoul(argv[1], NULL, 0) : 0x300;
  double range = 2.0, rate = 100e3; /* volts full scale; 10 ms in the record */
  double start, lo1, hi1, lo2, hi2;
  int32_t serial = 0;
  HMODULE inpout = LoadLibraryA(dll);
  if (inpout == NULL) {
    printf("%s is not installed: install InpOut, or giveio for the library's own port access\n", dll);
    return 4;
  }
  gRead = (ReadPortUchar)(void (*)(void))GetProcAddress(inpout, "DlPortReadPortUchar");
  gWrite = (WritePortUchar)(void (*)(void))GetProcAddress(inpout, "DlPortWritePortUchar");
  if (gRead == NULL || gWrite == NULL) {
    printf("%s lacks DlPortReadPortUchar or DlPortWritePortUchar\n", dll);
    return 4;
  }
  check(RK350_SetPortFunctions(NULL, InPort, OutPort), "RK350_SetPortFunctions");
  printf("port access through %s\n", dll);

  check(InitInstrument((uint16_t)address), "InitInstrument");
  check(GetSerialNumber(&serial), "GetSerialNumber");
  printf("card at 0x%lX, serial number %ld\n", address, (long)serial);
  check(SetSensitivity(1, &range), "SetSensitivity");
  check(SetSensitivity(2, &range), "SetSensitivity");
  check(SetSampleFrequencyF(&rate), "SetSampleFrequencyF");
  check(SetRecordLength(kLength), "SetRecordLength");
  check(RK350_SetSoftwareTrigger(1), "RK350_SetSoftwareTrigger");
  check(ADC_Start(), "ADC_Start");
  start = now_seconds();
  while (!ADC_Ready()) {
    RK350_ProcessMessages();
    if (now_seconds() - start > 1.0 && !ADC_Triggered()) check(ADC_ForceTrig(), "ADC_ForceTrig");
    if (now_seconds() - start > 20.0) {
      fprintf(stderr, "no record within 20 s\n");
      ExitInstrument();
      return 3;
    }
    sleep_ms(1);
  }
  check(ADC_GetDataVoltCh(1, ch1), "ADC_GetDataVoltCh");
  check(ADC_GetDataVoltCh(2, ch2), "ADC_GetDataVoltCh");
  min_max(ch1, kLength, &lo1, &hi1);
  min_max(ch2, kLength, &lo2, &hi2);
  printf("CH1 %.3f .. %.3f V, CH2 %.3f .. %.3f V\n", lo1, hi1, lo2, hi2);
  ExitInstrument();
  RK350_SetPortFunctions(NULL, NULL, NULL);
  FreeLibrary(inpout);
  return 0;
}
