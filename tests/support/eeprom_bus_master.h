// A controller for the card's serial EEPROM written for the tests, apart from
// the library's own: the bus sequences of a card driver on register 1 and
// status bit 0x10, written out with their literal control bytes. The test
// gives it the wire: a card to drive, or a list that collects the traffic a
// card should see.
#pragma once

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

namespace rk350::testing {

class EepromBusMaster {
 public:
  // `writeLines` writes a control byte to register 1; `readData` reads the
  // status port and returns its EEPROM data bit.
  EepromBusMaster(std::function<void(uint8_t)> writeLines, std::function<bool()> readData)
      : writeLines_(std::move(writeLines)), readData_(std::move(readData)) {}

  void Lines(bool data, bool clock) { writeLines_(static_cast<uint8_t>(0x0C | (data ? 2 : 0) | (clock ? 1 : 0))); }
  bool Sample(bool clock) {
    writeLines_(static_cast<uint8_t>(0x08 | (clock ? 1 : 0)));
    return readData_();
  }
  void Start() {
    Lines(true, true);
    Lines(false, true);
    Lines(false, false);
  }
  void Stop() {
    Lines(false, true);
    Lines(true, true);
  }
  // Returns true when the device acknowledged.
  bool Send(uint8_t value) {
    for (int bit = 7; bit >= 0; --bit) {
      const bool b = (value >> bit & 1) != 0;
      Lines(b, false);
      Lines(b, true);
      Lines(b, false);
    }
    Sample(false);
    const bool ack = !Sample(true);
    Lines(false, false);
    return ack;
  }
  uint8_t Receive(bool acknowledge) {
    uint8_t value = 0;
    for (int bit = 7; bit >= 0; --bit) {
      Sample(false);
      value = static_cast<uint8_t>(value | (Sample(true) ? 1 : 0) << bit);
      Sample(false);
    }
    Lines(!acknowledge, false);
    Lines(!acknowledge, true);
    Lines(!acknowledge, false);
    return value;
  }
  bool SetPointer(uint16_t address) {
    Start();
    const bool ok = Send(0xA0) && Send(static_cast<uint8_t>(address >> 8)) && Send(static_cast<uint8_t>(address));
    Stop();
    return ok;
  }
  // The random read of one byte: the word address written, then one byte
  // read without an acknowledge.
  uint8_t RandomRead(uint16_t address) {
    Start();
    Send(0xA0);
    Send(static_cast<uint8_t>(address >> 8));
    Send(static_cast<uint8_t>(address));
    Stop();
    Start();
    Send(0xA1);
    const uint8_t value = Receive(false);
    Stop();
    return value;
  }
  std::vector<uint8_t> ReadSequential(uint16_t address, int count) {
    SetPointer(address);
    Start();
    Send(0xA1);
    std::vector<uint8_t> bytes;
    for (int i = 0; i < count; ++i) bytes.push_back(Receive(i + 1 < count));
    Stop();
    return bytes;
  }
  void Write(uint16_t address, const std::vector<uint8_t>& bytes) {
    Start();
    Send(0xA0);
    Send(static_cast<uint8_t>(address >> 8));
    Send(static_cast<uint8_t>(address));
    for (uint8_t b : bytes) Send(b);
    Stop();
  }

 private:
  std::function<void(uint8_t)> writeLines_;
  std::function<bool()> readData_;
};

}  // namespace rk350::testing
