// Hardware flavour: one x86 `in`/`out` instruction per access at the card's
// ports, after the operating system has granted port access.
#include "hardware/port_io.h"
#include "platform/platform.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/io.h>
#endif

namespace rk350::hw {

namespace {
int RK350_PORT_CALL X86In(void*, uint16_t port) {
  uint8_t value;
  __asm__ __volatile__("inb %w1, %b0" : "=a"(value) : "Nd"(port));
  return value;
}
int RK350_PORT_CALL X86Out(void*, uint16_t port, uint8_t value) {
  __asm__ __volatile__("outb %b0, %w1" : : "a"(value), "Nd"(port));
  return 0;
}

#if defined(_WIN32)
// Windows NT needs the giveio driver for user-mode port instructions; its
// device is only opened to learn whether it is installed.
bool CheckGiveio() {
  if (!platform::IsWindowsNtFamily()) return true;
  HANDLE h = CreateFileA("\\\\.\\giveio", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  bool result = true;
  if (h == INVALID_HANDLE_VALUE) {
    platform::ShowMessageBox(
        "Windows NT / 2000 / XP requires an extra NT-driver for the parallel port and ISA bus.\n"
        "It was not detected on this computer.\nHardware will not be available");
    result = false;
  }
  CloseHandle(h);
  return result;
}
#else
// Linux: ask the kernel for the whole 16-bit port space. The check runs when
// the instrument is created, before InitInstrument has taken the base
// address, and every address the caller may pass must then be reachable: an
// `in` or `out` outside the granted range would kill the process.
constexpr unsigned long kPortSpaceSize = 0x10000;
bool RequestPortPermission() {
  if (ioperm(0, kPortSpaceSize, 1) == 0) return true;
  platform::ShowMessageBox(
      "Port access to the ISA bus was refused by the kernel (ioperm).\n"
      "Run as root or grant CAP_SYS_RAWIO.\nHardware will not be available");
  return false;
}
#endif
}  // namespace

PortPair DefaultPortPair() { return {nullptr, &X86In, &X86Out}; }

bool FlavourCheckPortDriver() {
  // A host that brings its own port access needs no driver of ours.
  if (HostPortPairInstalled()) return true;
#if defined(_WIN32)
  return CheckGiveio();
#else
  return RequestPortPermission();
#endif
}

}  // namespace rk350::hw
