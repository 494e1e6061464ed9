// Raw byte port access: the seam between the library and the card.
//
// In the hardware flavour the default pair is one x86 `in`/`out` each; the
// virtual-card flavour routes them to the virtual card. A host may install its
// own pair (rk350_ext.h), which also lets tests put any device behind the
// ports.
#pragma once

#include <cstdint>

namespace rk350::hw {

// Host-style port functions: `in` returns 0..255 or a negative bus fault,
// `out` returns 0 or a negative bus fault.
#if defined(_WIN32)
#define RK350_PORT_CALL __stdcall
#else
#define RK350_PORT_CALL
#endif
using PortInFn = int(RK350_PORT_CALL*)(void* context, uint16_t port);
using PortOutFn = int(RK350_PORT_CALL*)(void* context, uint16_t port, uint8_t value);

struct PortPair {
  void* context = nullptr;
  PortInFn in = nullptr;
  PortOutFn out = nullptr;
};

namespace detail {
extern PortPair gActivePorts;
extern bool gBusFault;
}  // namespace detail

// One byte output instruction; no delay, no check.
inline void PortOut(uint16_t port, uint8_t value) {
  if (detail::gActivePorts.out(detail::gActivePorts.context, port, value) < 0) detail::gBusFault = true;
}

// One byte input instruction; no delay, no check. A faulting read yields 0xFF.
inline uint8_t PortIn(uint16_t port) {
  const int v = detail::gActivePorts.in(detail::gActivePorts.context, port);
  if (v < 0) {
    detail::gBusFault = true;
    return 0xFF;
  }
  return static_cast<uint8_t>(v);
}

// The flavour's own port pair (defined once per flavour).
PortPair DefaultPortPair();
// The flavour's port-driver check: giveio on Windows NT, kernel port
// permission on Linux (hardware flavour); always granted by the virtual card.
bool FlavourCheckPortDriver();

// Installs a port pair; a pair with null functions restores the default.
void InstallPortPair(const PortPair& pair);
bool HostPortPairInstalled();
PortPair ActivePortPair();

// Bus faults reported by a port pair since the last clear.
bool TakeBusFault();
void ClearBusFault();

}  // namespace rk350::hw
