// A logic-analyser trace of the front end's serial lines, exported as a
// value change dump (VCD): "clk" and "data" (register 1, bits 0x20 and
// 0x10), the DAC selects "cs1" and "cs2" (register 0, bits 0x02 and 0x10,
// active low) and the relay latch strobes "latch1" and "latch2" (register 0,
// bits 0x01 and 0x08). Every register write takes one step of 1 us.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace rk350::card {

class FrontEndTrace {
 public:
  // Enough for thousands of front-end programmings; later changes are
  // dropped and the trace is marked truncated.
  static constexpr std::size_t kMaxChanges = std::size_t{1} << 20;

  // Starts a new trace from the current register values.
  void Start(uint8_t select, uint8_t lines);
  void Stop() { running_ = false; }
  bool Running() const { return running_; }
  bool Truncated() const { return truncated_; }
  std::size_t ChangeCount() const { return changes_.size(); }

  // One write to register 0 or 1, with both registers' values after it.
  void OnWrite(uint8_t select, uint8_t lines);

  // The trace as VCD text (timescale 1 us), ending one step after the last
  // change.
  std::string Vcd() const;

 private:
  struct Change {
    uint64_t step;
    uint8_t levels;  // bit per signal, in the order of kSignals
  };
  static uint8_t Levels(uint8_t select, uint8_t lines);

  bool running_ = false;
  bool truncated_ = false;
  uint64_t step_ = 0;
  uint8_t last_ = 0;
  std::vector<Change> changes_;
};

}  // namespace rk350::card
