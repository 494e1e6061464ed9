// A recording port pair: sits behind the library's ports, remembers every
// access and shows the traffic as readable text, one access per line:
//   "reg 37 = 0x12"   a register write (index at base + 0, value at base + 1)
//   "in 2 = 0x80"     a port read at base + 2
//   "out 0x300 = 0x01" a write that is not part of an index/data pair
// Reads are answered by an inner device (for example a virtual card) or, with
// none, as an empty bus (0xFF).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "hardware/port_io.h"

namespace rk350::card {

class VirtualCard;

struct PortAccess {
  enum Kind : uint8_t { kOut, kIn } kind;
  uint16_t port;
  uint8_t value;
};

class PortRecorder {
 public:
  explicit PortRecorder(uint16_t base = 0x288) : base_(base) {}

  // The device answering behind the recorder (null: empty bus).
  void Attach(VirtualCard* card) { card_ = card; }
  // Overrides the value of reads (after the device has answered).
  void SetReadHook(std::function<int(uint16_t port, int value)> hook) { readHook_ = std::move(hook); }

  hw::PortPair Pair();
  void SetBase(uint16_t base) { base_ = base; }

  const std::vector<PortAccess>& Accesses() const { return accesses_; }
  void Clear() { accesses_.clear(); }
  void SetRecording(bool on) { recording_ = on; }
  size_t Count() const { return accesses_.size(); }

  // The traffic as text, one line per access (register writes fold their
  // index/data pair into one line).
  std::string Text() const;
  // Values written to one register, in order.
  std::vector<uint8_t> RegisterWrites(uint8_t index) const;
  // Register writes only, as (index, value) pairs in order.
  std::vector<std::pair<uint8_t, uint8_t>> RegisterTrace() const;

 private:
  static int RK350_PORT_CALL InThunk(void* context, uint16_t port);
  static int RK350_PORT_CALL OutThunk(void* context, uint16_t port, uint8_t value);

  uint16_t base_;
  VirtualCard* card_ = nullptr;
  std::function<int(uint16_t, int)> readHook_;
  std::vector<PortAccess> accesses_;
  bool recording_ = true;
};

}  // namespace rk350::card
