// The measurement exports in-process: guards, argument checks, the block
// sequence and the data copies, against a virtual card behind the recording
// bus.
#include <gtest/gtest.h>

#include <vector>

#include "library/event_forwarding.h"
#include "library/library_state.h"
#include "rk350/rk350.h"
#include "support/recorded_instrument.h"

namespace rk350::testing {
namespace {

class MeasurementExportsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetLibraryToLoaded();
    bus_ = std::make_unique<RecordedBus>();
    bus_->Recorder().SetRecording(false);
    bus_->Card().Time().SetManual(0);
    bus_->Card().Time().SetAutoStep(1e-5);
    ASSERT_EQ(InitInstrument(0x288), ResultOk);
  }
  void TearDown() override {
    ResetLibraryToLoaded();
    bus_.reset();
  }
  card::VirtualCard& Card() { return bus_->Card(); }
  std::unique_ptr<RecordedBus> bus_;
};

TEST_F(MeasurementExportsTest, GuardsBeforeInitialisation) {
  ResetLibraryToLoaded();
  uint16_t raw[4] = {};
  double volts[4] = {};
  uint8_t mode = 9;
  EXPECT_EQ(DoMeasure(-1), ResultNoInstrument);
  EXPECT_EQ(ADC_Start(), ResultNoInstrument);
  EXPECT_EQ(StartMeasurement(), ResultNoInstrument);
  EXPECT_EQ(ADC_GetDataCh(1, raw), ResultNoInstrument);
  EXPECT_EQ(GetMeasurement(volts, volts), ResultNoInstrument);
  EXPECT_EQ(GetMeasureMode(&mode), ResultNoInstrument);
  EXPECT_EQ(mode, 9);
  EXPECT_EQ(SetTransferMode(0), ResultNoInstrument);
  EXPECT_EQ(ADC_Running(), 0);
  EXPECT_EQ(ADC_Ready(), 0);
  EXPECT_EQ(ADC_Triggered(), 0);
  EXPECT_EQ(GetRecordLength(), 0);
  EXPECT_EQ(GetPostSamples(), 0);
}

TEST_F(MeasurementExportsTest, FacilitiesOfOtherInstrumentsAreNotAvailable) {
  uint32_t mode = 77;
  EXPECT_EQ(SetDataReadyCallback(nullptr), ResultNotAvailable);
  EXPECT_EQ(SetDataReadyEvent(nullptr), ResultNotAvailable);
  EXPECT_EQ(SetTransferMode(1), ResultNotAvailable);
  EXPECT_EQ(GetTransferMode(&mode), ResultNotAvailable);
  EXPECT_EQ(mode, 77u);
  EXPECT_EQ(gInstrument->tmTransferMode, tmBlock);
}

TEST_F(MeasurementExportsTest, MeasureModeChecks) {
  struct Case {
    uint32_t mode;
    uint16_t result;
    TMeasureMode after;
  };
  const Case cases[] = {{4, ResultNotAvailable, mCh12},
                        {15, ResultNotAvailable, mCh12},
                        {17, ResultInvalidValue, mCh12},
                        {16, ResultOk, mXY},
                        {0x101, ResultOk, mCh1},
                        {2, ResultOk, mCh2},
                        {0, ResultOk, mNone}};
  for (const Case& c : cases) {
    gInstrument->mMeasureMode = mCh12;
    EXPECT_EQ(SetMeasureMode(c.mode), c.result) << c.mode;
    uint8_t mode = 0;
    EXPECT_EQ(GetMeasureMode(&mode), ResultOk);
    EXPECT_EQ(mode, c.after) << c.mode;
  }
  // Its only check is the instrument's: a null out-pointer is skipped, as
  // by every other getter.
  EXPECT_EQ(GetMeasureMode(nullptr), ResultOk);
}

TEST_F(MeasurementExportsTest, RecordGeometryLimits) {
  EXPECT_EQ(SetRecordLength(65521), ResultInvalidValue);
  EXPECT_EQ(GetRecordLength(), 512);
  EXPECT_EQ(SetRecordLength(65520), ResultOk);
  EXPECT_EQ(GetRecordLength(), 65520);
  EXPECT_EQ(SetRecordLength(1000), ResultOk);
  EXPECT_EQ(SetPostSamples(1001), ResultInvalidValue);
  EXPECT_EQ(SetPostSamples(1000), ResultOk);
  EXPECT_EQ(GetPostSamples(), 1000);
  EXPECT_EQ(gInstrument->lPreSamples, 0);
}

