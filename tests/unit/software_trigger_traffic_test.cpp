// The software trigger's records reach the card only through register
// sequences the card-trigger records already use: arming (with the card's
// comparators or free running), forcing, and the readout's address advance
// and read strobes. Every step from one register write to the next in a
// software-triggered record must occur in the card-trigger records too; the
// values of control registers (sequencer, command, trigger routing and
// control, strobe) count, data values (clock codes, counts, comparator
// levels) do not.
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <utility>
#include <vector>

#include "tests/unit/acquisition_fixture.h"

namespace rk350::testing {
namespace {

using Token = std::pair<int, int>;  // register, value (-1: a data value)
using Step = std::pair<Token, Token>;

bool IsControlRegister(uint8_t index) {
  using namespace regs;
  return index == kRegCommand || index == kRegTriggerControl || index == kRegTriggerPath || index == kRegCh1ModeA ||
         index == kRegCh1ModeB || index == kRegCh2Mode || index == kRegSpecialTrigger || index == kRegReadStrobe ||
         index == kRegSequencer;
}

class SoftwareTriggerTraffic : public AcquisitionTest {
 protected:
  // The register writes of `run`, as steps between consecutive writes.
  std::vector<Step> Steps(const std::function<void()>& run) {
    Recorder().Clear();
    Recorder().SetRecording(true);
    run();
    Recorder().SetRecording(false);
    std::vector<Token> tokens;
    for (const auto& [index, value] : Recorder().RegisterTrace()) {
      tokens.emplace_back(index, IsControlRegister(index) ? value : -1);
    }
    std::vector<Step> steps;
    for (size_t i = 1; i < tokens.size(); ++i) steps.emplace_back(tokens[i - 1], tokens[i]);
    return steps;
  }
  // One record: arms, lets the card run (forcing when asked) and reads the
  // record, repeating runs that held no crossing.
  void Record(bool force = false) {
    TRK350& t = Instrument();
    t.SoftwareAttempt = 0;
    for (int run = 0; run < 20; ++run) {
      t.ArmMeasurement();
      Card().Time().Advance(0.005);
      if (force) t.ForceTrigger();
      Card().Time().Advance(0.2);
      ASSERT_TRUE(t.RecordComplete());
      t.ReadMeasurement();
      if (!t.SoftwareMissed) return;
    }
    FAIL() << "no record in 20 runs";
  }
  void Configure(long double hertz, TTrigSource source, TMeasureMode mode, int32_t length, int32_t post) {
    TRK350& t = Instrument();
    if (hertz > 50e6L) {
      t.InterleaveCapable = true;
      t.SetmMeasureMode(mCh1);
      t.SetrSampleFreq(hertz);
    } else {
      SetClock(hertz);
      t.SetmMeasureMode(mode);
    }
    t.SettsTriggerSource(source);
    SetRecord(length, post);
    // Crossings every 200 samples on CH1 and every 700 on CH2.
    SetSource(1, card::SourceKind::kSine, 0.5, 0, static_cast<double>(hertz) / 200);
    SetSource(2, card::SourceKind::kSine, 0.5, 0, static_cast<double>(hertz) / 700);
  }
  void Collect(std::set<Step>& into, const std::function<void()>& run) {
    for (const Step& s : Steps(run)) into.insert(s);
  }
};

TEST_F(SoftwareTriggerTraffic, HoldsOnlyTheSequencesOfCardTriggerRecords) {
  TRK350& t = Instrument();
  // What the card-trigger records send, at fast and slow clocks, both
  // channel sources, single and dual channels, 100 MHz, free running,
  // forced, and from address 0.
  std::set<Step> documented;
  struct Setting {
    long double hertz;
    TTrigSource source;
    TMeasureMode mode;
  };
  const Setting settings[] = {{25e6L, tsCh1, mCh12}, {10e3L, tsCh1, mCh12}, {1e6L, tsCh2, mCh12},
                              {1e6L, tsCh1, mCh1},   {1e6L, tsCh2, mCh2},   {100e6L, tsCh1, mCh1}};
  t.SoftwareTriggerEnabled = false;
  for (const Setting& s : settings) {
    Configure(s.hertz, s.source, s.mode, 1000, 500);
    // Two records in a row: a readout followed by the next arming.
    Collect(documented, [&] {
      Record();
      Record();
    });
    Collect(documented, [&] { Record(true); });
    t.SetrTrigTimeOut(0);
    Collect(documented, [&] { Record(); });
    t.SetrTrigTimeOut(1);
    Collect(documented, [&] {
      t.ArmMeasurement();
      Card().Time().Advance(1e-4);
      t.ForceTrigger();
      Card().Time().Advance(0.2);
      t.ReadMeasurement();
    });
  }

  // The software trigger's records: crossings before the pre-trigger part
  // ends (search), after it (the card's trigger), none (runs repeated, then
  // forced), on both sources, and at 100 MHz.
  t.SoftwareTriggerEnabled = true;
  struct Case {
    const char* name;
    Setting setting;
    int32_t length, post;
    bool dc, force;
  };
  const Case cases[] = {
      {"search", {25e6L, tsCh1, mCh12}, 1000, 200, false, false},
      {"search_slow_clock", {10e3L, tsCh1, mCh12}, 1000, 200, false, false},
      {"card_trigger_after_pre", {1e6L, tsCh2, mCh12}, 1000, 990, false, false},
      {"single_channel", {1e6L, tsCh2, mCh2}, 3000, 1000, false, false},
      {"no_crossing_forced", {1e6L, tsCh1, mCh12}, 1000, 500, true, true},
      {"interleaved", {100e6L, tsCh1, mCh1}, 1000, 500, false, false},
  };
  for (const Case& c : cases) {
    Configure(c.setting.hertz, c.setting.source, c.setting.mode, c.length, c.post);
    if (c.dc) SetSource(1, card::SourceKind::kDc, 0, 0.3);
    for (int round = 0; round < 3; ++round) {
      const std::vector<Step> steps = Steps([&] { Record(c.force); });
      ASSERT_FALSE(steps.empty());
      for (const Step& s : steps) {
        EXPECT_TRUE(documented.count(s) == 1)
            << c.name << ": register " << s.first.first << " = " << s.first.second << " then register "
            << s.second.first << " = " << s.second.second << " is no card-trigger record's step";
      }
      EXPECT_EQ(t.Held[c.setting.source == tsCh2 ? 2 : 1].count, c.length) << c.name;
    }
  }
}

}  // namespace
}  // namespace rk350::testing
