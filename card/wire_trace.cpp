#include "card/wire_trace.h"

#include <charconv>

namespace rk350::card {

namespace {
void AppendTime(std::string& text, uint64_t units) {
  char stamp[24] = {'#'};
  char* end = std::to_chars(stamp + 1, stamp + sizeof stamp - 1, units).ptr;
  *end++ = '\n';
  text.append(stamp, end);
}
}  // namespace

void WireTrace::Start(bool scl, bool sda) {
  changes_.clear();
  ++generation_;
  truncated_ = false;
  step_ = 0;
  running_ = true;
  changes_.push_back({0, scl, sda});
}

void WireTrace::OnWires(bool scl, bool sda) {
  if (!running_) return;
  ++step_;
  const Change& last = changes_.back();
  if (last.scl == scl && last.sda == sda) return;
  if (changes_.size() >= kMaxChanges) {
    truncated_ = true;
    return;
  }
  changes_.push_back({step_, scl, sda});
}

const std::string& WireTrace::Vcd() const {
  if (vcdGeneration_ == generation_ && vcdChanges_ == changes_.size()) return vcd_;
  // One VCD time unit is 100 ns; a step is five of them.
  constexpr uint64_t kUnitsPerStep = kStepNs / 100;
  std::string& text = vcd_;
  text =
      "$date virtual RK350 card $end\n"
      "$version rk350 EEPROM wire trace $end\n"
      "$timescale 100 ns $end\n"
      "$scope module eeprom $end\n"
      "$var wire 1 ! scl $end\n"
      "$var wire 1 \" sda $end\n"
      "$upscope $end\n"
      "$enddefinitions $end\n";
  bool haveLast = false;
  Change last{};
  for (const Change& c : changes_) {
    AppendTime(text, c.step * kUnitsPerStep);
    if (!haveLast || c.scl != last.scl) text += c.scl ? "1!\n" : "0!\n";
    if (!haveLast || c.sda != last.sda) text += c.sda ? "1\"\n" : "0\"\n";
    last = c;
    haveLast = true;
  }
  const uint64_t end = (changes_.empty() ? 0 : changes_.back().step) + 2;
  AppendTime(text, end * kUnitsPerStep);
  vcdGeneration_ = generation_;
  vcdChanges_ = changes_.size();
  return text;
}

}  // namespace rk350::card
