#include "hardware/port_io.h"

namespace rk350::hw {

namespace detail {
PortPair gActivePorts = DefaultPortPair();
bool gBusFault = false;
}  // namespace detail

namespace {
bool gHostPairInstalled = false;
}

void InstallPortPair(const PortPair& pair) {
  if (pair.in == nullptr || pair.out == nullptr) {
    detail::gActivePorts = DefaultPortPair();
    gHostPairInstalled = false;
    return;
  }
  detail::gActivePorts = pair;
  gHostPairInstalled = true;
}

bool HostPortPairInstalled() { return gHostPairInstalled; }

PortPair ActivePortPair() { return detail::gActivePorts; }

bool TakeBusFault() {
  const bool fault = detail::gBusFault;
  detail::gBusFault = false;
  return fault;
}

void ClearBusFault() { detail::gBusFault = false; }

}  // namespace rk350::hw