TEST_F(MeasurementExportsTest, DoMeasureSelectsTheEngineMode) {
  EXPECT_EQ(DoMeasure(5), ResultOk);
  EXPECT_EQ(gInstrument->amAcquisitionMode, amOneShot);
  EXPECT_TRUE(gInstrument->MeasureTimer->Enabled());
  EXPECT_EQ(DoMeasure(0), ResultOk);
  EXPECT_EQ(gInstrument->amAcquisitionMode, amOneShot);
  EXPECT_FALSE(gInstrument->MeasureTimer->Enabled());
  EXPECT_EQ(DoMeasure(-1), ResultOk);
  EXPECT_EQ(gInstrument->amAcquisitionMode, amContinuous);
  EXPECT_TRUE(gInstrument->bEnableMeasurements);
}

TEST_F(MeasurementExportsTest, BlockMeasurementFetchesOnceAndConverts) {
  card::SignalSource dc;
  dc.kind = card::SourceKind::kDc;
  dc.offset = 0.25;
  Card().Sources().Set(1, dc);
  ASSERT_EQ(SetTriggerSource(9), ResultOk);  // free running
  ASSERT_EQ(SetRecordLength(100), ResultOk);
  ASSERT_EQ(SetPostSamples(100), ResultOk);
  ASSERT_EQ(ADC_Start(), ResultOk);
  EXPECT_EQ(ADC_Running(), 1);
  for (int i = 0; i < 1000 && ADC_Ready() == 0; ++i) {
  }
  ASSERT_EQ(ADC_Ready(), 1);
  EXPECT_EQ(ADC_Running(), 1);  // until the data are fetched
  std::vector<double> volts(100);
  ASSERT_EQ(ADC_GetDataVoltCh(1, volts.data()), ResultOk);
  EXPECT_EQ(ADC_Running(), 0);
  EXPECT_NEAR(volts[50], 0.25, 0.8 / 128);
  EXPECT_DOUBLE_EQ(gVoltFactor[1], 0.8 / 32768);
  // Later calls copy the same record without reading the card.
  const uint32_t strobes = Card().RegisterWriteCount(28);
  std::vector<uint16_t> raw(100);
  EXPECT_EQ(ADC_GetDataCh(1, raw.data()), ResultOk);
  EXPECT_EQ(Card().RegisterWriteCount(28), strobes);
  EXPECT_NEAR((raw[50] - 0x8000) * 0.8 / 32768, volts[50], 1e-12);
}

TEST_F(MeasurementExportsTest, DataExportsRefuseBadArguments) {
  uint16_t raw[600] = {};
  double volts[600] = {};
  uint16_t one = 7, two = 7;
  double v1 = 7, v2 = 7;
  EXPECT_EQ(ADC_GetDataCh(3, raw), ResultInvalidChannel);
  EXPECT_EQ(ADC_GetDataCh(0, raw), ResultInvalidChannel);
  EXPECT_EQ(ADC_GetDataVoltCh(3, volts), ResultInvalidChannel);
  EXPECT_EQ(ADC_GetDataCh(1, nullptr), ResultInvalidValue);
  EXPECT_EQ(ADC_GetData(raw, nullptr), ResultInvalidValue);
  EXPECT_EQ(ADC_GetDataVolt(nullptr, volts), ResultInvalidValue);
  EXPECT_EQ(GetMeasurement(volts, nullptr), ResultInvalidValue);
  EXPECT_EQ(GetMeasurementRaw(nullptr, raw), ResultInvalidValue);
  for (int32_t index : {-1, 512, 100000, INT32_MIN}) {
    EXPECT_EQ(GetOneMeasurement(index, &v1, &v2), ResultInvalidValue) << index;
    EXPECT_EQ(GetOneMeasurementRaw(index, &one, &two), ResultInvalidValue) << index;
    EXPECT_EQ(GetOneMeasurementRawCh(1, index, &one), ResultInvalidValue) << index;
  }
  EXPECT_EQ(GetOneMeasurementRawCh(2, 0, nullptr), ResultInvalidValue);
  EXPECT_EQ(GetOneMeasurementRawCh(3, 0, &one), ResultInvalidChannel);
  EXPECT_EQ(one, 7);
  EXPECT_EQ(v1, 7);
  gInstrument->ChannelData[2][511] = 0x9000;
  EXPECT_EQ(GetOneMeasurementRawCh(2, 511, &one), ResultOk);
  EXPECT_EQ(one, 0x9000);
  EXPECT_EQ(GetOneMeasurement(511, &v1, &v2), ResultOk);
  EXPECT_DOUBLE_EQ(v2, 0x1000 * 0.8 / 32768);
}

