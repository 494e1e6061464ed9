// The serial EEPROM protocol on the wire: line control bytes, the random read
// sequence, the three reads, and what they yield on an open bus, with port
// access off and after a bus fault.
#include "instrument/eeprom_protocol.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/eeprom_bus_master.h"
#include "support/eeprom_traffic.h"
#include "support/recorded_instrument.h"

namespace rk350 {
namespace {

using testing::EepromAddressesRead;
using testing::EepromLineTokens;
using testing::MessageBoxCapture;
using testing::RecordedBus;

class EepromProtocol : public ::testing::Test {
 protected:
  void SetUp() override { bus.Recorder().Clear(); }
  card::EepromImage& Image() { return bus.Card().Eeprom().Memory().Image(); }

  RecordedBus bus;
  TRK350 instrument{nullptr};
};

// The expected register-1 traffic, written out by the test-side controller:
// "Wxx" for a control byte written to register 1, "R" for a read of the
// status port (which reads the data line low).
class ExpectedTraffic : public testing::EepromBusMaster {
 public:
  ExpectedTraffic()
      : EepromBusMaster(
            [this](uint8_t control) {
              char text[8];
              std::snprintf(text, sizeof text, "W%02X", control);
              tokens_.emplace_back(text);
            },
            [this] {
              tokens_.emplace_back("R");
              return false;
            }) {}
  const std::vector<std::string>& Tokens() const { return tokens_; }

