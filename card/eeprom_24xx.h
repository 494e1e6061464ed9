// A 24-series serial EEPROM with 16-bit word addresses (24C32 class): device
// address 0xA0 for writing, 0xA1 for reading (chip selects tied low). A write
// of two address bytes sets the address pointer; a read returns bytes from the
// pointer on (sequential read while the controller acknowledges). Data bytes
// written after the address land in a page buffer and are stored at the stop
// condition, wrapping inside their 32-byte page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "card/eeprom_image.h"
#include "card/i2c_line_decoder.h"

namespace rk350::card {

class Eeprom24xx : public I2cTarget {
 public:
  static constexpr uint8_t kDeviceAddress = 0xA0;  // 1010 000 R/W
  static constexpr uint16_t kPageSize = 32;

  explicit Eeprom24xx(const EepromImage& image = EepromImage::Default()) : image_(image) {}

  EepromImage& Image() { return image_; }
  const EepromImage& Image() const { return image_; }
  // A memory that is not answering acknowledges nothing and never drives the
  // data line.
  void SetAnswering(bool answering) { answering_ = answering; }
  bool Answering() const { return answering_; }
  uint16_t AddressPointer() const { return pointer_; }

  // Addresses of the bytes read, in order, while the log is on.
  void SetReadLog(bool on) { logReads_ = on; }
  const std::vector<uint16_t>& ReadLog() const { return readLog_; }
  void ClearReadLog() { readLog_.clear(); }
  uint32_t BytesWritten() const { return bytesWritten_; }
  // Drops a transfer under way (a write not yet stored is lost); the address
  // pointer and the content stay.
  void CancelTransfer();

  // I2cTarget
  void OnStart() override;
  void OnStop() override;
  bool OnAddress(uint8_t addressByte) override;
  bool OnWrite(uint8_t value) override;
  uint8_t OnRead() override;

 private:
  enum class Phase : uint8_t { kIdle, kWordHigh, kWordLow, kData, kReading };
  struct PendingWrite {
    uint16_t address;
    uint8_t value;
  };

  uint16_t Wrap(uint32_t address) const { return static_cast<uint16_t>(address % EepromImage::kSize); }

  EepromImage image_;
  bool answering_ = true;
  Phase phase_ = Phase::kIdle;
  uint16_t pointer_ = 0;
  uint8_t wordHigh_ = 0;
  std::vector<PendingWrite> pending_;  // at most one page
  std::size_t dataBytes_ = 0;          // data bytes of the current write
  bool logReads_ = false;
  std::vector<uint16_t> readLog_;
  uint32_t bytesWritten_ = 0;
};

}  // namespace rk350::card
