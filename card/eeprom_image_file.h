// EEPROM images as files, so that a card can be modelled from a dump of a real
// EEPROM: raw binary dumps, and a hex text form that people can read, edit and
// compare.
//
// Hex text form: one line per row of bytes, "AAAA: xx xx xx ..." with a
// hexadecimal address and up to 16 hexadecimal bytes; text after '#' and
// blank lines are ignored. Bytes no line names read as erased (0xFF).
#pragma once

#include <string>

#include "card/eeprom_image.h"

namespace rk350::card {

enum class ImageFormat { kBinary, kHex };

// ".hex" and ".txt" name the hex text form; everything else is binary.
ImageFormat FormatOfPath(const std::string& path);

// A raw dump: bytes from address 0 on; the rest of the image reads erased.
// A dump longer than the image is refused unless its excess is erased, as
// on a larger part that holds only this card's data.
bool ParseBinaryImage(const std::string& bytes, EepromImage& image, std::string& error);
std::string BinaryImage(const EepromImage& image);

bool ParseHexImage(const std::string& text, EepromImage& image, std::string& error);
std::string HexImage(const EepromImage& image);

// Whole files; on failure `error` says why and `image` is unchanged.
bool ReadImageFile(const std::string& path, EepromImage& image, std::string& error);
bool WriteImageFile(const std::string& path, const EepromImage& image, std::string& error);

}  // namespace rk350::card
