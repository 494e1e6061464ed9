#include "card/front_end_trace.h"

#include <algorithm>

#include "hardware/register_map.h"

namespace rk350::card {

namespace {
struct Signal {
  const char* name;
  char id;
};
// Bit i of a level byte is signal i.
constexpr Signal kSignals[] = {{"clk", '!'}, {"data", '"'},   {"cs1", '#'},
                               {"cs2", '$'}, {"latch1", '%'}, {"latch2", '&'}};
constexpr int kSignalCount = 6;
}  // namespace

uint8_t FrontEndTrace::Levels(uint8_t select, uint8_t lines) {
  const bool bits[kSignalCount] = {
      (lines & regs::kFrontEndClock) != 0,     (lines & regs::kFrontEndData) != 0,
      (select & regs::kSelectDacPath1) != 0,   (select & regs::kSelectDacPath2) != 0,
      (select & regs::kStrobeLatchPath1) != 0, (select & regs::kStrobeLatchPath2) != 0,
  };
  uint8_t levels = 0;
  for (int i = 0; i < kSignalCount; ++i) levels = static_cast<uint8_t>(levels | (bits[i] ? 1 << i : 0));
  return levels;
}

void FrontEndTrace::Start(uint8_t select, uint8_t lines) {
  changes_.clear();
  truncated_ = false;
  step_ = 0;
  last_ = Levels(select, lines);
  changes_.push_back({0, last_});
  running_ = true;
}

void FrontEndTrace::OnWrite(uint8_t select, uint8_t lines) {
  if (!running_) return;
  ++step_;
  const uint8_t levels = Levels(select, lines);
  if (levels == last_) return;
  last_ = levels;
  if (changes_.size() >= kMaxChanges) {
    truncated_ = true;
    return;
  }
  changes_.push_back({step_, levels});
}

std::string FrontEndTrace::Vcd() const {
  std::string vcd = "$timescale 1 us $end\n$scope module front_end $end\n";
  for (const auto& s : kSignals) {
    vcd += "$var wire 1 ";
    vcd.push_back(s.id);
    vcd += ' ';
    vcd += s.name;
    vcd += " $end\n";
  }
  vcd += "$upscope $end\n$enddefinitions $end\n";
  int previous = -1;  // no levels yet: the first change lists every signal
  for (const auto& c : changes_) {
    vcd += '#';
    vcd += std::to_string(c.step);
    vcd += '\n';
    for (int i = 0; i < kSignalCount; ++i) {
      const int level = (c.levels >> i) & 1;
      if (previous < 0 || level != ((previous >> i) & 1)) {
        vcd += level != 0 ? '1' : '0';
        vcd += kSignals[i].id;
        vcd += '\n';
      }
    }
    previous = c.levels;
  }
  const uint64_t end = changes_.empty() ? 1 : changes_.back().step + 1;
  vcd += '#';
  vcd += std::to_string(std::max(end, step_ + 1));
  vcd += '\n';
  return vcd;
}

}  // namespace rk350::card
