// Readout of a record: where it starts, how many samples land where, the
// address check, the interleave merge, averaging and the range requests.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "tests/unit/acquisition_fixture.h"

namespace rk350::testing {
namespace {

// The card answers with a scripted status and address counter; every data
// read returns the next number of a counter (1, 2, 3 ... as the high byte).
class ScriptedReadoutTest : public AcquisitionTest {
 protected:
  // `later` is the address the counter shows after the first reading.
  void Script(uint8_t status, uint16_t address, int later = -1) {
    reads_ = 0;
    addressReads_ = 0;
    Recorder().SetReadHook([this, status, address, later](uint16_t port, int value) {
      const int shown = later >= 0 && addressReads_ >= 2 ? later : address;
      switch (port) {
        case 0x28A:
          return static_cast<int>(status);
        case 0x28B:
          ++addressReads_;
          return shown >> 8;
        case 0x28C:
          ++addressReads_;
          return shown & 0xFF;
        case 0x288:
        case 0x289:
          return 1 + (reads_++ % 100);
        default:
          return value;
      }
    });
  }
  int reads_ = 0;
  int addressReads_ = 0;
};

TEST_F(ScriptedReadoutTest, WrappedRecordIsReadFromBehindTheAddressCounter) {
  SetClock(1e6L);
  Instrument().SetmMeasureMode(mCh1);
  Script(0x40, 100);
  Recorder().SetRecording(true);
  Instrument().ReadMeasurement();
  Recorder().SetRecording(false);
  // start = 100 - 512 + 65536 = 65124; the counter is moved to 65124 - 16.
  const auto low = Recorder().RegisterWrites(26), high = Recorder().RegisterWrites(27);
  ASSERT_FALSE(low.empty());
  EXPECT_EQ(low.front() | high.front() << 8, 65108);
  // 513 samples at positions 0..512, then 13 discarded reads; one attempt,
  // as the counter ends where the record ends (modulo the memory).
  EXPECT_EQ(Recorder().RegisterWrites(28).size(), 526u);
  for (int k = 0; k <= 512; ++k) ASSERT_EQ(Sample(1, k), (1 + k % 100) << 8) << k;
  EXPECT_EQ(Sample(1, 513), 0x8000);
}

TEST_F(ScriptedReadoutTest, RecordShorterThanTheMemoryContentStartsAtZero) {
  SetClock(1e6L);
  Instrument().SetmMeasureMode(mCh1);
  Script(0x00, 300);
  Recorder().SetRecording(true);
  Instrument().ReadMeasurement();
  Recorder().SetRecording(false);
  const auto commands = Recorder().RegisterWrites(4);
  ASSERT_GE(commands.size(), 2u);
  EXPECT_EQ(commands[0], 0x56);
  EXPECT_EQ(commands[1], 0x02);
  // 283 reads land at 230..512; the first 8 show the memory before address
  // 0, which this acquisition did not write, so they stay unmeasured too.
  for (int k = 0; k < 238; ++k) ASSERT_EQ(Sample(1, k), 0x8000) << k;
  for (int k = 238; k <= 511; ++k) ASSERT_EQ(Sample(1, k), (1 + (k - 230) % 100) << 8) << k;
  EXPECT_EQ(Instrument().Held[1].first, 238);
  EXPECT_EQ(Instrument().Held[1].count, 274);
}

TEST_F(ScriptedReadoutTest, FreeRunningRowFillsTheWholeRecordWithTheSameStrobes) {
  // The read that used to be discarded after the record carries its last
  // sample: every position 0 .. L - 1 is filled, and the card sees L read
  // strobes as before.
  SetClock(1e6L);
  Instrument().SetmMeasureMode(mCh1);
  Instrument().AppliedTriggerSource = tsNoTrig;
  Script(0x40, 5000);
  Recorder().SetRecording(true);
  Instrument().ReadMeasurement();
  Recorder().SetRecording(false);
  for (int k = 0; k <= 511; ++k) ASSERT_EQ(Sample(1, k), (1 + k % 100) << 8) << k;
  EXPECT_EQ(Sample(1, 512), 0x8000);
  EXPECT_EQ(Recorder().RegisterWrites(28).size(), 512u);
}

TEST_F(ScriptedReadoutTest, SingleChannelRetriesWhenTheCounterDisagrees) {
  SetClock(1e6L);
  Instrument().SetmMeasureMode(mCh2);
  // The record ends at 5000, but after reading the counter is elsewhere.
  Script(0x40, 5000, 7000);
  Recorder().SetRecording(true);
  Instrument().ReadMeasurement();
  Recorder().SetRecording(false);
  const size_t strobesPerAttempt = 513 + 13;
  EXPECT_EQ(Recorder().RegisterWrites(28).size(), 4 * strobesPerAttempt);
  Recorder().Clear();
  Script(0x40, 5000, 7000);
  Instrument().SetmMeasureMode(mCh12);
  Recorder().SetRecording(true);
  Instrument().ReadMeasurement();
  Recorder().SetRecording(false);
  EXPECT_EQ(Recorder().RegisterWrites(28).size(), 2 * strobesPerAttempt);  // both channels, once each
}

TEST_F(ScriptedReadoutTest, NoPortAccessLeavesTheBuffers) {
  Instrument().ChannelData[1][5] = 0x1234;
  Instrument().PortAccessEnabled = false;
  Instrument().ReadMeasurement();
  EXPECT_EQ(Sample(1, 5), 0x1234);
}

TEST_F(AcquisitionTest, InterleaveMergeAlternatesTheConverters) {
  for (int k = 0; k < 2000; ++k) {
    Instrument().InterleaveBuffer[1][k] = static_cast<uint16_t>(0x1000 + k);
    Instrument().InterleaveBuffer[2][k] = static_cast<uint16_t>(0x5000 + k);
  }
  Instrument().MergeInterleaved();
  EXPECT_EQ(Sample(1, 0), 0x5000 + 128);
  EXPECT_EQ(Sample(1, 1), 0x1000 + 129);
  EXPECT_EQ(Sample(1, 2), 0x5000 + 129);
  EXPECT_EQ(Sample(1, 513), 0x1000 + 128 + 257);
  EXPECT_EQ(Sample(1, 514), 0x5000 + 128 + 257);
}

TEST_F(AcquisitionTest, InterleaveMergeStaysInsideTheBuffersWithNegativePreSamples) {
  // A record length below the post samples makes the pre samples negative.
  SetRecord(100, 100);
  Instrument().SetlRecordLength(60);
  ASSERT_EQ(Instrument().lPreSamples, -40);
  for (int k = 0; k < 200; ++k) Instrument().InterleaveBuffer[2][k] = Instrument().InterleaveBuffer[1][k] = 0x4400;
  Instrument().MergeInterleaved();
  EXPECT_EQ(Sample(1, 0), 0x8000);   // converter 2 at -20: not measured
  EXPECT_EQ(Sample(1, 61), 0x4400);  // converter 1 at 31 - 20 = 11
  EXPECT_EQ(Sample(1, 39), 0x4400);  // converter 1 at 20 - 20 = 0
  EXPECT_EQ(Sample(1, 37), 0x8000);  // converter 1 at 19 - 20: not measured
}

TEST_F(AcquisitionTest, ReadoutWithNegativePreSamplesStaysInsideTheBuffers) {
  SetClock(1e6L);
  SetRecord(100, 100);
  Instrument().SetlRecordLength(60);
  Instrument().SetmMeasureMode(mCh1);
  Instrument().Interleaved = true;
  Instrument().SetmMeasureMode(mCh1);
  SetSource(1, card::SourceKind::kDc, 0, 0.1);
  Instrument().tsTriggerSource = tsNoTrig;
  Instrument().ArmMeasurement();
  Card().Time().Advance(0.1);
  ASSERT_TRUE(Instrument().RecordComplete());
  Instrument().ReadMeasurement();  // the sanitizers watch the buffers
  SUCCEED();
}

TEST_F(AcquisitionTest, AveragingOfFourRecordsGivesTheirMean) {
  Instrument().nAverageNumber = 4;
  SetRecord(8, 4);
  const uint16_t records[4] = {0x4000, 0x5100, 0x8000, 0xC300};
  for (int n = 1; n <= 4; ++n) {
    Instrument().nCalculations = n;
    std::fill(Instrument().ChannelData[1].get(), Instrument().ChannelData[1].get() + 10, records[n - 1]);
    Instrument().AverageRecord(1);
  }
  const double mean = (0x4000 + 0x5100 + 0x8000 + 0xC300) / 4.0;
  for (int k = 1; k <= 8; ++k) EXPECT_NEAR(Sample(1, k), mean, 1.0) << k;
  EXPECT_EQ(Sample(1, 0), 0xC300);  // element 0 is the raw last reading
  EXPECT_EQ(Sample(1, 9), 0xC300);  // beyond pre + post: untouched
  // The first record of a new mean passes unchanged.
  Instrument().nCalculations = 1;
  std::fill(Instrument().ChannelData[1].get(), Instrument().ChannelData[1].get() + 9, 0x1200);
  Instrument().AverageRecord(1);
  EXPECT_EQ(Sample(1, 4), 0x1200);
}

TEST_F(AcquisitionTest, RangeRequestsFromOverloadAndFit) {
  struct Case {
    const char* name;
    double amplitude;
    uint16_t range;
    int32_t delta;
  };
  const Case cases[] = {
      {"overload steps up", 1.0, 6, +1},        {"overload at the top stays", 1.0, 12, 0},
      {"small signal steps down", 0.05, 6, -1}, {"small signal at the bottom stays", 0.05, 3, 0},
      {"signal in between stays", 0.5, 6, 0},
  };
  for (const Case& c : cases) {
    SetClock(1e6L);
    SetRecord(512, 256);
    Instrument().SetmMeasureMode(mCh1);
    Instrument().RangeIndex[1] = c.range;
    Instrument().FitHigh[1] = 0xAC00;
    Instrument().FitLow[1] = 0x5400;
    card::SignalSource s;
    s.kind = card::SourceKind::kSine;
    s.amplitude = c.amplitude;
    s.frequency = 10e3;
    Card().Sources().Set(1, s);
    Instrument().tsTriggerSource = tsNoTrig;
    Instrument().AppliedTriggerSource = tsNoTrig;
    Instrument().ArmMeasurement();
    Card().Time().Advance(0.1);
    Instrument().ForceTrigger();
    ASSERT_TRUE(Instrument().RecordComplete());
    Instrument().ReadMeasurement();
    EXPECT_EQ(Instrument().RangeDelta[1], c.delta) << c.name;
    EXPECT_EQ(Instrument().RangeDelta[2], 0) << c.name;
  }
}

}  // namespace
}  // namespace rk350::testing
