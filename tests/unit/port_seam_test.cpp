// The host port pair of the extension interface: installing, restoring, the
// refusal while an instrument exists, and bus faults.
#include <gtest/gtest.h>

#include "library/library_state.h"
#include "rk350/rk350_ext.h"
#include "support/recorded_instrument.h"

namespace rk350 {
namespace {

struct HostPorts {
  int ins = 0;
  int outs = 0;
  int answer = 0x5A;
  static int RK350_CALL In(void* self, uint16_t) {
    auto* h = static_cast<HostPorts*>(self);
    ++h->ins;
    return h->answer;
  }
  static int RK350_CALL Out(void* self, uint16_t, uint8_t) {
    ++static_cast<HostPorts*>(self)->outs;
    return 0;
  }
};

class PortSeam : public ::testing::Test {
 protected:
  void SetUp() override { testing::ResetLibraryToLoaded(); }
  void TearDown() override {
    testing::ResetLibraryToLoaded();
    RK350_SetPortFunctions(nullptr, nullptr, nullptr);
  }
};

TEST_F(PortSeam, HostPairCarriesEveryAccessAndNullRestoresTheDefault) {
  HostPorts host;
  ASSERT_EQ(RK350_SetPortFunctions(&host, &HostPorts::In, &HostPorts::Out), ResultOk);
  EXPECT_TRUE(hw::HostPortPairInstalled());
  hw::PortOut(0x288, 1);
  EXPECT_EQ(hw::PortIn(0x28A), 0x5A);
  EXPECT_EQ(host.outs, 1);
  EXPECT_EQ(host.ins, 1);

  ASSERT_EQ(RK350_SetPortFunctions(nullptr, nullptr, nullptr), ResultOk);
  EXPECT_FALSE(hw::HostPortPairInstalled());
  hw::PortIn(0x28A);
  EXPECT_EQ(host.ins, 1);
  EXPECT_EQ(hw::ActivePortPair().in, hw::DefaultPortPair().in);
}

TEST_F(PortSeam, HalfAPairIsRefusedAndChangesNothing) {
  HostPorts host;
  EXPECT_EQ(RK350_SetPortFunctions(&host, &HostPorts::In, nullptr), ResultInvalidValue);
  EXPECT_EQ(RK350_SetPortFunctions(&host, nullptr, &HostPorts::Out), ResultInvalidValue);
  EXPECT_FALSE(hw::HostPortPairInstalled());
}

TEST_F(PortSeam, RefusedWhileAnInstrumentExists) {
  HostPorts first, second;
  ASSERT_EQ(RK350_SetPortFunctions(&first, &HostPorts::In, &HostPorts::Out), ResultOk);
  ASSERT_EQ(InitInstrument(0x288), ResultNoInstrument);  // 0x5A is no EEPROM: Absent
  EXPECT_EQ(RK350_SetPortFunctions(&second, &HostPorts::In, &HostPorts::Out), ResultNotAvailable);
  EXPECT_EQ(RK350_SetPortFunctions(nullptr, nullptr, nullptr), ResultNotAvailable);
  const int before = first.ins;
  gInstrument->ReadPort(2);
  EXPECT_EQ(first.ins, before + 1);  // still the first pair
  EXPECT_EQ(second.ins, 0);

  ASSERT_EQ(ExitInstrument(), ResultOk);
  EXPECT_EQ(RK350_SetPortFunctions(&second, &HostPorts::In, &HostPorts::Out), ResultOk);
}

TEST_F(PortSeam, FaultingReadsGiveAnEmptyBusAndAreReported) {
  HostPorts host;
  host.answer = -1;
  ASSERT_EQ(RK350_SetPortFunctions(&host, &HostPorts::In, &HostPorts::Out), ResultOk);
  hw::ClearBusFault();
  EXPECT_EQ(hw::PortIn(0x28A), 0xFF);
  EXPECT_TRUE(hw::TakeBusFault());
  EXPECT_FALSE(hw::TakeBusFault());
}

TEST_F(PortSeam, WriteRegisterAtTheDefaultBaseWritesIndexThenValue) {
  testing::RecordedBus bus;
  ASSERT_EQ(InitInstrument(0x288), ResultOk);
  bus.Recorder().Clear();
  gInstrument->WriteRegister(37, 0xA5);
  EXPECT_EQ(bus.Recorder().Text(), "reg 37 = 0xA5\n");
  const auto& a = bus.Recorder().Accesses();
  ASSERT_EQ(a.size(), 2u);
  EXPECT_EQ(a[0].kind, card::PortAccess::kOut);
  EXPECT_EQ(a[0].port, 0x288);
  EXPECT_EQ(a[0].value, 37);
  EXPECT_EQ(a[1].port, 0x289);
  EXPECT_EQ(a[1].value, 0xA5);
  EXPECT_EQ(bus.Card().Register(37), 0xA5);
}

}  // namespace
}  // namespace rk350
