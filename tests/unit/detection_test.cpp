// Detection, identity, calibration date and calibration read-out against the
// virtual card's EEPROM.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "hardware/eeprom_layout.h"
#include "hardware/register_map.h"
#include "support/eeprom_traffic.h"
#include "support/recorded_instrument.h"

namespace rk350 {
namespace {

using testing::EepromAddressesRead;
using testing::MessageBoxCapture;
using testing::RecordedBus;
namespace layout = eeprom_layout;

class Detection : public ::testing::Test {
 protected:
  void SetUp() override { bus.Recorder().Clear(); }
  card::EepromImage& Image() { return bus.Card().Eeprom().Memory().Image(); }
  void Use(card::EepromVariant variant) { bus.Card().Eeprom().SetVariant(variant); }

  RecordedBus bus;
  TRK350 instrument{nullptr};
};

TEST_F(Detection, OutcomeOfEveryEepromVariant) {
  struct Case {
    card::EepromVariant variant;
    bool found;
    uint8_t kind;
    const char* name;
    bool generator;
  };
  const Case cases[] = {
      {card::EepromVariant::kDefault, true, 5, "RK350 ISA", true},
      {card::EepromVariant::kBlank, false, 5, "RK350 ISA", false},  // signature 0xFF: nothing is touched
      {card::EepromVariant::kNoAnswer, false, 5, "RK350 ISA", false},
      {card::EepromVariant::kWrongModel, false, 0, "", true},
      {card::EepromVariant::kInvalidDate, true, 5, "RK350 ISA", true},
      {card::EepromVariant::kNoGenerator, true, 5, "RK350 ISA", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(card::EepromVariantName(c.variant));
    Use(c.variant);
    TRK350 fresh(nullptr);
    EXPECT_EQ(fresh.DetectCard(), c.found);
    EXPECT_EQ(fresh.HardwarePresent, c.found);
    EXPECT_EQ(fresh.InstrumentKind, c.kind);
    EXPECT_EQ(fresh.DeviceName, c.name);
    EXPECT_EQ(fresh.FuncGenPresent, c.generator);
    EXPECT_EQ(fresh.InterleaveCapable, c.found);
    EXPECT_FALSE(fresh.HasAnalogExternalTrigger);
  }
}

// The identity reader on the port seam reads as detection does, access for
// access, through the pair it is given and without installing it; a pair
// without functions finds no card.
TEST_F(Detection, PortSeamReaderReadsAsDetectionDoes) {
  for (int v = 0; v < card::kEepromVariantCount; ++v) {
    const auto variant = static_cast<card::EepromVariant>(v);
    SCOPED_TRACE(card::EepromVariantName(variant));
    Use(variant);
    TRK350 fresh(nullptr);
    bus.Recorder().Clear();
    const bool found = fresh.DetectCard();
    const CalibrationDateTime date = fresh.ReadCalibrationDate();
    const std::vector<std::string> instrumentTraffic = bus.Lines();

    bus.Recorder().Clear();
    const hw::PortPair pair = hw::ActivePortPair();
    const CardIdentity id = ReadCardIdentity(pair, 0x288);
    const CalibrationDateTime seamDate = ReadCardCalibrationDate(pair, 0x288);
    EXPECT_EQ(bus.Lines(), instrumentTraffic);
    EXPECT_EQ(hw::ActivePortPair().context, pair.context);
    EXPECT_EQ(id.rk350, found);
    if (found) {
      EXPECT_EQ(id.serial, fresh.SerialNumber);
      EXPECT_EQ(id.generator, fresh.FuncGenPresent);
    }
    EXPECT_EQ(std::vector<int>({seamDate.year, seamDate.month, seamDate.day, seamDate.hour, seamDate.minute}),
              std::vector<int>({date.year, date.month, date.day, date.hour, date.minute}));
  }
  bus.Recorder().Clear();
  EXPECT_FALSE(ReadCardIdentity(hw::PortPair{}, 0x288).answered);
  EXPECT_EQ(ReadCardCalibrationDate(hw::PortPair{}, 0x288).year, 1980);
  EXPECT_TRUE(bus.Lines().empty());
}

TEST_F(Detection, ReadsIdentityBytesInOrder) {
  Image().SetByte(6, 0x34);
  Image().SetByte(7, 0x12);
  ASSERT_TRUE(instrument.DetectCard());
  EXPECT_EQ(instrument.SerialNumber, 0x1234);
  EXPECT_EQ(instrument.DeviceName, "RK350 ISA");
  EXPECT_EQ(EepromAddressesRead(bus.Recorder()), (std::vector<uint16_t>{1, 5, 6, 7, 8}));
}

TEST_F(Detection, WrongModelReadsNoFurther) {
  Image().SetByte(5, 0x51);
  instrument.SerialNumber = 77;
  EXPECT_FALSE(instrument.DetectCard());
  EXPECT_EQ(instrument.SerialNumber, 77);
  EXPECT_EQ(EepromAddressesRead(bus.Recorder()), (std::vector<uint16_t>{1, 5}));
}

TEST_F(Detection, GeneratorFittingByte) {
  for (const uint8_t fitting : {0, 1, 0x80, 0xFF}) {
    Image().SetByte(8, fitting);
    TRK350 fresh(nullptr);
    ASSERT_TRUE(fresh.DetectCard());
    EXPECT_EQ(fresh.FuncGenPresent, fitting == 0) << int{fitting};
  }
}

TEST_F(Detection, CalibrationDateFromItsSixBytes) {
  const uint8_t date[] = {0xD3, 0x07, 5, 17, 14, 30};
  for (int i = 0; i < 6; ++i) Image().SetByte(static_cast<uint16_t>(10 + i), date[i]);
  const CalibrationDateTime t = instrument.ReadCalibrationDate();
  EXPECT_EQ(t.year, 2003);
  EXPECT_EQ(t.month, 5);
  EXPECT_EQ(t.day, 17);
  EXPECT_EQ(t.hour, 14);
  EXPECT_EQ(t.minute, 30);
  EXPECT_EQ(EepromAddressesRead(bus.Recorder()), (std::vector<uint16_t>{10, 11, 12, 13, 14, 15}));
}

TEST_F(Detection, InvalidCalibrationDatesFallBackTo1980) {
  struct Case {
    int year, month, day, hour, minute;
    bool valid;
  };
  const Case cases[] = {
      {2003, 5, 17, 14, 30, true},       {2003, 13, 17, 14, 30, false}, {2003, 0, 17, 14, 30, false},
      {2003, 5, 0, 14, 30, false},       {2003, 4, 31, 0, 0, false},    {2003, 12, 31, 23, 59, true},
      {2003, 2, 29, 0, 0, false},        {2004, 2, 29, 0, 0, true},     {1900, 2, 29, 0, 0, false},
      {2000, 2, 29, 0, 0, true},         {2003, 5, 17, 24, 0, false},   {2003, 5, 17, 0, 60, false},
      {0, 5, 17, 0, 0, false},           {1, 1, 1, 0, 0, true},         {65535, 12, 31, 23, 59, true},
      {2003, 255, 255, 255, 255, false},
  };
  for (const Case& c : cases) {
    Image().SetByte(10, static_cast<uint8_t>(c.year & 0xFF));
    Image().SetByte(11, static_cast<uint8_t>(c.year >> 8));
    Image().SetByte(12, static_cast<uint8_t>(c.month));
    Image().SetByte(13, static_cast<uint8_t>(c.day));
    Image().SetByte(14, static_cast<uint8_t>(c.hour));
    Image().SetByte(15, static_cast<uint8_t>(c.minute));
    const CalibrationDateTime t = instrument.ReadCalibrationDate();
    const CalibrationDateTime expected =
        c.valid ? CalibrationDateTime{c.year, c.month, c.day, c.hour, c.minute} : CalibrationDateTime{1980, 1, 1, 0, 0};
    EXPECT_EQ((std::vector<int>{t.year, t.month, t.day, t.hour, t.minute}),
              (std::vector<int>{expected.year, expected.month, expected.day, expected.hour, expected.minute}))
        << c.year << "-" << c.month << "-" << c.day << " " << c.hour << ":" << c.minute;
  }
}

// The addresses the calibration read asks for field by field, in the card's
// order.
std::vector<uint16_t> CalibrationReadOrder() {
  std::vector<uint16_t> order;
  auto word = [&](int address) {
    order.push_back(static_cast<uint16_t>(address));
    order.push_back(static_cast<uint16_t>(address + 1));
  };
  for (int base : {20, 176}) {
    for (int r = 0; r < 12; ++r) {
      const int rec = base + 12 * r;
      order.push_back(static_cast<uint16_t>(rec));
      order.push_back(static_cast<uint16_t>(rec + 1));
      for (int w = 2; w <= 10; w += 2) word(rec + w);
    }
  }
  for (int entry = 1; entry <= 15; ++entry) {
    for (int row = 0; row <= 6; ++row) {
      word(332 + 30 * row + 2 * (entry - 1));
      word(542 + 30 * row + 2 * (entry - 1));
    }
  }
  for (int address : {758, 752, 760, 754, 762, 756, 764}) word(address);
  return order;
}

// The bytes the field by field reads take, as three stretches in address
// order: the channel 1 records, the channel 2 records, the generator's part.
std::vector<uint16_t> CalibrationStretches() {
  std::vector<uint16_t> addresses;
  for (const auto& [first, end] : {std::pair{20, 164}, std::pair{176, 320}, std::pair{332, 766}}) {
    for (int a = first; a < end; ++a) addresses.push_back(static_cast<uint16_t>(a));
  }
  return addresses;
}

// The calibration is read as three sequential reads: every byte the card's
// field by field order reads, each once, and nothing else.
TEST_F(Detection, CalibrationIsReadAsThreeSequentialStretches) {
  instrument.ReadCalibration();
  const std::vector<uint16_t> read = EepromAddressesRead(bus.Recorder());
  EXPECT_EQ(read, CalibrationStretches());
  std::vector<uint16_t> fieldBytes = CalibrationReadOrder();
  std::sort(fieldBytes.begin(), fieldBytes.end());
  EXPECT_EQ(read, fieldBytes);
  // Per stretch what a random read takes besides its byte (145 control
  // writes less 27), and 27 per byte.
  EXPECT_EQ(bus.Recorder().RegisterWrites(regs::kRegSerialLines).size(), 3u * (145u - 27u) + 722u * 27u);
}

// A bus fault while a stretch is read: the calibration is read again field
// by field in the card's order, each read answering for its own faults; a
// fault that struck once leaves every value right and shows nothing.
TEST_F(Detection, FaultInAStretchReadsTheCalibrationFieldByField) {
  auto value = [](uint16_t address) { return static_cast<uint16_t>(address * 41u + 0x0123u); };
  for (uint16_t a = 20; a < 766; a += 2) Image().SetWord(a, value(a));
  for (const uint32_t readsBefore : {5u, 5000u, 17000u}) {  // in the first, second, third stretch
    SCOPED_TRACE(::testing::Message() << "fault after " << readsBefore << " status reads");
    bus.Recorder().Clear();
    MessageBoxCapture boxes;
    TRK350 fresh{nullptr};
    bus.Card().InjectBusFault(readsBefore);
    fresh.ReadCalibration();
    EXPECT_TRUE(boxes.Texts().empty());
    EXPECT_FALSE(hw::TakeBusFault());
    const std::vector<uint16_t> read = EepromAddressesRead(bus.Recorder());
    const std::vector<uint16_t> fields = CalibrationReadOrder();
    ASSERT_GE(read.size(), fields.size());
    EXPECT_EQ(std::vector<uint16_t>(read.end() - static_cast<ptrdiff_t>(fields.size()), read.end()), fields);
    EXPECT_EQ(fresh.DcGain[1][1], value(22));
    EXPECT_EQ(fresh.DcScale[2][12], value(176 + 11 * 12 + 10));
    EXPECT_EQ(fresh.GenAmpStepTable[6][15], value(542 + 30 * 6 + 28));
    EXPECT_EQ(fresh.GenAmpZero, value(764));
  }
}

// Every calibration value lands in its own field: each word of the image
// holds a value derived from its address.
TEST_F(Detection, CalibrationValuesLandInTheirFields) {
  auto value = [](uint16_t address) { return static_cast<uint16_t>(address * 37u + 0x8100u); };
  for (uint16_t a = 20; a < 766; a += 2) Image().SetWord(a, value(a));
  instrument.ReadCalibration();
  for (int ch = 1; ch <= 2; ++ch) {
    for (int r = 1; r <= 12; ++r) {
      const uint16_t rec = layout::ChannelRecord(ch, r);
      SCOPED_TRACE(::testing::Message() << "channel " << ch << " range " << r);
      EXPECT_EQ(instrument.OffsetTrim[ch][r], value(rec) >> 8);
      EXPECT_EQ(instrument.InterleaveOffsetTrim[ch][r], value(rec) & 0xFF);
      EXPECT_EQ(instrument.DcGain[ch][r], value(rec + 2));
      EXPECT_EQ(instrument.DcZero[ch][r], value(rec + 4));
      EXPECT_EQ(instrument.InterleaveDcZero[ch][r], value(rec + 6));
      EXPECT_EQ(instrument.DcStep[ch][r], value(rec + 8));
      EXPECT_EQ(instrument.DcScale[ch][r], value(rec + 10));
    }
  }
  for (int row = 0; row <= 6; ++row) {
    for (int entry = 1; entry <= 15; ++entry) {
      EXPECT_EQ(instrument.GenOffsetStepTable[row][entry], value(layout::GenOffsetStep(row, entry)));
      EXPECT_EQ(instrument.GenAmpStepTable[row][entry], value(layout::GenAmpStep(row, entry)));
    }
  }
  // Unsigned words zero-extended, signed words sign-extended (all values
  // here have bit 15 set).
  EXPECT_EQ(instrument.GenCalUnused, value(758));
  EXPECT_EQ(instrument.GenGainMid, value(760));
  EXPECT_EQ(instrument.GenGainLow, value(762));
  EXPECT_EQ(instrument.GenOffsetZeroHigh, value(752) - 65536);
  EXPECT_EQ(instrument.GenOffsetZeroMid, value(754) - 65536);
  EXPECT_EQ(instrument.GenOffsetZeroLow, value(756) - 65536);
  EXPECT_EQ(instrument.GenAmpZero, value(764) - 65536);
}

TEST_F(Detection, Word8000IsNegativeAsOffsetZeroAndPositiveAsGain) {
  Image().SetWord(752, 0x8000);
  Image().SetWord(760, 0x8000);
  instrument.ReadCalibration();
  EXPECT_EQ(instrument.GenOffsetZeroHigh, -32768);
  EXPECT_EQ(instrument.GenGainMid, 32768u);
}

TEST_F(Detection, InitHardwareWithoutCardStopsTheTimerAndReadsNoCalibration) {
  Use(card::EepromVariant::kWrongModel);
  instrument.MeasureTimer->SetEnabled(true);
  EXPECT_FALSE(instrument.InitHardware());
  EXPECT_FALSE(instrument.MeasureTimer->Enabled());
  EXPECT_FALSE(instrument.HardwarePresent);
  EXPECT_EQ(EepromAddressesRead(bus.Recorder()), (std::vector<uint16_t>{1, 5}));
}

TEST_F(Detection, InitHardwareResetsRangesReadsCalibrationAndParksTheGenerator) {
  instrument.SensitivityCount = 3;
  instrument.Sensitivities[4] = 99;
  instrument.DcLevelLimits[12] = 1;
  ASSERT_TRUE(instrument.InitHardware());
  EXPECT_TRUE(instrument.HardwarePresent);
  EXPECT_EQ(instrument.SensitivityCount, 10);
  EXPECT_EQ(instrument.Sensitivities[4], 0.2L);
  EXPECT_EQ(instrument.DcLevelLimits[12], 160.0L);
  EXPECT_EQ(instrument.GenGainMid, Image().Word(760));
  EXPECT_EQ(instrument.GenAmpZero, static_cast<int16_t>(Image().Word(764)));
  EXPECT_FALSE(instrument.GenOutputOn);
  EXPECT_EQ(instrument.GenSignalType, gsDC);
  EXPECT_EQ(instrument.GenFrequency, 0.2L);
  EXPECT_EQ(instrument.GenAmplitude, 0.0L);
  EXPECT_EQ(instrument.GenDCOffset, 0.0L);
  // The identity and the calibration, and nothing else, are read.
  EXPECT_EQ(EepromAddressesRead(bus.Recorder()).size(), 5u + 722u);
  // Besides the EEPROM lines only the generator's registers are written.
  for (const auto& [index, value] : bus.Recorder().RegisterTrace()) {
    EXPECT_TRUE(index == 1 || index == 0 || (index >= 30 && index <= 37)) << int{index};
  }
}

TEST_F(Detection, ShutdownLeavesTheCardAlone) {
  ASSERT_TRUE(instrument.InitHardware());
  bus.Recorder().Clear();
  instrument.ShutdownHardware();
  EXPECT_EQ(bus.Recorder().Count(), 0u);
}

TEST_F(Detection, NoPortAccessFindsNoCardSilently) {
  MessageBoxCapture boxes;
  instrument.PortAccessEnabled = false;
  EXPECT_FALSE(instrument.InitHardware());
  EXPECT_FALSE(instrument.HardwarePresent);
  EXPECT_EQ(bus.Recorder().Count(), 0u);
  EXPECT_TRUE(boxes.Texts().empty());
}

}  // namespace
}  // namespace rk350
