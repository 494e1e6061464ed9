// EEPROM images as files, so that a card can be modelled from a dump of a real
// EEPROM: raw binary dumps, and a hex text form that people can read, edit and
// compare.
//
// Hex text form: one line per row of bytes, "AAAA: xx xx xx ..." with a
// hexadecimal address and up to 16 hexadecimal bytes; text after '#' and
// blank lines are ignored. Bytes no line names read as erased (0xFF).
#pragma once

#include <cstddef>
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

// The largest image file read: a raw dump of the largest 24-series part
// (256 KiB) fits, and so does the card's image as hex text with ample room
// for comments. Anything longer cannot be an image.
constexpr size_t kMaxImageFileBytes = size_t{1} << 20;

// A whole file; on failure `error` says why and `image` is unchanged.
// Directories and files longer than kMaxImageFileBytes are refused.
bool ReadImageFile(const std::string& path, EepromImage& image, std::string& error);
// What a file of that name holds for the image (its format from the name).
std::string ImageFileContent(const std::string& path, const EepromImage& image);

}  // namespace rk350::card
