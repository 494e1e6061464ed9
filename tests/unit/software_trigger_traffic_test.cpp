// The software trigger's records reach the card only through register
// sequences the card-trigger records already use: arming (with the card's
// comparators or free running), forcing, and the readout's address advance
// and read strobes. Every step from one register write to the next in a
// software-triggered record must occur in the card-trigger records too; the
// values of control registers (sequencer, command, trigger routing and
// control, strobe) count, data values (clock codes, counts, comparator
// levels) do not.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "rk350/rk350_ext.h"
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
    runs_ = 0;
    for (int run = 0; run < 20; ++run) {
      ++runs_;
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
  // One record (as Record) and what it cost: the card's runs and the read
  // strobes (one per sample read, whichever channel or converter).
  struct Cost {
    int runs = 0;
    size_t reads = 0;
  };
  Cost Taken(bool force = false) {
    Recorder().Clear();
    Recorder().SetRecording(true);
    Record(force);
    Recorder().SetRecording(false);
    return {runs_, Recorder().RegisterWrites(regs::kRegReadStrobe).size()};
  }
  int runs_ = 0;
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

namespace rk350::testing {
namespace {

// A level-mode record fires on every sample beyond the level: it teaches no
// crossing spacing, so the edge-mode records after it cost what they cost on
// a fresh library (the first one run, later ones about the record's reads).
// A spacing serves only the channel, edge, level, hysteresis and rate it was
// seen under.
TEST_F(SoftwareTriggerTraffic, EdgeRecordsAfterALevelRecordCostWhatTheyCostFresh) {
  TRK350& t = Instrument();
  t.SoftwareTriggerEnabled = true;
  Configure(1e6L, tsCh1, mCh12, 3000, 750);
  SetSource(1, card::SourceKind::kSine, 0.5, 0, 1e3);  // a crossing every 1,000 samples
  t.SetChTriggerMode(1, 3);
  for (int record = 0; record < 2; ++record) {
    Taken();
    ASSERT_EQ(t.Held[1].count, 3000);
  }
  EXPECT_FALSE(t.CrossingSpacingKnown());
  t.SetChTriggerMode(1, 0);
  for (int record = 0; record < 3; ++record) {
    const Cost c = Taken();
    ASSERT_EQ(t.Held[1].count, 3000);
    EXPECT_EQ(c.runs, 1) << "record " << record;
    // Both channels' records, and on the trigger channel at most a spacing
    // more (the first record, before the spacing is known).
    EXPECT_LE(c.reads, record == 0 ? 2 * 3000 + 1000 + 32 : 2 * 3000 + 64) << "record " << record;
  }
  EXPECT_TRUE(t.CrossingSpacingKnown());

  struct Change {
    const char* name;
    std::function<void()> apply, undo;
  };
  const Change changes[] = {
      {"falling edge", [&] { t.SetChTriggerMode(1, 1); }, [&] { t.SetChTriggerMode(1, 0); }},
      {"level", [&] { t.SetChTriggerLevel(1, 140); }, [&] { t.SetChTriggerLevel(1, 127); }},
      {"hysteresis", [&] { t.TriggerHysteresis[1] = 20; }, [&] { t.TriggerHysteresis[1] = 10; }},
      {"channel", [&] { t.SettsTriggerSource(tsCh2); }, [&] { t.SettsTriggerSource(tsCh1); }},
      {"rate", [&] { SetClock(2e6L); }, [&] { SetClock(1e6L); }},
  };
  for (const Change& change : changes) {
    change.apply();
    EXPECT_FALSE(t.CrossingSpacingKnown()) << change.name;
    change.undo();
    EXPECT_TRUE(t.CrossingSpacingKnown()) << change.name;
  }
}

// A window widened by runs without a crossing is kept when the card's own
// trigger takes the record (its first crossing came after the pre-trigger
// part): the next record does not start small again.
TEST_F(SoftwareTriggerTraffic, WidenedWindowOutlivesACardTriggerRecord) {
  TRK350& t = Instrument();
  t.SoftwareTriggerEnabled = true;
  Configure(1e6L, tsCh1, mCh12, 1000, 900);
  SetSource(1, card::SourceKind::kSquare, 0.5, 0, 1e6 / 50000);  // rising edges 50,000 samples apart
  // The first run is armed 50 samples before a crossing (before the
  // pre-trigger part ends) and holds no other; the second, armed later in
  // the period, has the card's trigger after the pre-trigger part.
  Card().Time().Advance(0.05 - 50e-6);
  const Cost first = Taken();
  ASSERT_EQ(t.Held[1].count, 1000);
  ASSERT_EQ(first.runs, 2);
  ASSERT_EQ(t.RecordTrigger, RK350_RECORD_TRIGGERED_CARD);
  EXPECT_TRUE(t.CrossingSpacingKnown());
  EXPECT_GE(t.SearchWindow(), 1000 / 4 * 2);
}

// At 100 MHz the card's comparator waits too, each converter counting half
// of the merged record and window after its trigger, and each converter is
// read once, in step with the other, from where the record lies: about one
// read per merged sample of the record, from the first record on.
TEST_F(SoftwareTriggerTraffic, HundredMegahertzRecordsReadEachConverterHalfOnce) {
  TRK350& t = Instrument();
  t.SoftwareTriggerEnabled = true;
  for (const int32_t length : {1000, 4000}) {
    Configure(100e6L, tsCh1, mCh1, length, length / 2);
    // The fixture sets no front-end relays: converter 2 sees input 2.
    SetSource(2, card::SourceKind::kSine, 0.5, 0, 100e6 / 200);
    for (int record = 0; record < 4; ++record) {
      const Cost c = Taken();
      ASSERT_EQ(t.Held[1].count, length) << length;
      EXPECT_TRUE(t.SoftwareWaits) << length;
      EXPECT_EQ(t.SoftwareGeometry.post, t.SoftwareLength / 2 + 2 - t.CardTriggerLag()) << length;
      EXPECT_EQ(c.runs, 1) << length << ", record " << record;
      // The record, a crossing spacing's 64th either side, the few reads of
      // each readout's start and of learning the detector's state.
      EXPECT_LE(c.reads, static_cast<size_t>(length + 2 * (200 / 64 + 1) + 40)) << length << ", record " << record;
    }
  }
}

// A record with all but one sample before the trigger and crossings 9,000
// samples apart: the first window, as long as the pre-trigger part, holds
// the first crossing after it, so the first record takes one run.
TEST_F(SoftwareTriggerTraffic, LongPreTriggerRecordTakesOneRunFromTheFirst) {
  TRK350& t = Instrument();
  t.SoftwareTriggerEnabled = true;
  Configure(1e6L, tsCh1, mCh12, 20000, 2);
  ASSERT_EQ(t.lPreSamples, 19998);
  SetSource(1, card::SourceKind::kSine, 0.5, 0, 1e6 / 9000);
  // Armed 500 samples before a crossing: a window of a quarter record would
  // end before the first crossing after the pre-trigger part.
  Card().Time().Advance(0.009 - 500e-6);
  for (int record = 0; record < 3; ++record) {
    const Cost c = Taken();
    ASSERT_EQ(t.Held[1].count, 20000);
    EXPECT_EQ(c.runs, 1) << "record " << record;
    // Both records, and on the trigger channel less than a spacing more.
    EXPECT_LE(c.reads, static_cast<size_t>(2 * 20000 + 9000)) << "record " << record;
  }
}

// Forced with the only crossing before the pre-trigger part: the search
// read the trigger channel from that crossing on, and the forced record
// reads only the samples the search did not, so no memory position is read
// twice.
TEST_F(SoftwareTriggerTraffic, ForcedRecordReadsNoSampleTwice) {
  TRK350& t = Instrument();
  t.SoftwareTriggerEnabled = true;
  Configure(1e6L, tsCh1, mCh1, 512, 100);
  // One rising step through the level 100 samples after arming.
  SetSource(1, card::SourceKind::kStep, 0.6, -0.3, 0, Card().Time().Now() + 100e-6);
  const Cost c = Taken(true);
  ASSERT_EQ(c.runs, 1);
  ASSERT_EQ(t.Held[1].count, 512);
  ASSERT_EQ(t.RecordTrigger, RK350_RECORD_FORCED_CALL);
  ASSERT_FALSE(t.MemoryWrapped);
  // Every position of the run read at most once (an address advance by 0
  // costs one strobe more).
  EXPECT_LE(c.reads, static_cast<size_t>(t.MemoryEnd) + 2);
}

}  // namespace
}  // namespace rk350::testing

namespace rk350::testing {
namespace {

// The merged samples of the last run as the card's memory holds them
// (position 0 converter 2's oldest sample, 2k - 1 converter 1's sample k,
// 2k converter 2's), read from the card model, not through the library.
std::vector<int> HeldMergedCodes(TRK350& t, card::VirtualCard& card) {
  const int64_t held = t.MemoryWrapped ? regs::kMemoryDepth : t.MemoryEnd;
  const int64_t oldest = t.MemoryWrapped ? t.MemoryEnd : 0;
  const auto code = [&](int converter, int64_t k) {
    return int{card.Acquisition().Memory(converter, static_cast<uint16_t>((oldest + k) % regs::kMemoryDepth))};
  };
  std::vector<int> merged;
  for (int64_t q = 0; q < 2 * held - 1; ++q) merged.push_back(q % 2 == 1 ? code(1, (q + 1) / 2) : code(2, q / 2));
  return merged;
}

// The first position at or after `pre` where the comparator condition fires
// on `codes` stepped from the first (rising arms below a, fires at or above
// b; falling the other way; level fires at or above b), with `post` samples
// after it; -1 when none.
int64_t FirstQualifying(const std::vector<int>& codes, int mode, int a, int b, int64_t pre, int64_t post) {
  bool armed = false;
  for (int64_t i = 0; i + post <= static_cast<int64_t>(codes.size()); ++i) {
    const int x = codes[i] - 1;
    const bool fires = mode == 3 ? x >= b : armed && (mode == 0 ? x >= b : x <= b);
    if (fires) {
      if (i >= pre) return i;
      armed = false;
    } else if (mode == 0 ? x < a : x > a) {
      armed = true;
    }
  }
  return -1;
}

// At 100 MHz the card's comparator watches converter 1 alone, the library's
// search the merged samples. Each record must be the merged samples around
// the first qualifying crossing of the run, found from the card's memory by
// this test's own comparator; a run is repeated only when it held none; and
// from the second record on the reads stay near the record's length. Input
// 2 (converter 2 here) carries the same sine as input 1, a phase-shifted
// one (its crossings come before converter 1's) or one of another period
// (it crosses on its own).
TEST_F(SoftwareTriggerTraffic, HundredMegahertzRecordsAreTheMergedSamplesAroundTheFirstCrossing) {
  TRK350& t = Instrument();
  t.SoftwareTriggerEnabled = true;
  struct Input2 {
    const char* name;
    double periodSamples, phase;
  };
  const Input2 inputs[] = {{"same", 200, 0}, {"ahead", 200, 0.4}, {"other_period", 70, 0}};
  struct Setting {
    int mode;
    int32_t length, post;
    double period;
  };
  const Setting settings[] = {{0, 1000, 750, 200}, {1, 1000, 500, 200}, {3, 1000, 750, 200},
                              {0, 2000, 1, 400},   {0, 400, 300, 200},  {1, 3001, 1000, 1500}};
  for (const Input2& in : inputs) {
    for (const Setting& s : settings) {
      Configure(100e6L, tsCh1, mCh1, s.length, s.post);
      t.SetChTriggerMode(1, static_cast<uint8_t>(s.mode));
      t.CrossingSpacing = 0;
      SetSource(1, card::SourceKind::kSine, 0.5, 0, 100e6 / s.period);
      card::SignalSource second;
      second.kind = card::SourceKind::kSine;
      second.amplitude = 0.5;
      second.frequency = 100e6 / (in.periodSamples * s.period / 200);
      second.phase = in.phase;
      Card().Sources().Set(2, second);
      const std::string what = std::string(in.name) + ", mode " + std::to_string(s.mode) + ", record " +
                               std::to_string(s.length) + " with " + std::to_string(s.post) + " after";
      for (int record = 0; record < 4; ++record) {
        Card().Time().Advance(0.37e-6 * (record + 1));
        Recorder().Clear();
        Recorder().SetRecording(true);
        int runs = 0;
        std::vector<int> merged;
        int64_t expected = -1;
        t.SoftwareAttempt = 0;
        do {
          ASSERT_LT(++runs, 20) << what;
          t.ArmMeasurement();
          Card().Time().Advance(0.2);
          ASSERT_TRUE(t.RecordComplete());
          t.ReadMeasurement();
          merged = HeldMergedCodes(t, Card());
          expected = FirstQualifying(merged, s.mode, t.ComparatorValues[1][0], t.ComparatorValues[1][1], t.lPreSamples,
                                     t.lPostSamples);
          // A run that held a complete record is not repeated.
          if (t.SoftwareMissed) {
            ASSERT_LT(expected, 0) << what << ", record " << record << ", run " << runs;
          }
        } while (t.SoftwareMissed);
        Recorder().SetRecording(false);
        const size_t reads = Recorder().RegisterWrites(regs::kRegReadStrobe).size();
        ASSERT_GE(expected, 0) << what;
        ASSERT_EQ(t.Held[1].count, s.length) << what;
        EXPECT_EQ(t.RecordTrigger, RK350_RECORD_TRIGGERED_SOFTWARE) << what;
        const uint16_t* data = t.ChannelData[1].get();
        for (int32_t p = 0; p < s.length; ++p) {
          ASSERT_EQ(data[p] >> 8, merged[expected - t.lPreSamples + p])
              << what << ", record " << record << ", position " << p;
        }
        // Cost is asked of the converters a card has, which sample one input
        // half a sample apart; the others check the records alone.
        if (record == 0 || std::string(in.name) != "same") continue;
        EXPECT_EQ(runs, 1) << what << ", record " << record;
        // The record, a 64th of a spacing either side, and the readouts'
        // and the state's few extra reads; every sample from the end of the
        // pre-trigger part to the crossing must be seen, which reaches before
        // the record when the crossing lies beyond twice the pre-trigger part.
        const int64_t unavoidable = std::max<int64_t>(0, expected - 2 * int64_t{t.lPreSamples});
        EXPECT_LE(reads, static_cast<size_t>(s.length + unavoidable + 2 * (s.period / 64 + 1) + 48))
            << what << ", record " << record;
      }
    }
  }
}

}  // namespace
}  // namespace rk350::testing
