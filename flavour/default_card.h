// The virtual-card flavour's card: the one behind the library's own ports.
#pragma once

#include "card/virtual_card.h"

namespace rk350::card {
VirtualCard& DefaultVirtualCard();
}
