// Register writes and port reads through the recording bus.
#include <gtest/gtest.h>

#include "support/recorded_instrument.h"

namespace rk350 {
namespace {

using testing::RecordedBus;

TEST(PortAccess, WriteRegisterSendsIndexThenValueAtBase) {
  RecordedBus bus;
  TRK350 instrument(nullptr);
  bus.Recorder().Clear();
  instrument.WriteRegister(37, 0x5A);
  const auto& a = bus.Recorder().Accesses();
  ASSERT_EQ(a.size(), 2u);
  EXPECT_EQ(a[0].port, 0x288);
  EXPECT_EQ(a[0].value, 37);
  EXPECT_EQ(a[1].port, 0x289);
  EXPECT_EQ(a[1].value, 0x5A);
  EXPECT_EQ(bus.Recorder().Text(), "reg 37 = 0x5A\n");
}

TEST(PortAccess, DisabledPortAccessLeavesTheBusAlone) {
  RecordedBus bus;
  TRK350 instrument(nullptr);
  instrument.PortAccessEnabled = false;
  bus.Recorder().Clear();
  instrument.WriteRegister(1, 0x0C);
  for (uint8_t offset = 0; offset < 5; ++offset) EXPECT_EQ(instrument.ReadPort(offset), 0);
  EXPECT_EQ(bus.Recorder().Count(), 0u);
}

TEST(PortAccess, UnmappedPortsReadAsAnEmptyBus) {
  card::VirtualCard card(0x300);
  EXPECT_EQ(card.In(0x288), 0xFF);
  EXPECT_EQ(card.In(0x305), 0xFF);
}

}  // namespace
}  // namespace rk350
