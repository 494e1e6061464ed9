// Digital I/O, resistance, I2C and other auxiliary exports: this card has
// none of these circuits.
#include <gtest/gtest.h>

#include <vector>

#include "library/library_state.h"
#include "support/generator_calibration.h"
#include "support/recorded_instrument.h"

namespace rk350 {
namespace {

using testing::RecordedBus;
using testing::ResetLibraryToLoaded;

TEST(AuxiliaryExports, WithoutInstrumentGuardedOnesAnswerNoInstrumentOthersNotAvailable) {
  ResetLibraryToLoaded();
  uint16_t values[4] = {7, 7, 7, 7};
  uint32_t word = 7;
  char buffer[4] = {};
  EXPECT_EQ(GetDigitalInputValues(values), ResultNoInstrument);
  EXPECT_EQ(GetOneDigitalValue(1, values), ResultNoInstrument);
  EXPECT_EQ(SetDigitalOutputs(3), ResultNoInstrument);
  EXPECT_EQ(GetDigitalOutputs(&word), ResultNoInstrument);
  EXPECT_EQ(SetupOhmMeasurements(0), ResultNoInstrument);
  EXPECT_EQ(I2CWrite(0x50, buffer, 4), ResultNoInstrument);
  EXPECT_EQ(I2CWriteNoStop(0x50, buffer, 4), ResultNoInstrument);
  EXPECT_EQ(I2CRead(0x50, buffer, 4), ResultNoInstrument);
  EXPECT_EQ(I2CReadNoStop(0x50, buffer, 4), ResultNoInstrument);
  EXPECT_EQ(I2CGetSpeed(&word), ResultNoInstrument);
  EXPECT_EQ(I2CSetSpeed(100000), ResultNoInstrument);
  EXPECT_EQ(GetOhmValues(nullptr, nullptr), ResultNotAvailable);
  EXPECT_EQ(GetActiveQV5(0), ResultNotAvailable);
  EXPECT_EQ(SetActiveQV5(0), ResultNotAvailable);
  EXPECT_EQ(SetDAC1451(1, 2, 3, 4), ResultNotAvailable);
  EXPECT_EQ(SetMotorOn(1, 2), ResultNotAvailable);
  EXPECT_EQ(values[0], 7);
  EXPECT_EQ(word, 7u);
}

class AuxiliaryExportsOnThisCard : public ::testing::Test {
 protected:
  AuxiliaryExportsOnThisCard() : instrument(testing::InstallPresentInstrument()) { bus.Recorder().Clear(); }
  ~AuxiliaryExportsOnThisCard() override { ResetLibraryToLoaded(); }
  RecordedBus bus;
  TRK350& instrument;
};

TEST_F(AuxiliaryExportsOnThisCard, EveryFunctionIsNotAvailableWritesNothingAndLeavesTheCardAlone) {
  uint16_t values[4] = {7, 7, 7, 7};
  uint32_t word = 7;
  char buffer[4] = {1, 2, 3, 4};
  EXPECT_EQ(GetDigitalInputValues(values), ResultNotAvailable);
  EXPECT_EQ(GetOneDigitalValue(1, values), ResultNotAvailable);
  EXPECT_EQ(SetDigitalOutputs(3), ResultNotAvailable);
  EXPECT_EQ(GetDigitalOutputs(&word), ResultNotAvailable);
  EXPECT_EQ(SetupOhmMeasurements(0), ResultNotAvailable);
  EXPECT_EQ(GetOhmValues(&word, &word), ResultNotAvailable);
  EXPECT_EQ(I2CWrite(0x50, buffer, 4), ResultNotAvailable);
  EXPECT_EQ(I2CWriteNoStop(0x50, buffer, 4), ResultNotAvailable);
  EXPECT_EQ(I2CRead(0x50, buffer, 4), ResultNotAvailable);
  EXPECT_EQ(I2CReadNoStop(0x50, buffer, 4), ResultNotAvailable);
  EXPECT_EQ(I2CGetSpeed(&word), ResultNotAvailable);
  EXPECT_EQ(I2CSetSpeed(100000), ResultNotAvailable);
  EXPECT_EQ(GetActiveQV5(0), ResultNotAvailable);
  EXPECT_EQ(SetActiveQV5(0), ResultNotAvailable);
  EXPECT_EQ(SetDAC1451(1, 2, 3, 4), ResultNotAvailable);
  EXPECT_EQ(SetMotorOn(1, 2), ResultNotAvailable);
  EXPECT_EQ(values[0], 7);
  EXPECT_EQ(word, 7u);
  EXPECT_EQ(buffer[3], 4);
  EXPECT_EQ(bus.Recorder().Count(), 0u);
}

TEST_F(AuxiliaryExportsOnThisCard, AnInstrumentWithDigitalLinesAnswersZeros) {
  instrument.DigitalInputsAvailable = 8;
  instrument.DigitalOutputsAvailable = 8;
  instrument.lRecordLength = 5;
  std::vector<uint16_t> values(7, 0xAAAA);
  EXPECT_EQ(GetDigitalInputValues(values.data()), ResultOk);
  EXPECT_EQ(values, (std::vector<uint16_t>{0, 0, 0, 0, 0, 0xAAAA, 0xAAAA}));  // one per record sample
  uint16_t one = 9;
  EXPECT_EQ(GetOneDigitalValue(123, &one), ResultOk);
  EXPECT_EQ(one, 0);
  EXPECT_EQ(SetDigitalOutputs(0xFF), ResultOk);
  uint32_t outputs = 0x1234;
  EXPECT_EQ(GetDigitalOutputs(&outputs), ResultOk);
  EXPECT_EQ(outputs, 0x1234u);  // never written
  instrument.InstrumentKind = 21;
  EXPECT_EQ(SetupOhmMeasurements(0), ResultOk);
  EXPECT_EQ(bus.Recorder().Count(), 0u);
}

}  // namespace
}  // namespace rk350
