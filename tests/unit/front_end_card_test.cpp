// Round trip against the virtual card: what ApplyFrontEnd shifts out, the
// card decodes back into range, coupling, routing and input offset.
#include <gtest/gtest.h>

#include <cmath>

#include "card/front_end_model.h"
#include "input_test_support.h"

namespace rk350 {
namespace {

using testing::CalibratedInstrument;
namespace L = card::eeprom_layout;

// One fine-DAC step in volts for a channel record at full scale s.
double FineStepVolts(int channel, int range, double s, const card::EepromImage& image = card::EepromImage::Default()) {
  const uint16_t rec = L::ChannelRecord(channel, range);
  const double span = image.Word(rec + L::kRecDcScale) / 50.0;
  const double gain = image.Word(rec + L::kRecDcGain);
  return span / 256.0 * s / (4.0 * gain);
}

TEST_F(CalibratedInstrument, EveryRangeCouplingAndLevelComesBackFromTheCard) {
  const long double fractions[] = {-2.0L, -1.37L, -0.5L, -0.013L, 0.0L, 0.25L, 0.999L, 1.7L, 2.0L};
  for (int n = 1; n <= In().SensitivityCount; ++n) {
    const long double s = In().GetAvailableSensitivity(n);
    for (uint8_t coupling = 0; coupling <= 1; ++coupling) {
      for (long double f : fractions) {
        // Channel 2 runs a different level and the other coupling, so that a
        // crossed path would show.
        In().SetChSensitivity(1, s);
        In().SetChSensitivity(2, s);
        In().SetChCoupling(1, coupling);
        In().SetChCoupling(2, static_cast<uint8_t>(1 - coupling));
        In().SetChDcLevel(1, f * s);
        In().SetChDcLevel(2, -f * s / 2);
        In().ApplyFrontEnd();
        const int range = In().RangeIndex[1];
        for (int path = 1; path <= 2; ++path) {
          const auto state = bus.Card().FrontEnd().Path(path);
          const double level = static_cast<double>(In().DcLevel[path]);
          SCOPED_TRACE(::testing::Message()
                       << "range " << range << " coupling " << int(coupling) << " level " << level << " path " << path);
          EXPECT_EQ(state.fullScaleVolts, static_cast<double>(s));
          EXPECT_EQ(state.acCoupled, In().Coupling[path] == 1);
          EXPECT_EQ(state.inputChannel, path);
          EXPECT_NEAR(state.offsetVolts, level, FineStepVolts(path, range, static_cast<double>(s)));
        }
      }
    }
  }
  EXPECT_EQ(bus.Card().FrontEnd().Registers(1).framingErrors, 0u);
  EXPECT_EQ(bus.Card().FrontEnd().Registers(2).framingErrors, 0u);
}

TEST(FrontEndCalibration, CardDecodesWithItsOwnEepromCalibration) {
  // A card with other gains, zeros and step sizes than the default image:
  // the round trip holds because the library reads what the card decodes
  // with.
  testing::RecordedBus bus;
  auto& image = bus.Card().Eeprom().Memory().Image();
  for (int ch = 1; ch <= 2; ++ch) {
    for (int r = 1; r <= 12; ++r) {
      const uint16_t rec = L::ChannelRecord(ch, r);
      image.SetWord(rec + L::kRecDcGain, static_cast<uint16_t>(700 + 37 * r + ch));
      image.SetWord(rec + L::kRecDcZero, static_cast<uint16_t>(9000 + 11 * r));
      image.SetWord(rec + L::kRecDcStep, 7321);
      image.SetWord(rec + L::kRecDcScale, 4444);
      image.SetByte(rec + L::kRecOffsetTrim, static_cast<uint8_t>(100 + r));
    }
  }
  TRK350 in(nullptr);
  in.ReadCalibration();
  for (long double s : {0.1L, 2.0L, 80.0L}) {
    in.SetChSensitivity(2, s);
    for (long double f : {-1.9L, 0.0L, 0.6L, 1.9L}) {
      in.SetChDcLevel(2, f * s);
      in.ApplyFrontEnd();
      const auto state = bus.Card().FrontEnd().Path(2);
      EXPECT_NEAR(state.offsetVolts, static_cast<double>(f * s),
                  FineStepVolts(2, in.RangeIndex[2], static_cast<double>(s), image))
          << static_cast<double>(s) << " " << static_cast<double>(f);
    }
  }
}

TEST_F(CalibratedInstrument, InterleavedChannelOnePutsPathTwoOnInputOne) {
  In().InterleaveCapable = true;
  In().mMeasureMode = mCh1;
  In().SetrSampleFreq(100e6L);
  In().SetChSensitivity(1, 4.0L);
  In().SetChCoupling(1, 1);
  In().SetChDcLevel(1, -3.0L);
  In().SetChSensitivity(2, 0.2L);
  In().SetChDcLevel(2, 0.1L);
  In().ApplyFrontEnd();
  for (int path = 1; path <= 2; ++path) {
    const auto state = bus.Card().FrontEnd().Path(path);
    SCOPED_TRACE(path);
    EXPECT_EQ(state.inputChannel, 1);
    EXPECT_EQ(state.fullScaleVolts, 4.0);
    EXPECT_TRUE(state.acCoupled);
    EXPECT_NEAR(state.offsetVolts, -3.0, FineStepVolts(1, 8, 4.0));
  }
}

TEST_F(CalibratedInstrument, InterleavedChannelTwoPutsPathOneOnInputTwo) {
  In().InterleaveCapable = true;
  // The routing row of channel 2 interleaved; the rate setter never selects
  // it (only channel 1 alone interleaves), so it is set directly.
  In().mMeasureMode = mCh2;
  In().Interleaved = true;
  In().SetChSensitivity(2, 40.0L);
  In().SetChDcLevel(2, 55.0L);
  In().SetChDcLevel(1, 0.3L);
  In().ApplyFrontEnd();
  for (int path = 1; path <= 2; ++path) {
    const auto state = bus.Card().FrontEnd().Path(path);
    SCOPED_TRACE(path);
    EXPECT_EQ(state.inputChannel, 2);
    EXPECT_EQ(state.fullScaleVolts, 40.0);
    EXPECT_FALSE(state.acCoupled);
    EXPECT_NEAR(state.offsetVolts, 55.0, FineStepVolts(2, 11, 40.0));
  }
}

TEST_F(CalibratedInstrument, CardSeesAWrongTrimAsAnOffset) {
  In().ApplyFrontEnd();
  const double before = bus.Card().FrontEnd().Path(1).offsetVolts;
  In().WriteTrimDacs(1, In().OffsetTrim[1][6] + 8);  // eight counts: one converter step
  EXPECT_NEAR(bus.Card().FrontEnd().Path(1).offsetVolts - before, 0.8 / 128, 1e-12);
}

// The card's own decoding, driven by raw register writes.
class FrontEndModelTest : public ::testing::Test {
 protected:
  void Write(uint8_t index, uint8_t value) { model.OnRegisterWrite(index, value); }
  void Word(uint8_t select, uint16_t word, int bits = 11) {
    Write(1, 0);
    Write(0, select);
    for (int b = bits - 1; b >= 0; --b) {
      const uint8_t d = (word >> b) & 1 ? 0x10 : 0;
      Write(1, d);
      Write(1, d | 0x20);
    }
    Write(1, 0);
    Write(0, 0x76);
  }
  card::FrontEndModel model;
};

TEST_F(FrontEndModelTest, PowersUpAtTheDefaultRangeWithoutOffset) {
  for (int path = 1; path <= 2; ++path) {
    const auto s = model.Path(path);
    EXPECT_EQ(s.fullScaleVolts, 0.8);
    EXPECT_FALSE(s.acCoupled);
    EXPECT_EQ(s.inputChannel, path);
    EXPECT_EQ(s.offsetVolts, 0.0);
  }
}

TEST_F(FrontEndModelTest, TakesOnlyWordsOfElevenBits) {
  Word(0x74, 0x4AB, 10);
  Word(0x74, 0x4AB, 12);
  EXPECT_EQ(model.Registers(1).framingErrors, 2u);
  EXPECT_FALSE(model.Registers(1).dacWritten[4]);
  Word(0x74, 0x4AB);
  EXPECT_EQ(model.Registers(1).dac[4], 0xAB);
  EXPECT_EQ(model.Registers(1).wordsReceived, 1u);
  EXPECT_FALSE(model.Registers(2).dacWritten[4]);  // path 2 was not selected
}

TEST_F(FrontEndModelTest, GeneratorTrafficOnRegisterZeroLeavesTheFrontEndAlone) {
  Word(0x66, 0x1C3);
  // The generator's serial DAC uses bits 0x80, 0x40, 0x20 of register 0.
  for (uint8_t v : {0x00, 0x20, 0x80, 0xA0, 0x40, 0x00}) Write(0, v);
  Write(0, 0x76);
  EXPECT_EQ(model.Registers(2).dac[1], 0xC3);
  EXPECT_EQ(model.Registers(2).framingErrors, 0u);
  EXPECT_EQ(model.Registers(1).relayLatch, card::FrontEndModel::kPowerOnRelay);
}

TEST_F(FrontEndModelTest, TraceListsEveryLineChangeAsVcd) {
  model.StartTrace();
  Write(1, 0x00);  // no change: no entry
  Write(0, 0x74);  // cs2 high, cs1 low
  Write(1, 0x10);
  Write(1, 0x30);
  Write(0, 0x77);  // cs1 high, latch1 high
  model.StopTrace();
  Write(1, 0x00);  // after the trace
  const std::string vcd = model.Trace().Vcd();
  const std::string body = vcd.substr(vcd.find("$enddefinitions $end\n") + 21);
  EXPECT_EQ(body, "#0\n0!\n0\"\n0#\n0$\n0%\n0&\n#2\n1$\n#3\n1\"\n#4\n1!\n#5\n1#\n1%\n#6\n");
  EXPECT_NE(vcd.find("$var wire 1 ! clk $end"), std::string::npos);
  EXPECT_NE(vcd.find("$var wire 1 & latch2 $end"), std::string::npos);
}

TEST_F(FrontEndModelTest, RelayRangesOfTheCard) {
  const struct {
    uint8_t relay;
    double fullScale;
  } rows[] = {{0x42, 0.1}, {0x52, 0.2}, {0x12, 0.4}, {0x82, 0.8}, {0x54, 2},  {0x14, 4}, {0x84, 8},
              {0x58, 20},  {0x18, 40},  {0x88, 80},  {0x55, 2},   {0x79, 20}, {0x00, 0}, {0x44, 0}};
  for (const auto& row : rows) {
    EXPECT_EQ(card::FrontEndModel::FullScaleOfRange(card::FrontEndModel::RangeOfRelay(row.relay)), row.fullScale)
        << int(row.relay);
  }
}

}  // namespace
}  // namespace rk350
