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
// The card rides as the pair's context: a port access then costs no look
// at the function-local static's guard (a record's readout makes hundreds of
// thousands).
int RK350_PORT_CALL VirtualIn(void* card, uint16_t port) { return static_cast<card::VirtualCard*>(card)->BusIn(port); }
int RK350_PORT_CALL VirtualOut(void* card, uint16_t port, uint8_t value) {
  static_cast<card::VirtualCard*>(card)->Out(port, value);
  return 0;
}
}  // namespace

PortPair DefaultPortPair() { return {&card::DefaultVirtualCard(), &VirtualIn, &VirtualOut}; }

// The virtual card needs no port driver.
bool FlavourCheckPortDriver() { return true; }

}  // namespace hw
}  // namespace rk350
