// Reading EEPROM transfers back out of recorded port traffic: the recorded
// writes to register 1 are replayed into a fresh line decoder and memory,
// which report what the controller asked for.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "card/port_recorder.h"

namespace rk350::testing {

// The EEPROM addresses the recorded traffic read, in order (one per byte).
std::vector<uint16_t> EepromAddressesRead(const card::PortRecorder& recorder);

// The traffic as compact tokens: "W0D" for a write of 0x0D to register 1,
// "R" for a read of the status port; other accesses as "reg N", "in 0x300",
// "out 0x300".
std::vector<std::string> EepromLineTokens(const card::PortRecorder& recorder, uint16_t base = 0x288);

}  // namespace rk350::testing
