// What the end-to-end tests share across both flavours: a card at 0x288
// behind the library's ports, and the library's message-box texts.
#pragma once

#include <string>
#include <vector>

namespace rk350::e2e {

constexpr unsigned kCardBase = 0x288;
constexpr unsigned kEmptyBase = 0x300;

// Puts a card at 0x288: the virtual flavour's own card, or in the hardware
// flavour a virtual card behind a host port pair (installed before
// InitInstrument, as a host must).
void ProvideCard();

// Message-box texts received since the start of the test program (every
// test program installs the handler, so no box or stderr line appears).
std::vector<std::string>& MessageBoxTexts();

}  // namespace rk350::e2e
