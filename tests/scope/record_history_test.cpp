// The records the scope keeps for stepping back: bounded by count and by
// memory, oldest first, found by sequence number only while kept, and the
// frames that fall out are let go.
#include "core/record_history.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "core/scope_options.h"
#include "rk350/rk350_ext.h"

using namespace rk350::scope;

namespace {

std::shared_ptr<Frame> MakeFrame(std::uint64_t sequence, std::size_t samples = 10,
                                 std::uint32_t how = RK350_RECORD_TRIGGERED_CARD) {
  auto frame = std::make_shared<Frame>();
  frame->sequence = sequence;
  frame->record.how = how;
  frame->record.channels.push_back({"CH1", 1.0, std::vector<double>(samples, 0.0), false, 1});
  return frame;
}

std::vector<std::uint64_t> Sequences(const RecordHistory& history) {
  std::vector<std::uint64_t> out;
  for (const auto& frame : history.Records()) out.push_back(frame->sequence);
  return out;
}

}  // namespace

TEST(RecordHistory, KeepsTheLastRecordsOldestFirstAndFindsOnlyThose) {
  RecordHistory history(3);
  for (std::uint64_t s = 1; s <= 10; ++s) history.Add(MakeFrame(s));
  EXPECT_EQ(history.Count(), 3u);
  EXPECT_EQ(Sequences(history), (std::vector<std::uint64_t>{8, 9, 10}));
  EXPECT_EQ(history.Span(), std::make_pair(std::uint64_t{8}, std::uint64_t{10}));
  for (std::uint64_t s : {8, 9, 10}) {
    ASSERT_NE(history.Find(s), nullptr) << s;
    EXPECT_EQ(history.Find(s)->sequence, s);
  }
  // A record that fell out, one never published, and 0 are not another record.
  for (std::uint64_t s : {0, 1, 7, 11}) EXPECT_EQ(history.Find(s), nullptr) << s;
}

TEST(RecordHistory, KeepsNoneWhenAskedForNone) {
  RecordHistory history(0);
  history.Add(MakeFrame(1));
  EXPECT_EQ(history.Count(), 0u);
  EXPECT_EQ(history.Span(), std::make_pair(std::uint64_t{0}, std::uint64_t{0}));
  EXPECT_EQ(history.Find(1), nullptr);
}

TEST(RecordHistory, CountIsCappedWhateverWasAsked) {
  RecordHistory history(kMaxKeptRecords * 10);
  EXPECT_EQ(history.Capacity(), kMaxKeptRecords);
  for (std::uint64_t s = 1; s <= kMaxKeptRecords + 5; ++s) history.Add(MakeFrame(s, 1));
  EXPECT_EQ(history.Count(), kMaxKeptRecords);
  EXPECT_EQ(history.Span().first, 6u);
}

TEST(RecordHistory, LongRecordsKeepFewerWithinTheMemoryBudget) {
  constexpr std::size_t kSamples = 100000;
  const std::size_t one = FrameFootprint(*MakeFrame(1, kSamples));
  EXPECT_GE(one, kSamples * (sizeof(double) + 8));  // the volts and their JSON are counted
  RecordHistory history(100, one * 5 / 2);          // room for two and a half
  for (std::uint64_t s = 1; s <= 6; ++s) history.Add(MakeFrame(s, kSamples));
  EXPECT_EQ(Sequences(history), (std::vector<std::uint64_t>{5, 6}));
  // A record larger than the whole budget still stays as the newest, alone.
  history.Add(MakeFrame(7, kSamples * 10));
  EXPECT_EQ(Sequences(history), (std::vector<std::uint64_t>{7}));
  history.Add(MakeFrame(8, kSamples));
  EXPECT_EQ(Sequences(history), (std::vector<std::uint64_t>{8}));
  history.Add(MakeFrame(9, kSamples));
  EXPECT_EQ(Sequences(history), (std::vector<std::uint64_t>{8, 9}));
}

TEST(RecordHistory, LetsGoOfTheFramesThatFallOut) {
  RecordHistory history(2);
  std::weak_ptr<Frame> first;
  {
    auto frame = MakeFrame(1, 1000);
    first = frame;
    history.Add(std::move(frame));
  }
  history.Add(MakeFrame(2));
  EXPECT_FALSE(first.expired());
  history.Add(MakeFrame(3));
  EXPECT_TRUE(first.expired());
}

TEST(RecordHistory, ReadersSeeAContiguousRunWhileRecordsAreAdded) {
  RecordHistory history(50);
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (std::uint64_t s = 1; s <= 5000; ++s) history.Add(MakeFrame(s, 1));
    done = true;
  });
  bool ordered = true;
  while (!done) {
    const auto kept = Sequences(history);
    for (std::size_t i = 1; i < kept.size(); ++i) ordered = ordered && kept[i] == kept[i - 1] + 1;
    ordered = ordered && kept.size() <= 50;
  }
  writer.join();
  EXPECT_TRUE(ordered);
  EXPECT_EQ(history.Span(), std::make_pair(std::uint64_t{4951}, std::uint64_t{5000}));
}

TEST(RecordHistory, EverySurfaceNamesTheTriggerStatusAlike) {
  const struct {
    std::uint32_t how;
    TriggerStatus status;
    const char* name;
  } cases[] = {
      {RK350_RECORD_TRIGGERED_CARD, TriggerStatus::Triggered, "triggered"},
      {RK350_RECORD_TRIGGERED_SOFTWARE, TriggerStatus::Triggered, "triggered"},
      {RK350_RECORD_FORCED_TIMEOUT, TriggerStatus::Forced, "forced"},
      {RK350_RECORD_FORCED_CALL, TriggerStatus::Forced, "forced"},
      {RK350_RECORD_FREE_RUN, TriggerStatus::FreeRun, "free run"},
      {RK350_RECORD_NONE, TriggerStatus::Unknown, "unknown"},
      {99, TriggerStatus::Unknown, "unknown"},
  };
  for (const auto& c : cases) {
    const auto frame = MakeFrame(1, 1, c.how);
    EXPECT_EQ(TriggerStatusOf(frame->record), c.status) << c.how;
    EXPECT_STREQ(TriggerStatusName(c.status), c.name) << c.how;
  }
}

TEST(RecordHistory, TheCommandLineTakesZeroToTheCapAndNothingElse) {
  EXPECT_EQ(ParseScopeArguments({}).options.history, 0u);
  const struct {
    const char* value;
    bool taken;
    std::size_t history;
  } cases[] = {{"0", true, 0},   {"1", true, 1},    {"1000", true, 1000}, {"1001", false, 0},
               {"-1", false, 0}, {"2.5", false, 0}, {"many", false, 0},   {"nan", false, 0}};
  for (const auto& c : cases) {
    const auto parsed = ParseScopeArguments({"--history", c.value});
    EXPECT_EQ(parsed.error.empty(), c.taken) << c.value << ": " << parsed.error;
    if (c.taken) {
      EXPECT_EQ(parsed.options.history, c.history) << c.value;
    }
  }
}
