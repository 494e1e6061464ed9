// The hardware flavour through its shared library: a host's port functions
// carry all card access; without them the flavour asks the system for port
// access and, refused, reaches no card.
#include <gtest/gtest.h>

#include <string>

#include "card/virtual_card.h"
#include "e2e/e2e_support.h"
#include "rk350/rk350.h"
#include "rk350/rk350_ext.h"

#if !defined(_WIN32)
#include <sys/io.h>
#endif

namespace rk350::e2e {
namespace {

// A virtual card behind counting port functions.
struct CountingCard {
  card::VirtualCard card{kCardBase};
  int ins = 0;
  int outs = 0;
  static int RK350_CALL In(void* self, uint16_t port) {
    auto* c = static_cast<CountingCard*>(self);
    ++c->ins;
    return c->card.In(port);
  }
  static int RK350_CALL Out(void* self, uint16_t port, uint8_t value) {
    auto* c = static_cast<CountingCard*>(self);
    ++c->outs;
    c->card.Out(port, value);
    return 0;
  }
};

TEST(HardwareFlavour, HostPortFunctionsCarryEveryCardAccess) {
  CountingCard host;
  ASSERT_EQ(RK350_SetPortFunctions(&host, &CountingCard::In, &CountingCard::Out), RK350_RESULT_OK);
  ASSERT_EQ(InitInstrument(kCardBase), RK350_RESULT_OK);
  EXPECT_GT(host.ins, 0);
  EXPECT_GT(host.outs, 0);
  int32_t serial = -1;
  EXPECT_EQ(GetSerialNumber(&serial), RK350_RESULT_OK);
  EXPECT_GE(serial, 0);

  // Refused while the instrument exists; the pair stays in place.
  CountingCard other;
  EXPECT_EQ(RK350_SetPortFunctions(&other, &CountingCard::In, &CountingCard::Out), RK350_RESULT_NOT_AVAILABLE);
  uint32_t date = 0;
  const int before = host.ins;
  EXPECT_EQ(GetCalibrationDate(&date), RK350_RESULT_OK);  // reads the card again
  EXPECT_GT(host.ins, before);
  EXPECT_EQ(other.ins + other.outs, 0);

  EXPECT_EQ(ExitInstrument(), RK350_RESULT_OK);
  EXPECT_EQ(RK350_SetPortFunctions(nullptr, nullptr, nullptr), RK350_RESULT_OK);
  EXPECT_TRUE(MessageBoxTexts().empty());
}

TEST(HardwareFlavour, HostPortFunctionsNeedBothHalves) {
  CountingCard host;
  EXPECT_EQ(RK350_SetPortFunctions(&host, &CountingCard::In, nullptr), RK350_RESULT_INVALID_VALUE);
  EXPECT_EQ(RK350_SetPortFunctions(&host, nullptr, &CountingCard::Out), RK350_RESULT_INVALID_VALUE);
  EXPECT_EQ(InitInstrument(kCardBase), RK350_RESULT_NO_INSTRUMENT);  // no pair: no card reached
  EXPECT_EQ(host.ins + host.outs, 0);
  ExitInstrument();
}

// Without a host pair the flavour needs the system's port access; where it is
// refused (no port driver, no port permission) the message tells so and no
// card is found. Never run where access is granted: the test would then
// reach the real bus.
TEST(HardwareFlavour, RefusedPortAccessIsReportedAndFindsNoCard) {
#if defined(_WIN32)
  const std::string expected =
      "Windows NT / 2000 / XP requires an extra NT-driver for the parallel port and ISA bus.\n"
      "It was not detected on this computer.\nHardware will not be available";
#else
  if (ioperm(0x80, 1, 1) == 0) {
    ioperm(0x80, 1, 0);
    GTEST_SKIP() << "this process may use the ports: the test would reach the real bus";
  }
  const std::string expected =
      "Port access to the ISA bus was refused by the kernel (ioperm).\n"
      "Run as root or grant CAP_SYS_RAWIO.\nHardware will not be available";
#endif
  EXPECT_EQ(InitInstrument(kCardBase), RK350_RESULT_NO_INSTRUMENT);
  ASSERT_EQ(MessageBoxTexts().size(), 1u);
  EXPECT_EQ(MessageBoxTexts()[0], expected);
  EXPECT_EQ(InitInstrument(kCardBase), RK350_RESULT_NO_INSTRUMENT);
  EXPECT_EQ(MessageBoxTexts().size(), 1u);  // once per instrument construction
  EXPECT_EQ(ExitInstrument(), RK350_RESULT_OK);
}

}  // namespace
}  // namespace rk350::e2e
