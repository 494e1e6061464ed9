// Changes to an EEPROM image given as "name=value" settings on the command
// line, so that a card can be modelled with another identity or a deliberate
// fault.
#pragma once

#include <string>

#include "card/eeprom_image.h"

namespace rk350::tools {

// Settings:
//   serial=N              serial number 0..65535 (bytes 6..7, low first)
//   date=YYYY-MM-DDTHH:MM calibration date and time, stored as given (an
//                         impossible date is stored too, to model a bad card)
//   model=N               model code byte (0x50 is the RK350 ISA)
//   signature=N           signature byte (0xAA marks a card)
//   generator=yes|no      generator fitting byte (0 fitted, 1 none)
//   byte@A=N, word@A=N    any byte, or any word stored high byte first
// Numbers take C notation (decimal, 0x hexadecimal). Returns false with a
// reason, leaving the image unchanged, when the setting is not understood.
bool ApplySetting(const std::string& setting, card::EepromImage& image, std::string& error);

// One line per setting, for the tool's help text.
const char* SettingsHelp();

}  // namespace rk350::tools
