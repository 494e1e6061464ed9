#include "image_edit.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "hardware/eeprom_layout.h"

namespace rk350::tools {

namespace {

namespace layout = eeprom_layout;

bool ParseNumber(const std::string& text, unsigned long highest, unsigned long& value) {
  if (text.empty() || text[0] == '-' || text[0] == '+') return false;
  char* end = nullptr;
  errno = 0;
  value = std::strtoul(text.c_str(), &end, 0);
  return errno == 0 && end != nullptr && *end == '\0' && value <= highest;
}

bool ParseDate(const std::string& text, card::EepromImage& image) {
  unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0;
  char tail = 0;
  if (std::sscanf(text.c_str(), "%u-%u-%uT%u:%u%c", &year, &month, &day, &hour, &minute, &tail) != 5) return false;
  if (year > 0xFFFF || month > 0xFF || day > 0xFF || hour > 0xFF || minute > 0xFF) return false;
  image.SetByte(layout::kYearLow, static_cast<uint8_t>(year & 0xFF));
  image.SetByte(layout::kYearLow + 1, static_cast<uint8_t>(year >> 8));
  image.SetByte(layout::kMonth, static_cast<uint8_t>(month));
  image.SetByte(layout::kDay, static_cast<uint8_t>(day));
  image.SetByte(layout::kHour, static_cast<uint8_t>(hour));
  image.SetByte(layout::kMinute, static_cast<uint8_t>(minute));
  return true;
}

}  // namespace

bool ApplySetting(const std::string& setting, card::EepromImage& image, std::string& error) {
  const size_t equals = setting.find('=');
  if (equals == std::string::npos) {
    error = "expected name=value: " + setting;
    return false;
  }
  const std::string name = setting.substr(0, equals);
  const std::string value = setting.substr(equals + 1);
  card::EepromImage edited = image;
  unsigned long number = 0;
  bool ok = false;
  if (name == "serial") {
    ok = ParseNumber(value, 0xFFFF, number);
    edited.SetByte(layout::kSerialLow, static_cast<uint8_t>(number & 0xFF));
    edited.SetByte(layout::kSerialLow + 1, static_cast<uint8_t>(number >> 8 & 0xFF));
  } else if (name == "date") {
    ok = ParseDate(value, edited);
  } else if (name == "model" || name == "signature") {
    ok = ParseNumber(value, 0xFF, number);
    edited.SetByte(name == "model" ? layout::kModelCode : layout::kSignature, static_cast<uint8_t>(number));
  } else if (name == "generator") {
    ok = value == "yes" || value == "no";
    edited.SetByte(layout::kGeneratorFitted, value == "yes" ? 0 : 1);
  } else if (name.rfind("byte@", 0) == 0 || name.rfind("word@", 0) == 0) {
    const bool word = name[0] == 'w';
    unsigned long address = 0;
    ok = ParseNumber(name.substr(5), card::EepromImage::kSize - (word ? 2 : 1), address) &&
         ParseNumber(value, word ? 0xFFFF : 0xFF, number);
    if (word) {
      edited.SetWord(static_cast<uint16_t>(address), static_cast<uint16_t>(number));
    } else {
      edited.SetByte(static_cast<uint16_t>(address), static_cast<uint8_t>(number));
    }
  } else {
    error = "unknown setting: " + name;
    return false;
  }
  if (!ok) {
    error = "bad value in " + setting;
    return false;
  }
  image = edited;
  return true;
}

const char* SettingsHelp() {
  return "  serial=N              serial number 0..65535\n"
         "  date=YYYY-MM-DDTHH:MM calibration date and time (stored as given)\n"
         "  model=N               model code byte (0x50: RK350 ISA)\n"
         "  signature=N           signature byte (0xAA marks a card)\n"
         "  generator=yes|no      function generator fitted or not\n"
         "  byte@A=N              byte N at address A\n"
         "  word@A=N              word N at address A, high byte first\n";
}

}  // namespace rk350::tools
