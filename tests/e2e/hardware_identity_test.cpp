// The hardware-flavour library finding a card through a host port pair: a
// virtual card at 0x300 answers the ports the library drives. Each test case
// runs in a freshly loaded library.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "card/virtual_card.h"
#include "rk350/rk350.h"
#include "rk350/rk350_ext.h"

namespace {

using rk350::card::EepromVariant;
using rk350::card::VirtualCard;

// The host's port pair: a card behind it, and faults the host reports.
struct HostBus {
  explicit HostBus(uint16_t base, EepromVariant variant = EepromVariant::kDefault) : card(base, variant) {
    EXPECT_EQ(RK350_SetPortFunctions(this, &In, &Out), RK350_RESULT_OK);
  }
  ~HostBus() { RK350_SetPortFunctions(nullptr, nullptr, nullptr); }
  static int RK350_CALL In(void* context, uint16_t port) {
    auto* self = static_cast<HostBus*>(context);
    ++self->reads;
    if (self->failRead != 0 && self->reads == self->failRead) return -1;
    return self->card.In(port);
  }
  static int RK350_CALL Out(void* context, uint16_t port, uint8_t value) {
    static_cast<HostBus*>(context)->card.Out(port, value);
    return 0;
  }
  VirtualCard card;
  uint32_t reads = 0;
  uint32_t failRead = 0;  // 1-based number of the read that faults; 0 none
};

struct MessageBoxes {
  MessageBoxes() { RK350_SetMessageBoxHandler(&Handler, this); }
  ~MessageBoxes() { RK350_SetMessageBoxHandler(nullptr, nullptr); }
  static void RK350_CALL Handler(void* context, const char* text) {
    static_cast<MessageBoxes*>(context)->texts.emplace_back(text);
  }
  std::vector<std::string> texts;
};

TEST(HardwareIdentity, CardAtCallersBaseAddressIsFound) {
  HostBus bus(0x300);
  ASSERT_EQ(InitInstrument(0x300), RK350_RESULT_OK);
  // Five identity bytes read one by one (32 status reads each); the 722
  // calibration bytes in three sequential reads, whose first byte costs as
  // much as a single read and each further byte 24.
  constexpr uint32_t kInit = (5u + 3u) * 32u + (722u - 3u) * 24u;
  EXPECT_EQ(bus.reads, kInit);
  int32_t serial = 0;
  EXPECT_EQ(GetSerialNumber(&serial), RK350_RESULT_OK);
  EXPECT_EQ(serial, 12345);
  uint32_t date = 0;
  EXPECT_EQ(GetCalibrationDate(&date), RK350_RESULT_OK);
  EXPECT_EQ(date, 3u << 24 | 11u << 16 | 2026u);
  EXPECT_EQ(GetFunctionGenStatus(), 0);
  // The date is read from the card on each call: six more bytes.
  EXPECT_EQ(bus.reads, kInit + 6u * 32u);
}

TEST(HardwareIdentity, WrongBaseAddressFindsNoCard) {
  HostBus bus(0x300);
  EXPECT_EQ(InitInstrument(0x288), RK350_RESULT_NO_INSTRUMENT);
  EXPECT_EQ(GetMaxRecordLength(), 0);
  // Only the signature was read: one byte of status reads.
  EXPECT_EQ(bus.reads, 32u);
}

TEST(HardwareIdentity, NoGeneratorCard) {
  HostBus bus(0x288, EepromVariant::kNoGenerator);
  ASSERT_EQ(InitInstrument(0x288), RK350_RESULT_OK);
  EXPECT_EQ(GetFunctionGenStatus(), RK350_RESULT_NO_GENERATOR);
  double amplitude = -1;
  EXPECT_EQ(GetFuncGenMaxAmplitude(&amplitude), RK350_RESULT_NO_GENERATOR);
  EXPECT_EQ(amplitude, -1);
}

// A read the host reports as faulted: the byte read that ran into it says
// so, yields 0, and here it is the model code, so no card is found.
TEST(HardwareIdentity, HostReportedFaultFailsTheReadItStrikes) {
  HostBus bus(0x288);
  bus.failRead = 32 + 10;  // inside the second byte read (model code)
  MessageBoxes boxes;
  EXPECT_EQ(InitInstrument(0x288), RK350_RESULT_NO_INSTRUMENT);
  EXPECT_EQ(boxes.texts, std::vector<std::string>{"ReadByte 5"});
}

// The port pair cannot change while an instrument exists.
TEST(HardwareIdentity, PortPairIsFixedWhileTheInstrumentExists) {
  HostBus bus(0x288);
  ASSERT_EQ(InitInstrument(0x288), RK350_RESULT_OK);
  EXPECT_EQ(RK350_SetPortFunctions(nullptr, nullptr, nullptr), RK350_RESULT_NOT_AVAILABLE);
  ExitInstrument();
}

}  // namespace
