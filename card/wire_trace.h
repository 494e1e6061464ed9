// A logic-analyser trace of the card's two EEPROM wires, exported as a value
// change dump (VCD) with the signals "scl" and "sda" that common protocol
// decoders read. Time is counted in controller writes: every write to the
// wires takes 1 us, split into two 500 ns steps (see I2cLineDecoder::Drive).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "card/i2c_line_decoder.h"

namespace rk350::card {

class WireTrace : public WireObserver {
 public:
  static constexpr uint32_t kStepNs = 500;
  // Enough for several complete initialisations; later changes are dropped
  // and the trace is marked truncated.
  static constexpr std::size_t kMaxChanges = std::size_t{1} << 22;

  // Starts a new trace from the current wire levels.
  void Start(bool scl, bool sda);
  void Stop() { running_ = false; }
  bool Running() const { return running_; }
  bool Truncated() const { return truncated_; }
  std::size_t ChangeCount() const { return changes_.size(); }

  void OnWires(bool scl, bool sda) override;

  // The trace as VCD text (timescale 100 ns), ending one step after the last
  // change. The text is kept until the trace changes, so that asking for its
  // size and then for the text costs one rendering of up to kMaxChanges.
  const std::string& Vcd() const;

 private:
  struct Change {
    uint64_t step;
    bool scl;
    bool sda;
  };
  bool running_ = false;
  bool truncated_ = false;
  uint64_t step_ = 0;
  std::vector<Change> changes_;
  uint64_t generation_ = 0;  // counts Start()s: a new trace, a new text
  mutable std::string vcd_;
  mutable uint64_t vcdGeneration_ = UINT64_MAX;
  mutable std::size_t vcdChanges_ = 0;
};

}  // namespace rk350::card
