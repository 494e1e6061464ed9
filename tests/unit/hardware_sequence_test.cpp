// Register sequences of arming, trigger programming and status polling, as
// seen on the bus.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "tests/unit/acquisition_fixture.h"

namespace rk350::testing {
namespace {

using Writes = std::vector<std::pair<uint8_t, uint8_t>>;

class HardwareSequenceTest : public AcquisitionTest {
 protected:
  Writes Trace(void (TRK350::*operation)()) {
    Recorder().Clear();
    Recorder().SetRecording(true);
    (Instrument().*operation)();
    Recorder().SetRecording(false);
    return Recorder().RegisterTrace();
  }
};

TEST_F(HardwareSequenceTest, ArmingWritesClockCounterTriggerThenStartsInOrder) {
  SetClock(25e6L);
  const Writes expected = {
      {8, 6},     {5, 0x10},                                            // sample clock, 25 MHz
      {26, 0x0A}, {27, 0x01},                                           // post samples 256 + 10
      {11, 117},  {12, 127},  {13, 0},   {14, 0},                       // channel 1 comparators
      {10, 1},    {9, 1},     {15, 5},   {16, 1},    {25, 0}, {24, 0},  // trigger shadows
      {29, 0xAC}, {4, 0x7E},  {4, 0x20}, {29, 0xAE},                    // start
  };
  EXPECT_EQ(Trace(&TRK350::ArmMeasurement), expected);
}

TEST_F(HardwareSequenceTest, ArmingWithoutCardWritesNothing) {
  Instrument().HardwarePresent = false;
  EXPECT_TRUE(Trace(&TRK350::ArmMeasurement).empty());
}

TEST_F(HardwareSequenceTest, ComparatorValuesByMode) {
  struct Case {
    uint8_t mode;
    int32_t level, hysteresis, a, b;
  };
  const Case cases[] = {
      {0, 127, 10, 117, 127}, {1, 127, 10, 137, 127}, {2, 127, 10, 127, 117}, {3, 127, 10, 117, 127},
      {0, 5, 10, 0, 5},       {1, 250, 10, 255, 250}, {4, 127, 10, 0, 0},     {6, 127, 10, 0, 0},
  };
  for (const Case& c : cases) {
    Instrument().TriggerMode[1] = c.mode;
    Instrument().TriggerLevel[1] = c.level;
    Instrument().TriggerHysteresis[1] = c.hysteresis;
    Instrument().TriggerLevel[2] = 100;
    Instrument().TriggerHysteresis[2] = 20;
    Instrument().ComputeTriggerComparators();
    EXPECT_EQ(Instrument().ComparatorValues[1][0], c.a) << "mode " << int(c.mode) << " level " << c.level;
    EXPECT_EQ(Instrument().ComparatorValues[1][1], c.b) << "mode " << int(c.mode) << " level " << c.level;
    EXPECT_EQ(Instrument().ComparatorValues[3][0], c.a);
    EXPECT_EQ(Instrument().ComparatorValues[1][2], 0);
    EXPECT_EQ(Instrument().ComparatorValues[1][3], 0);
  }
  // Channel 2 uses its own level and hysteresis but the mode of channel 1.
  Instrument().TriggerMode[1] = 1;
  Instrument().ComputeTriggerComparators();
  EXPECT_EQ(Instrument().ComparatorValues[2][0], 120);
  EXPECT_EQ(Instrument().ComparatorValues[2][1], 100);
}

TEST_F(HardwareSequenceTest, TriggerProgrammingBySourceAndMode) {
  struct Case {
    const char* name;
    TTrigSource source;
    uint8_t m1, mx;
    long double timeOut;
    Writes expected;
  };
  // Comparator values for level 127 and hysteresis 10 (channel 2: 100 / 20).
  const std::vector<Case> cases = {
      {"ch1 falling",
       tsCh1,
       1,
       0,
       1.0L,
       {{11, 137}, {12, 127}, {13, 0}, {14, 0}, {10, 1}, {9, 1}, {15, 5}, {16, 2}, {25, 0}, {24, 0}}},
      {"ch1 level",
       tsCh1,
       3,
       0,
       1.0L,
       {{11, 117}, {12, 127}, {13, 0}, {14, 0}, {10, 1}, {9, 1}, {15, 4}, {16, 1}, {25, 0}, {24, 0}}},
      {"ch1 digital",
       tsCh1,
       5,
       0,
       1.0L,
       {{11, 0}, {12, 0}, {13, 0}, {14, 0}, {10, 4}, {9, 1}, {15, 0}, {16, 0}, {25, 0}, {24, 0x19}}},
      {"ch1 mode 11 special first",
       tsCh1,
       11,
       0,
       1.0L,
       {{17, 0x8C}, {11, 0}, {12, 0}, {13, 0}, {14, 0}, {10, 1}, {9, 1}, {15, 1}, {16, 0}, {25, 0}, {24, 0}}},
      {"ch1 mode bit 7 ignored",
       tsCh1,
       0x81,
       0,
       1.0L,
       {{11, 0}, {12, 0}, {13, 0}, {14, 0}, {10, 1}, {9, 1}, {15, 5}, {16, 2}, {25, 0}, {24, 0}}},
      {"ch1 time-out 0 free-runs",
       tsCh1,
       0,
       0,
       0.0L,
       {{11, 117}, {12, 127}, {13, 0}, {14, 0}, {10, 1}, {9, 3}, {15, 5}, {16, 1}, {25, 0}, {24, 0}}},
      {"ch2 level", tsCh2, 3, 0, 1.0L, {{22, 80}, {23, 100}, {10, 2}, {9, 1}, {15, 0}, {16, 0}, {25, 5}, {24, 0}}},
      {"ch2 digital", tsCh2, 6, 0, 1.0L, {{22, 0}, {23, 0}, {10, 4}, {9, 1}, {15, 0}, {16, 0}, {25, 0}, {24, 0x38}}},
      {"external rising", tsExternal, 0, 0, 1.0L, {{10, 4}, {9, 0}, {15, 0}, {16, 0}, {25, 0}, {24, 9}}},
      {"external falling", tsExternal, 0, 1, 1.0L, {{10, 4}, {9, 0}, {15, 0}, {16, 0}, {25, 0}, {24, 8}}},
      {"external other mode", tsExternal, 0, 2, 1.0L, {{10, 4}, {9, 0}, {15, 0}, {16, 0}, {25, 0}, {24, 0}}},
      {"and",
       tsAnd,
       0,
       0,
       1.0L,
       {{11, 117}, {12, 127}, {22, 80}, {23, 100}, {10, 3}, {9, 0}, {15, 5}, {16, 1}, {25, 1}, {24, 0}}},
      {"or level",
       tsOr,
       3,
       0,
       1.0L,
       {{11, 117}, {12, 127}, {22, 80}, {23, 100}, {10, 3}, {9, 1}, {15, 4}, {16, 1}, {25, 5}, {24, 0}}},
      {"xor",
       tsXor,
       1,
       0,
       1.0L,
       {{11, 137}, {12, 127}, {22, 120}, {23, 100}, {10, 3}, {9, 2}, {15, 5}, {16, 2}, {25, 2}, {24, 0}}},
      {"no trigger", tsNoTrig, 0, 0, 1.0L, {{10, 0}, {9, 3}, {15, 0}, {16, 0}, {25, 0}, {24, 0}}},
      {"channel 3 leaves shadows", tsCh3, 0, 0, 1.0L, {{10, 0}, {9, 0}, {15, 0}, {16, 0}, {25, 0}, {24, 0}}},
  };
  for (const Case& c : cases) {
    TRK350 fresh(nullptr);
    fresh.HardwarePresent = true;
    fresh.tsTriggerSource = c.source;
    fresh.TriggerMode[1] = c.m1;
    fresh.TriggerMode[0] = c.mx;
    fresh.TriggerLevel[2] = 100;
    fresh.TriggerHysteresis[2] = 20;
    fresh.rTrigTimeOut = c.timeOut;
    fresh.ComputeTriggerComparators();
    Recorder().Clear();
    Recorder().SetRecording(true);
    fresh.ProgramTrigger();
    Recorder().SetRecording(false);
    EXPECT_EQ(Recorder().RegisterTrace(), c.expected) << c.name;
  }
}

TEST_F(HardwareSequenceTest, ShadowBytesPersistAcrossCases) {
  Instrument().tsTriggerSource = tsExternal;
  Instrument().ProgramTrigger();
  // Channel 2 rising keeps the special code of the external case.
  Instrument().tsTriggerSource = tsCh2;
  Recorder().Clear();
  Recorder().SetRecording(true);
  Instrument().ProgramTrigger();
  Recorder().SetRecording(false);
  EXPECT_EQ(Recorder().RegisterWrites(24), std::vector<uint8_t>{9});
  EXPECT_EQ(Recorder().RegisterWrites(10), std::vector<uint8_t>{2});
}

TEST_F(HardwareSequenceTest, TriggerStatusMasksBySource) {
  struct Case {
    TTrigSource source;
    uint8_t status;
    uint32_t expected;
  };
  const Case cases[] = {
      {tsCh1, 0xC6, 0x02}, {tsCh2, 0xC6, 0x04}, {tsExternal, 0xC6, 0x06}, {tsAnd, 0x84, 0x04},
      {tsOr, 0xC2, 0x02},  {tsXor, 0xC6, 0x02}, {tsNoTrig, 0xC4, 0x00},
  };
  for (const Case& c : cases) {
    Instrument().tsTriggerSource = c.source;
    Recorder().SetReadHook([&](uint16_t port, int value) { return port == 0x28A ? c.status : value; });
    EXPECT_EQ(Instrument().TriggerStatus(), c.expected) << int(c.source);
  }
}

TEST_F(HardwareSequenceTest, CompletionAndAddressComeFromTheStatusAndCounterPorts) {
  Recorder().SetReadHook([](uint16_t port, int value) {
    if (port == 0x28A) return 0x40;
    if (port == 0x28B) return 0x12;
    if (port == 0x28C) return 0x34;
    return value;
  });
  EXPECT_TRUE(Instrument().RecordComplete());
  EXPECT_EQ(Instrument().ReadMemoryAddress(), 0x1234);
  Recorder().SetReadHook([](uint16_t port, int value) { return port == 0x28A ? 0x80 : value; });
  EXPECT_FALSE(Instrument().RecordComplete());
}

TEST_F(HardwareSequenceTest, ForceTriggerWritesTriggerControlThree) {
  EXPECT_EQ(Trace(&TRK350::ForceTrigger), (Writes{{9, 3}}));
}

TEST_F(HardwareSequenceTest, AddressAdvanceRunsTheFastClockAndReturnsToIdle) {
  Recorder().Clear();
  Recorder().SetRecording(true);
  Instrument().AdvanceMemoryAddress(0);
  Recorder().SetRecording(false);
  const Writes expected = {{26, 1},    {27, 0},   {8, 6},    {5, 0x0F},  {9, 3},
                           {29, 0xA1}, {4, 0x56}, {4, 0x00}, {29, 0xA3}, {29, 0x01}};
  EXPECT_EQ(Recorder().RegisterTrace(), expected);
  EXPECT_EQ(Card().Acquisition().Address(), 3);  // count 1 plus the run's overshoot of 2
}

TEST_F(HardwareSequenceTest, AddressAdvanceGivesUpOnACardThatNeverFinishes) {
  Card().SetFault(card::VirtualCard::Fault::kStatusStuck);
  Instrument().AdvanceMemoryAddress(100);  // returns after its 10 ms bound
  EXPECT_EQ(Card().Register(29), 0x01);
}

TEST_F(HardwareSequenceTest, NoPortAccessMeansNoTriggerAndACompleteRecord) {
  Instrument().PortAccessEnabled = false;
  Recorder().Clear();
  Recorder().SetRecording(true);
  EXPECT_EQ(Instrument().TriggerStatus(), 0u);
  EXPECT_TRUE(Instrument().RecordComplete());
  Instrument().ArmMeasurement();
  EXPECT_EQ(Recorder().Count(), 0u);
}

}  // namespace
}  // namespace rk350::testing
