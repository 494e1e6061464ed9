/*
 * A host that ends while the library still holds an instrument: its hidden
 * window exists, its timer runs and a measurement is armed. The process must
 * end at once with the host's exit code; the library's detach must not wait
 * on the window manager while the process is ending.
 */
#include <rk350/rk350_ext.h>
#include <windows.h>

#include "receiver_window.h"

static int boxes;

static void RK350_CALL CountBox(void* context, const char* text) {
  (void)context;
  (void)text;
  ++boxes;
}

int main(void) {
  HWND receiver;
  DWORD start;
  RK350_SetMessageBoxHandler(CountBox, NULL);
  if (InitInstrument(0x288) != RK350_RESULT_OK) return 2;
  receiver = FindReceiverWindow();
  if (receiver == NULL) return 3;
  /* Device arrival starts the 6 ms timer. */
  PostMessageA(receiver, 0x0400 + 13, 0, 0);
  if (ADC_Start() != RK350_RESULT_OK) return 4;
  start = GetTickCount();
  while (boxes == 0 && GetTickCount() - start < 5000) {
    RK350_ProcessMessages();
    Sleep(1);
  }
  if (boxes == 0) return 5;
  /* Ticks run for a while, then the host ends without ExitInstrument. */
  start = GetTickCount();
  while (GetTickCount() - start < 50) {
    RK350_ProcessMessages();
    Sleep(1);
  }
  return 0;
}
