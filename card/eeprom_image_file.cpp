#include "card/eeprom_image_file.h"

#include <cerrno>
#include <cstdio>

namespace rk350::card {

namespace {

bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A hexadecimal number of 1..maxDigits digits at text[pos]; advances pos.
bool ParseHexNumber(const std::string& text, size_t& pos, int maxDigits, unsigned& value) {
  value = 0;
  int digits = 0;
  while (pos < text.size() && HexDigit(text[pos]) >= 0) {
    if (++digits > maxDigits) return false;
    value = value * 16 + static_cast<unsigned>(HexDigit(text[pos]));
    ++pos;
  }
  return digits > 0;
}

void SkipBlanks(const std::string& text, size_t& pos) {
  while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t' || text[pos] == '\r')) ++pos;
}

}  // namespace

ImageFormat FormatOfPath(const std::string& path) {
  return EndsWith(path, ".hex") || EndsWith(path, ".txt") ? ImageFormat::kHex : ImageFormat::kBinary;
}

bool ParseBinaryImage(const std::string& bytes, EepromImage& image, std::string& error) {
  if (bytes.empty()) {
    error = "the dump is empty";
    return false;
  }
  for (size_t i = EepromImage::kSize; i < bytes.size(); ++i) {
    if (static_cast<uint8_t>(bytes[i]) != 0xFF) {
      error = "the dump holds data beyond the card's " + std::to_string(EepromImage::kSize) + " bytes (at " +
              std::to_string(i) + ")";
      return false;
    }
  }
  EepromImage parsed;
  const size_t count = bytes.size() < EepromImage::kSize ? bytes.size() : EepromImage::kSize;
  for (size_t i = 0; i < count; ++i) parsed.Bytes()[i] = static_cast<uint8_t>(bytes[i]);
  image = parsed;
  return true;
}

std::string BinaryImage(const EepromImage& image) { return std::string(image.Bytes().begin(), image.Bytes().end()); }

bool ParseHexImage(const std::string& text, EepromImage& image, std::string& error) {
  EepromImage parsed;
  int lineNumber = 0;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    ++lineNumber;
    const size_t hash = line.find('#');
    if (hash != std::string::npos) line.erase(hash);
    size_t pos = 0;
    SkipBlanks(line, pos);
    if (pos == line.size()) continue;
    const std::string where = "line " + std::to_string(lineNumber) + ": ";
    unsigned address = 0;
    if (!ParseHexNumber(line, pos, 4, address) || pos >= line.size() || line[pos] != ':') {
      error = where + "expected an address such as \"0010:\"";
      return false;
    }
    ++pos;
    int count = 0;
    for (;;) {
      SkipBlanks(line, pos);
      if (pos == line.size()) break;
      unsigned value = 0;
      if (!ParseHexNumber(line, pos, 2, value)) {
        error = where + "expected a byte in hexadecimal";
        return false;
      }
      if (++count > 16) {
        error = where + "more than 16 bytes";
        return false;
      }
      if (address >= EepromImage::kSize) {
        error = where + "address beyond the card's " + std::to_string(EepromImage::kSize) + " bytes";
        return false;
      }
      parsed.SetByte(static_cast<uint16_t>(address++), static_cast<uint8_t>(value));
    }
  }
  image = parsed;
  return true;
}

std::string HexImage(const EepromImage& image) {
  std::string text = "# RK350 card EEPROM, " + std::to_string(EepromImage::kSize) + " bytes: address: 16 bytes\n";
  char row[80];
  for (size_t address = 0; address < EepromImage::kSize; address += 16) {
    int n = std::snprintf(row, sizeof row, "%04X:", static_cast<unsigned>(address));
    for (size_t i = 0; i < 16; ++i) {
      n += std::snprintf(row + n, sizeof row - static_cast<size_t>(n), " %02X", image.Bytes()[address + i]);
    }
    text += row;
    text += '\n';
  }
  return text;
}

// C stdio, not iostreams or std::filesystem: the Windows DLLs carry this code,
// and those pull in functions that Windows NT 4.0 and 98 do not have.
bool ReadImageFile(const std::string& path, EepromImage& image, std::string& error) {
  std::FILE* in = std::fopen(path.c_str(), "rb");
  if (in == nullptr) {
    error = errno == EISDIR ? path + " is a directory, not an image file" : "cannot open " + path;
    return false;
  }
  // Read in pieces up to the limit, so that an endless source (a device, a
  // pipe) is refused rather than read until memory runs out.
  std::string content;
  char piece[4096];
  size_t got = 0;
  bool tooLarge = false;
  while ((got = std::fread(piece, 1, sizeof piece, in)) > 0) {
    content.append(piece, got);
    if (content.size() > kMaxImageFileBytes) {
      tooLarge = true;
      break;
    }
  }
  // A directory opens on POSIX systems; reading it fails with EISDIR.
  const bool failed = std::ferror(in) != 0;
  const int readError = errno;
  std::fclose(in);
  if (tooLarge) {
    error = path + " is larger than any image can be (more than " + std::to_string(kMaxImageFileBytes) + " bytes)";
    return false;
  }
  if (failed) {
    error = readError == EISDIR ? path + " is a directory, not an image file" : "cannot read " + path;
    return false;
  }
  const bool ok = FormatOfPath(path) == ImageFormat::kHex ? ParseHexImage(content, image, error)
                                                          : ParseBinaryImage(content, image, error);
  if (!ok) error = path + ": " + error;
  return ok;
}

std::string ImageFileContent(const std::string& path, const EepromImage& image) {
  return FormatOfPath(path) == ImageFormat::kHex ? HexImage(image) : BinaryImage(image);
}

}  // namespace rk350::card