TEST_F(MeasurementExportsTest, RecordLengthZeroCopiesNothing) {
  ASSERT_EQ(SetRecordLength(0), ResultOk);
  uint16_t raw[2] = {5, 5};
  EXPECT_EQ(GetMeasurementRaw(raw, raw), ResultOk);
  EXPECT_EQ(raw[0], 5);
  uint16_t one = 5, two = 5;
  EXPECT_EQ(GetOneMeasurementRaw(0, &one, &two), ResultInvalidValue);
}

TEST_F(MeasurementExportsTest, SynchronousMeasurementSetsTheVoltFactors) {
  gVoltFactor[2] = 0;
  ASSERT_EQ(StartMeasurement(), ResultOk);
  EXPECT_DOUBLE_EQ(gVoltFactor[2], 0.8 / 32768);
  // A data call right after uses that factor without fetching.
  gInstrument->RangeIndex[2] = 7;
  double volts[512];
  const uint32_t strobes = Card().RegisterWriteCount(28);
  EXPECT_EQ(ADC_GetDataVoltCh(2, volts), ResultOk);
  EXPECT_EQ(Card().RegisterWriteCount(28), strobes);
  EXPECT_DOUBLE_EQ(gVoltFactor[2], 0.8 / 32768);
}

TEST_F(MeasurementExportsTest, StartMeasurementReportsACardThatStoppedAnswering) {
  Card().SetFault(card::VirtualCard::Fault::kStatusStuck);
  EXPECT_EQ(StartMeasurement(), ResultNoInstrument);
}

TEST_F(MeasurementExportsTest, TriggeredReportsBothChannelsForAnd) {
  ASSERT_EQ(SetTriggerSource(6), ResultOk);
  bus_->Recorder().SetReadHook([](uint16_t port, int value) { return port == 0x28A ? 0x84 : value; });
  EXPECT_EQ(ADC_Triggered(), 4);
  bus_->Recorder().SetReadHook([](uint16_t port, int value) { return port == 0x28A ? 0x86 : value; });
  EXPECT_EQ(ADC_Triggered(), 6);
}

TEST_F(MeasurementExportsTest, DeviceArrivedStartsTheTimerAndShowsItsMessage) {
  MessageBoxCapture boxes;
  ASSERT_NE(gDeviceMessageReceiver, nullptr);
  gInstrument->EngineState = 5;
  gDeviceMessageReceiver->Window().Post(kMessageDeviceChange);
  platform::ProcessPendingMessages();
  EXPECT_FALSE(gInstrument->MeasureTimer->Enabled());
  EXPECT_TRUE(boxes.Texts().empty());
  gDeviceMessageReceiver->Window().Post(kMessageDeviceArrived);
  platform::ProcessPendingMessages();
  EXPECT_TRUE(gInstrument->MeasureTimer->Enabled());
  EXPECT_EQ(gInstrument->EngineState, 0);
  ASSERT_EQ(boxes.Texts().size(), 1u);
  EXPECT_EQ(boxes.Texts()[0], "WMDeviceArrived ");
}

TEST_F(MeasurementExportsTest, OneShotTickRefreshesTheVoltFactorAfterAutoRanging) {
  gInstrument->AutoRanging[1] = true;
  gInstrument->RangeDelta[1] = +1;
  gInstrument->amAcquisitionMode = amOneShot;
  gInstrument->TimerDispatch();
  EXPECT_EQ(gInstrument->RangeIndex[1], 7);
  EXPECT_DOUBLE_EQ(gVoltFactor[1], 2.0 / 32768);
  // In continuous mode a tick does not touch the factors.
  gInstrument->RangeDelta[1] = +1;
  gInstrument->MeasurementBusy = false;
  gInstrument->amAcquisitionMode = amContinuous;
  gInstrument->TimerDispatch();
  EXPECT_EQ(gInstrument->RangeIndex[1], 8);
  EXPECT_DOUBLE_EQ(gVoltFactor[1], 2.0 / 32768);
}

TEST_F(MeasurementExportsTest, MeasurementReadyEventIsRecorded) {
  gMeasurementReady = false;
  ASSERT_EQ(StartMeasurement(), ResultOk);
  EXPECT_TRUE(gMeasurementReady);
}

}  // namespace
}  // namespace rk350::testing
