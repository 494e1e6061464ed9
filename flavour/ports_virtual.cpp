// Virtual-card flavour: the library's own ports reach the virtual card, which
// sits at 0x288 until a host moves it.
#include "flavour/default_card.h"
#include "hardware/port_io.h"

namespace rk350 {

namespace card {
VirtualCard& DefaultVirtualCard() {
  static VirtualCard card(VirtualCard::kDefaultBase);
  return card;
}
}  // namespace card

namespace hw {
namespace {
int RK350_PORT_CALL VirtualIn(void*, uint16_t port) { return card::DefaultVirtualCard().BusIn(port); }
int RK350_PORT_CALL VirtualOut(void*, uint16_t port, uint8_t value) {
  card::DefaultVirtualCard().Out(port, value);
  return 0;
}
}  // namespace

PortPair DefaultPortPair() { return {nullptr, &VirtualIn, &VirtualOut}; }

// The virtual card needs no port driver.
bool FlavourCheckPortDriver() { return true; }

}  // namespace hw
}  // namespace rk350