 private:
  std::vector<std::string> tokens_;
};

TEST_F(EepromProtocol, ReadByteRunsTheRandomReadSequenceExactly) {
  Image().SetByte(0x1234, 0x5A);
  EXPECT_EQ(instrument.ReadByte(0x1234), 0x5A);

  ExpectedTraffic expected;
  expected.RandomRead(0x1234);
  const auto tokens = EepromLineTokens(bus.Recorder());
  EXPECT_EQ(tokens, expected.Tokens());
  // Start (0x0F, 0x0D, 0x0C), then the first bit of 0xA0 clocked out.
  const std::vector<std::string> head = {"W0F", "W0D", "W0C", "W0E", "W0F", "W0E"};
  ASSERT_GE(tokens.size(), head.size());
  EXPECT_EQ(std::vector<std::string>(tokens.begin(), tokens.begin() + 6), head);
  // 145 control writes (two port writes each) and 32 status reads per byte.
  EXPECT_EQ(bus.Recorder().RegisterWrites(1).size(), 145u);
  EXPECT_EQ(bus.Recorder().Count(), 2u * 145u + 32u);
  EXPECT_EQ(instrument.ControlRegisterShadow, 0x0F);  // stop leaves both lines high
}

// A sequential read is a test-side controller's sequential read on the wire
// (the random read's addressing, then every byte but the last acknowledged)
// and yields the bytes from the address on, across the end of the memory too.
TEST_F(EepromProtocol, SequentialReadRunsTheAcknowledgedSequenceExactly) {
  struct Case {
    uint16_t address;
    size_t count;
  };
  for (const Case c : {Case{0x1234, 1}, Case{20, 5}, Case{static_cast<uint16_t>(card::EepromImage::kSize - 2), 4}}) {
    SCOPED_TRACE(::testing::Message() << "address " << c.address << ", " << c.count << " bytes");
    std::vector<uint8_t> stored;
    for (size_t i = 0; i < c.count; ++i) {
      const auto address = static_cast<uint16_t>((c.address + i) % card::EepromImage::kSize);
      stored.push_back(static_cast<uint8_t>(0x5A + 37 * i));
      Image().SetByte(address, stored.back());
    }
    bus.Recorder().Clear();
    std::vector<uint8_t> read(c.count, 0);
    eeprom_protocol::SequentialRead(instrument, c.address, read.data(), c.count);
    EXPECT_EQ(read, stored);
    ExpectedTraffic expected;
    expected.ReadSequential(c.address, static_cast<int>(c.count));
    EXPECT_EQ(EepromLineTokens(bus.Recorder()), expected.Tokens());
  }
  bus.Recorder().Clear();
  uint8_t none = 0x77;
  eeprom_protocol::SequentialRead(instrument, 20, &none, 0);
  EXPECT_EQ(bus.Recorder().Count(), 0u);
  EXPECT_EQ(none, 0x77);
}

TEST_F(EepromProtocol, ReadByteSendsHighThenLowAddressByte) {
  instrument.ReadByte(0x1234);
  // Replayed into a separate memory: the word address it was given.
  EXPECT_EQ(EepromAddressesRead(bus.Recorder()), std::vector<uint16_t>{0x1234 % card::EepromImage::kSize});
  // The data bits are the levels the card drives while the clock is high:
  // after the start (data falling at 0x0D), 0xA0, 0x12 and 0x34 follow, the
  // acknowledge clocks in between release the line (0x09) and do not count.
  const auto writes = bus.Recorder().RegisterWrites(1);
  ASSERT_GE(writes.size(), 3u);
  EXPECT_EQ(writes[1], 0x0D);
  uint32_t sent = 0;
  int bits = 0;
  for (size_t i = 2; i < writes.size() && bits < 24; ++i) {
    if ((writes[i] & 0x05) != 0x05) continue;  // clock low, or line released
    sent = sent << 1 | ((writes[i] >> 1) & 1u);
    ++bits;
  }
  ASSERT_EQ(bits, 24);
  EXPECT_EQ(sent, 0xA01234u);
}

TEST_F(EepromProtocol, ControlBytesDriveOrReleaseTheDataLineAsSpecified) {
  instrument.ReadCalibration();
  const auto& a = bus.Recorder().Accesses();
  size_t samples = 0, driven = 0;
  for (size_t i = 0; i + 1 < a.size(); ++i) {
    if (a[i].kind != card::PortAccess::kOut || a[i].port != 0x288 || a[i].value != 1) continue;
    const uint8_t control = a[i + 1].value;
    const bool followedByStatusRead =
        i + 2 < a.size() && a[i + 2].kind == card::PortAccess::kIn && a[i + 2].port == 0x28A;
    EXPECT_EQ(control & 0xF0, 0) << "high bits stay 0";
    EXPECT_EQ(control & 0x08, 0x08) << "bit 3 always set";
    if (followedByStatusRead) {
      EXPECT_EQ(control & 0x04, 0) << "a read of the data line releases it";
      EXPECT_EQ(control & 0x02, 0);
      ++samples;
    } else {
      EXPECT_EQ(control & 0x0C, 0x0C) << "the card drives the line whenever it does not read it";
      ++driven;
    }
    ++i;
  }
  EXPECT_GT(samples, 0u);
  EXPECT_GT(driven, 0u);
}

TEST_F(EepromProtocol, WordsAreBigEndianAndIntegersSigned) {
  struct Case {
    uint16_t stored;
    uint16_t word;
    int32_t integer;
  };
  const Case cases[] = {{0x0000, 0, 0},      {0x0001, 1, 1},           {0x7FFF, 32767, 32767}, {0x8000, 32768, -32768},
                        {0xFFFF, 65535, -1}, {0x1234, 0x1234, 0x1234}, {0xFF00, 65280, -256},  {0x00FF, 255, 255}};
  for (const Case& c : cases) {
    Image().SetWord(752, c.stored);
    EXPECT_EQ(instrument.ReadWord(752), c.word) << std::hex << c.stored;
    EXPECT_EQ(instrument.ReadInteger(752), c.integer) << std::hex << c.stored;
  }
  bus.Recorder().Clear();
  instrument.ReadWord(752);
  EXPECT_EQ(EepromAddressesRead(bus.Recorder()), (std::vector<uint16_t>{752, 753}));
}

TEST_F(EepromProtocol, OpenBusReadsAllOnes) {
  MessageBoxCapture boxes;
  instrument.nHardwareAddress = 0x300;  // nothing answers there
  EXPECT_EQ(instrument.ReadByte(1), 0xFF);
  EXPECT_EQ(instrument.ReadWord(752), 0xFFFF);
  EXPECT_EQ(instrument.ReadInteger(752), -1);
  EXPECT_TRUE(boxes.Texts().empty());
}

TEST_F(EepromProtocol, SilentMemoryReadsAllOnes) {
  bus.Card().Eeprom().SetVariant(card::EepromVariant::kNoAnswer);
  EXPECT_EQ(instrument.ReadByte(1), 0xFF);
  EXPECT_EQ(instrument.ReadWord(20), 0xFFFF);
  EXPECT_EQ(instrument.ReadInteger(764), -1);
}

TEST_F(EepromProtocol, PortAccessOffReadsZeroSilentlyAndTouchesNothing) {
  MessageBoxCapture boxes;
  instrument.PortAccessEnabled = false;
  EXPECT_EQ(instrument.ReadByte(1), 0);
  EXPECT_EQ(instrument.ReadWord(752), 0);
  EXPECT_EQ(instrument.ReadInteger(752), 0);
  EXPECT_EQ(bus.Recorder().Count(), 0u);
  EXPECT_TRUE(boxes.Texts().empty());
}

// A bus fault reported by the port pair while a read runs: the read shows its
// name and address and yields 0; the next read works again.
TEST_F(EepromProtocol, BusFaultDuringAReadShowsItsMessageAndYieldsZero) {
  struct Case {
    const char* message;
    uint32_t readsBefore;  // 32 status reads per byte
    int32_t (*read)(TRK350&);
  };
  const Case cases[] = {
      {"ReadByte 5", 0, [](TRK350& t) -> int32_t { return t.ReadByte(5); }},
      {"ReadByte 5", 31, [](TRK350& t) -> int32_t { return t.ReadByte(5); }},
      {"ReadWord 752", 40, [](TRK350& t) -> int32_t { return t.ReadWord(752); }},
      {"ReadInteger 764", 63, [](TRK350& t) -> int32_t { return t.ReadInteger(764); }},
  };
  Image().SetByte(5, 0x50);
  Image().SetWord(752, 0x8001);
  Image().SetWord(764, 0x1234);
  for (const Case& c : cases) {
    MessageBoxCapture boxes;
    bus.Card().InjectBusFault(c.readsBefore);
    EXPECT_EQ(c.read(instrument), 0) << c.message;
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{c.message});
    EXPECT_FALSE(hw::TakeBusFault()) << "the read took its fault";
  }
  MessageBoxCapture boxes;
  EXPECT_EQ(instrument.ReadByte(5), 0x50);
  EXPECT_EQ(instrument.ReadInteger(752), 0x8001 - 65536);
  EXPECT_TRUE(boxes.Texts().empty());
}

// A failing output counts as a fault as well.
TEST_F(EepromProtocol, FaultingPortWriteFailsTheRead) {
  struct FailingOut {
    card::VirtualCard* card;
    int writesBefore;
    static int RK350_PORT_CALL In(void* c, uint16_t port) { return static_cast<FailingOut*>(c)->card->BusIn(port); }
    static int RK350_PORT_CALL Out(void* c, uint16_t port, uint8_t value) {
      auto* self = static_cast<FailingOut*>(c);
      self->card->Out(port, value);
      return self->writesBefore-- == 0 ? -5 : 0;
    }
  } pair{&bus.Card(), 100};
  hw::InstallPortPair({&pair, &FailingOut::In, &FailingOut::Out});
  MessageBoxCapture boxes;
  EXPECT_EQ(instrument.ReadWord(760), 0);
  EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"ReadWord 760"});
  hw::InstallPortPair(bus.Recorder().Pair());
}

TEST_F(EepromProtocol, FaultPendingBeforeAReadIsNotBlamedOnIt) {
  MessageBoxCapture boxes;
  Image().SetByte(1, 0xAA);
  hw::detail::gBusFault = true;
  EXPECT_EQ(instrument.ReadByte(1), 0xAA);
  EXPECT_TRUE(boxes.Texts().empty());
  EXPECT_TRUE(hw::TakeBusFault()) << "the earlier fault stays pending";
}

}  // namespace
}  // namespace rk350
