// A readable description of an EEPROM image: identity, calibration date and
// every calibration value, as stored and as the library reads them.
#pragma once

#include <string>

#include "card/eeprom_image.h"

namespace rk350::tools {

std::string DescribeImage(const card::EepromImage& image);

}  // namespace rk350::tools
