// The front end's serial traffic: the exact register writes of a DAC word
// and of a relay byte, the sequence of one ApplyFrontEnd, and the offset
// arithmetic behind the DAC codes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "input_test_support.h"
#include "instrument/front_end_calibration.h"

namespace rk350 {
namespace {

using testing::CalibratedInstrument;

std::string Join(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& l : lines) text += l + "\n";
  return text;
}

TEST_F(CalibratedInstrument, DacWordShiftsElevenBitsUnderItsSelect) {
  // Path 2, address 5, value 0x88: 101 1000 1000.
  In().ShiftDacWord(2, 0x588);
  EXPECT_EQ(bus.Recorder().Text(),
            "reg 1 = 0x00\n"
            "reg 0 = 0x66\n"
            "reg 1 = 0x10\nreg 1 = 0x30\n"  // bit 10 = 1
            "reg 1 = 0x00\nreg 1 = 0x20\n"  // bit 9 = 0
            "reg 1 = 0x10\nreg 1 = 0x30\n"  // bit 8 = 1
            "reg 1 = 0x10\nreg 1 = 0x30\n"  // bit 7 = 1
            "reg 1 = 0x00\nreg 1 = 0x20\n"
            "reg 1 = 0x00\nreg 1 = 0x20\n"
            "reg 1 = 0x00\nreg 1 = 0x20\n"
            "reg 1 = 0x10\nreg 1 = 0x30\n"  // bit 3 = 1
            "reg 1 = 0x00\nreg 1 = 0x20\n"
            "reg 1 = 0x00\nreg 1 = 0x20\n"
            "reg 1 = 0x00\nreg 1 = 0x20\n"  // bit 0 = 0
            "reg 1 = 0x00\n"                // clock low
            "reg 0 = 0x76\n");
}

TEST_F(CalibratedInstrument, AnyPathButTwoSelectsTheDacOfPathOne) {
  In().ShiftDacWord(7, 0x000);
  EXPECT_EQ(bus.Recorder().RegisterWrites(0), (std::vector<uint8_t>{0x74, 0x76}));
}

TEST_F(CalibratedInstrument, RelayByteEndsWithClockHighAndOneStrobe) {
  In().ShiftFrontEndByte(0x55, regs::kStrobeLatchPath2);
  EXPECT_EQ(bus.Recorder().Text(),
            "reg 0 = 0x76\n"
            "reg 1 = 0x00\nreg 1 = 0x20\n"
            "reg 1 = 0x10\nreg 1 = 0x30\n"
            "reg 1 = 0x00\nreg 1 = 0x20\n"
            "reg 1 = 0x10\nreg 1 = 0x30\n"
            "reg 1 = 0x00\nreg 1 = 0x20\n"
            "reg 1 = 0x10\nreg 1 = 0x30\n"
            "reg 1 = 0x00\nreg 1 = 0x20\n"
            "reg 1 = 0x10\nreg 1 = 0x30\n"
            "reg 0 = 0x7E\n"
            "reg 0 = 0x76\n");
}

// Reads register traffic back as front-end transactions, one line each:
// "dac P A = 0xVV" or "relay P = 0xVV". Fails on any write that does not fit
// the two framings exactly.
std::vector<std::string> Transactions(const std::vector<std::pair<uint8_t, uint8_t>>& trace) {
  std::vector<std::string> out;
  size_t i = 0;
  const auto at = [&](size_t k) { return k < trace.size() ? trace[k] : std::pair<uint8_t, uint8_t>{0xFF, 0xFF}; };
  char line[48];
  while (i < trace.size()) {
    if (at(i) == std::pair<uint8_t, uint8_t>{1, 0x00} && at(i + 1).first == 0 &&
        (at(i + 1).second == 0x74 || at(i + 1).second == 0x66)) {
      const int path = at(i + 1).second == 0x74 ? 1 : 2;
      unsigned word = 0;
      uint8_t last = 0;
      for (int b = 0; b < 11; ++b) {
        const auto lo = at(i + 2 + 2 * b), hi = at(i + 3 + 2 * b);
        EXPECT_EQ(lo.first, 1);
        EXPECT_EQ(hi.first, 1);
        EXPECT_TRUE(lo.second == 0x00 || lo.second == 0x10);
        EXPECT_EQ(hi.second, lo.second | 0x20);
        word = word << 1 | (lo.second == 0x10 ? 1u : 0u);
        last = lo.second;
      }
      EXPECT_EQ(at(i + 24), (std::pair<uint8_t, uint8_t>{1, last}));
      EXPECT_EQ(at(i + 25), (std::pair<uint8_t, uint8_t>{0, 0x76}));
      std::snprintf(line, sizeof line, "dac %d %u = 0x%02X", path, word >> 8, word & 0xFF);
      out.emplace_back(line);
      i += 26;
    } else if (at(i) == std::pair<uint8_t, uint8_t>{0, 0x76}) {
      unsigned value = 0;
      for (int b = 0; b < 8; ++b) {
        const auto lo = at(i + 1 + 2 * b), hi = at(i + 2 + 2 * b);
        EXPECT_EQ(lo.first, 1);
        EXPECT_TRUE(lo.second == 0x00 || lo.second == 0x10);
        EXPECT_EQ(hi, (std::pair<uint8_t, uint8_t>{1, static_cast<uint8_t>(lo.second | 0x20)}));
        value = value << 1 | (lo.second == 0x10 ? 1u : 0u);
      }
      const auto strobe = at(i + 17);
      EXPECT_TRUE(strobe == (std::pair<uint8_t, uint8_t>{0, 0x77}) || strobe == (std::pair<uint8_t, uint8_t>{0, 0x7E}));
      EXPECT_EQ(at(i + 18), (std::pair<uint8_t, uint8_t>{0, 0x76}));
      std::snprintf(line, sizeof line, "relay %d = 0x%02X", strobe.second == 0x77 ? 1 : 2, value);
      out.emplace_back(line);
      i += 19;
    } else {
      ADD_FAILURE() << "unexpected write reg " << int(at(i).first) << " = " << int(at(i).second) << " at " << i;
      break;
    }
  }
  return out;
}

TEST_F(CalibratedInstrument, ApplyFrontEndWritesOffsetTrimAndRelayOfPathOneThenTwo) {
  // Channel 1: 2 V range (record: gain 1003, zero 12812, trim 131), DC,
  // +0.5 V. T = 12812 - 4 * 1003 * 0.5 / 2 = 11809: 118 coarse steps of 100,
  // fine (11809 + 10 - 11800) * 256 / 120 = 40.53 -> 41.
  // Channel 2: 0.8 V range (record: gain 999, zero 12796, trim 127), AC,
  // 0 V. T = 12796: 127 steps, fine 106 * 256 / 120 = 226.13 -> 226.
  In().SetChSensitivity(1, 2.0L);
  In().SetChDcLevel(1, 0.5L);
  In().SetChCoupling(2, 1);
  bus.Recorder().Clear();
  In().ApplyFrontEnd();
  EXPECT_EQ(Join(Transactions(bus.Recorder().RegisterTrace())),
            "dac 1 5 = 0x88\n"  // 254 - 118
            "dac 1 1 = 0x75\n"  // 118 - 1
            "dac 1 4 = 0xD6\n"  // 255 - 41
            "dac 1 0 = 0x7C\n"  // 255 - 131
            "dac 1 2 = 0x83\n"  // 131
            "relay 1 = 0x54\n"
            "dac 2 5 = 0x7F\n"  // 254 - 127
            "dac 2 1 = 0x7E\n"  // 127 - 1
            "dac 2 4 = 0x1D\n"  // 255 - 226
            "dac 2 0 = 0x80\n"  // 255 - 127
            "dac 2 2 = 0x7F\n"  // 127
            "relay 2 = 0x83\n");
  EXPECT_EQ(bus.Recorder().RegisterTrace().size(), 2u * (5 * 26 + 19));
}

TEST_F(CalibratedInstrument, InterleavedBothChannelsWritesOnlyTheRelays) {
  In().InterleaveCapable = true;
  In().mMeasureMode = mCh12;
  In().Interleaved = true;
  bus.Recorder().Clear();
  In().ApplyFrontEnd();
  EXPECT_EQ(Join(Transactions(bus.Recorder().RegisterTrace())), "relay 1 = 0x82\nrelay 2 = 0x82\n");
}

TEST_F(CalibratedInstrument, InterleavedChannelOneRoutesPathTwoWithItsInterleaveCalibration) {
  In().InterleaveCapable = true;
  In().mMeasureMode = mCh1;
  In().SetrSampleFreq(100e6L);
  In().SetChSensitivity(1, 2.0L);
  In().SetChSensitivity(2, 20.0L);
  In().SetChDcLevel(2, 3.0L);  // channel 2's level plays no part
  bus.Recorder().Clear();
  In().ApplyFrontEnd();
  const auto t = Transactions(bus.Recorder().RegisterTrace());
  ASSERT_EQ(t.size(), 12u);
  // Path 2 digitises channel 1 at its 0 V level, with channel 1's steps at
  // range 7 (100, fine span 120) but channel 2's interleave zero (12820) and
  // interleave trim (133) at range 7: T = 12820, 128 steps, fine
  // 30 * 256 / 120 = 64.
  EXPECT_EQ(t[6], "dac 2 5 = 0x7E");
  EXPECT_EQ(t[7], "dac 2 1 = 0x7F");
  EXPECT_EQ(t[8], "dac 2 4 = 0xBF");
  EXPECT_EQ(t[9], "dac 2 0 = 0x7A");
  EXPECT_EQ(t[10], "dac 2 2 = 0x85");
  EXPECT_EQ(t[11], "relay 2 = 0x78");  // its own 20 V range plus the interleave bit
  EXPECT_EQ(t[5], "relay 1 = 0x54");
}

TEST_F(CalibratedInstrument, InterleavedChannelTwoSetsTheInterleaveBitOnPathOne) {
  In().InterleaveCapable = true;
  In().mMeasureMode = mCh2;
  In().Interleaved = true;
  In().ApplyFrontEnd();
  const auto t = Transactions(bus.Recorder().RegisterTrace());
  ASSERT_EQ(t.size(), 12u);
  EXPECT_EQ(t[5], "relay 1 = 0xA2");
  EXPECT_EQ(t[11], "relay 2 = 0x82");
}

TEST(FrontEndRouting, RowsOfTheRoutingTable) {
  using front_end::RoutePath;
  struct Row {
    bool interleaved;
    TMeasureMode mode;
    int path;
    bool writeDacs;
    int source;
    bool crossed;
  };
  const Row rows[] = {
      {false, mCh12, 1, true, 1, false}, {false, mCh12, 2, true, 2, false}, {false, mCh1, 2, true, 2, false},
      {true, mCh1, 1, true, 1, false},   {true, mCh1, 2, true, 1, true},    {true, mCh2, 1, true, 2, true},
      {true, mCh2, 2, true, 2, false},   {true, mCh12, 1, false, 1, false}, {true, mXY, 2, false, 2, false},
  };
  for (const auto& row : rows) {
    const auto r = RoutePath(row.interleaved, row.mode, row.path);
    EXPECT_EQ(r.writeDacs, row.writeDacs) << row.interleaved << " " << int(row.mode) << " " << row.path;
    if (!row.writeDacs) continue;
    EXPECT_EQ(r.source, row.source);
    EXPECT_EQ(r.crossed, row.crossed);
  }
}

TEST(FrontEndOffset, CoarseStepsAccumulateAndFineRoundsHalfToEven) {
  const front_end::OffsetCalibration cal{1000, 10000, 6400};  // steps of 100, fine span 128
  // T = 1000: the 10th accumulated step (1000) does not exceed T, the 11th
  // does: 10 steps; fine = (1000 + 10 - 1000) * 256 / 128 = 20.
  auto c = front_end::ComputeOffsetCodes(-0.25L, 1.0L, 0.0L, cal);
  EXPECT_EQ(c.coarse, 10);
  EXPECT_EQ(c.fine, 20);
  // fine = 0.25 * 2 = 0.5 -> 0 (half to even); T = 0.25 - 10 + ... use zero.
  c = front_end::ComputeOffsetCodes(0.0L, 1.0L, -9.75L, cal);
  EXPECT_EQ(c.coarse, 0);
  EXPECT_EQ(c.fine, 0);
  c = front_end::ComputeOffsetCodes(0.0L, 1.0L, -9.25L, cal);  // 0.75 * 2 = 1.5 -> 2
  EXPECT_EQ(c.fine, 2);
}

TEST(FrontEndOffset, CoarseStepsStopAt254) {
  const front_end::OffsetCalibration cal{1000, 100, 6400};  // steps of 1
  EXPECT_EQ(front_end::ComputeOffsetCodes(0.0L, 1.0L, 1000.0L, cal).coarse, 254);
  EXPECT_EQ(front_end::ComputeOffsetCodes(0.0L, 1.0L, 0.5L, cal).coarse, 0);
}

TEST(FrontEndOffset, ErasedStepOrSpanGivesMidScaleCodes) {
  for (const auto& cal : {front_end::OffsetCalibration{1000, 0, 6000}, front_end::OffsetCalibration{1000, 10000, 0}}) {
    const auto c = front_end::ComputeOffsetCodes(0.3L, 0.8L, 12800.0L, cal);
    EXPECT_EQ(c.coarse, front_end::kMidScaleOffset.coarse);
    EXPECT_EQ(c.fine, front_end::kMidScaleOffset.fine);
  }
}

TEST_F(CalibratedInstrument, OffsetDacsLimitTheirCodes) {
  In().WriteOffsetDacs(1, -40, 0);
  In().WriteOffsetDacs(1, 300, 999);
  EXPECT_EQ(Join(Transactions(bus.Recorder().RegisterTrace())),
            "dac 1 5 = 0xFD\n"  // coarse 0 written as 1
            "dac 1 1 = 0x00\n"
            "dac 1 4 = 0xFF\n"  // fine below 0 written as 0
            "dac 1 5 = 0x00\n"  // coarse limited to 254
            "dac 1 1 = 0xFD\n"
            "dac 1 4 = 0x00\n");  // fine above 255 written as 255
}

TEST_F(CalibratedInstrument, TrimDacsLimitTheirValue) {
  In().WriteTrimDacs(2, 300);
  In().WriteTrimDacs(2, -1);
  EXPECT_EQ(Join(Transactions(bus.Recorder().RegisterTrace())),
            "dac 2 0 = 0x00\ndac 2 2 = 0xFF\ndac 2 0 = 0xFF\ndac 2 2 = 0x00\n");
}

TEST_F(CalibratedInstrument, ErasedCalibrationStillProgramsEveryDac) {
  for (int ch = 1; ch <= 2; ++ch) {
    for (int r = 1; r <= 12; ++r) In().DcScale[ch][r] = In().DcStep[ch][r] = 0;
  }
  In().SetChDcLevel(1, 1.0L);
  bus.Recorder().Clear();
  In().ApplyFrontEnd();
  const auto t = Transactions(bus.Recorder().RegisterTrace());
  ASSERT_EQ(t.size(), 12u);
  EXPECT_EQ(t[0], "dac 1 5 = 0x7F");
  EXPECT_EQ(t[1], "dac 1 1 = 0x7E");
  EXPECT_EQ(t[2], "dac 1 4 = 0x7F");
}

TEST_F(CalibratedInstrument, NoPortAccessStillStoresButWritesNothing) {
  In().PortAccessEnabled = false;
  In().SetChSensitivity(1, 8.0L);
  In().ApplyFrontEnd();
  EXPECT_EQ(In().RangeIndex[1], 9);
  EXPECT_EQ(bus.Recorder().Count(), 0u);
}

}  // namespace
}  // namespace rk350
