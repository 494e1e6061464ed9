/* The library's hidden window in this process. Tests run in parallel on one
 * desktop, so other processes have windows of the same class. C and C++. */
#ifndef RK350_TESTS_WIN32_RECEIVER_WINDOW_H
#define RK350_TESTS_WIN32_RECEIVER_WINDOW_H

#include <windows.h>

static inline HWND FindReceiverWindow(void) {
  HWND window = NULL;
  while ((window = FindWindowExA(NULL, window, "TDeviceMessageReceiver", NULL)) != NULL) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId()) return window;
  }
  return NULL;
}

#endif
