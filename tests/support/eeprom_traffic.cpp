#include "support/eeprom_traffic.h"

#include <cstdio>

#include "card/eeprom_24xx.h"
#include "card/i2c_line_decoder.h"
#include "hardware/register_map.h"

namespace rk350::testing {

std::vector<uint16_t> EepromAddressesRead(const card::PortRecorder& recorder) {
  card::Eeprom24xx memory;
  memory.SetReadLog(true);
  card::I2cLineDecoder wires(memory);
  for (const auto& [index, value] : recorder.RegisterTrace()) {
    if (index != regs::kRegSerialLines) continue;
    const bool driven = (value & regs::kEepromDrive) != 0;
    wires.Drive((value & regs::kEepromClock) != 0, !driven || (value & regs::kEepromData) != 0);
  }
  return memory.ReadLog();
}

std::vector<std::string> EepromLineTokens(const card::PortRecorder& recorder, uint16_t base) {
  std::vector<std::string> tokens;
  const auto& a = recorder.Accesses();
  char text[32];
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].kind == card::PortAccess::kOut && a[i].port == base && i + 1 < a.size() &&
        a[i + 1].kind == card::PortAccess::kOut && a[i + 1].port == base + 1) {
      if (a[i].value == regs::kRegSerialLines) {
        std::snprintf(text, sizeof text, "W%02X", a[i + 1].value);
      } else {
        std::snprintf(text, sizeof text, "reg %u", a[i].value);
      }
      ++i;
    } else if (a[i].kind == card::PortAccess::kIn) {
      if (a[i].port == base + regs::kPortStatus) {
        std::snprintf(text, sizeof text, "R");
      } else {
        std::snprintf(text, sizeof text, "in 0x%03X", a[i].port);
      }
    } else {
      std::snprintf(text, sizeof text, "out 0x%03X", a[i].port);
    }
    tokens.emplace_back(text);
  }
  return tokens;
}

}  // namespace rk350::testing
