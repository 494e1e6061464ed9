// The virtual card's EEPROM on its wires, driven through the card's ports by
// a small controller written here: acknowledges, sequential reads, writes,
// the wired-AND data line and the logic trace.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "card/virtual_card.h"
#include "hardware/register_map.h"
#include "support/eeprom_bus_master.h"

namespace rk350::card {
namespace {

constexpr uint16_t kBase = 0x288;

// The test-side controller on the card's own ports, as a card driver would be.
class Controller : public rk350::testing::EepromBusMaster {
 public:
  explicit Controller(VirtualCard& card)
      : EepromBusMaster(
            [&card](uint8_t control) {
              card.Out(kBase, regs::kRegSerialLines);
              card.Out(kBase + 1, control);
            },
            [&card] { return (card.In(kBase + 2) & regs::kStatusEepromData) != 0; }) {}
};

TEST(VirtualEeprom, SequentialReadFollowsTheAcknowledges) {
  VirtualCard card;
  Controller bus(card);
  const EepromImage& image = card.Eeprom().Memory().Image();
  const std::vector<uint8_t> bytes = bus.ReadSequential(20, 6);
  ASSERT_EQ(bytes.size(), 6u);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(bytes[i], image.Byte(static_cast<uint16_t>(20 + i))) << i;
  EXPECT_EQ(card.Eeprom().Memory().AddressPointer(), 26);
  // A read without a new word address goes on from the pointer.
  bus.Start();
  ASSERT_TRUE(bus.Send(0xA1));
  EXPECT_EQ(bus.Receive(false), image.Byte(26));
  bus.Stop();
}

TEST(VirtualEeprom, ReadWrapsAtTheEndOfTheMemory) {
  VirtualCard card;
  card.Eeprom().Memory().Image().SetByte(4095, 0x42);
  card.Eeprom().Memory().Image().SetByte(0, 0x24);
  Controller bus(card);
  EXPECT_EQ(bus.ReadSequential(4095, 2), (std::vector<uint8_t>{0x42, 0x24}));
}

TEST(VirtualEeprom, OnlyItsOwnDeviceAddressIsAcknowledged) {
  VirtualCard card;
  Controller bus(card);
  for (int address = 0; address < 256; ++address) {
    bus.Start();
    EXPECT_EQ(bus.Send(static_cast<uint8_t>(address)), (address & 0xFE) == 0xA0) << address;
    bus.Stop();
  }
}

TEST(VirtualEeprom, SilentMemoryNeverPullsTheLineLow) {
  VirtualCard card(kBase, EepromVariant::kNoAnswer);
  Controller bus(card);
  bus.Start();
  EXPECT_FALSE(bus.Send(0xA0));
  bus.Stop();
  EXPECT_EQ(bus.ReadSequential(1, 2), (std::vector<uint8_t>{0xFF, 0xFF}));
}

TEST(VirtualEeprom, PageWriteIsStoredAtTheStopAndWrapsInItsPage) {
  VirtualCard card;
  Controller bus(card);
  Eeprom24xx& memory = card.Eeprom().Memory();
  bus.Write(100, {1, 2, 3});
  EXPECT_EQ(bus.ReadSequential(100, 3), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(memory.BytesWritten(), 3u);
  // Page 96..127: a write from 126 wraps to 96.
  bus.Write(126, {0xA, 0xB, 0xC, 0xD});
  EXPECT_EQ(memory.Image().Byte(126), 0xA);
  EXPECT_EQ(memory.Image().Byte(127), 0xB);
  EXPECT_EQ(memory.Image().Byte(96), 0xC);
  EXPECT_EQ(memory.Image().Byte(97), 0xD);
  EXPECT_EQ(memory.Image().Byte(128), EepromImage::Default().Byte(128));
}

TEST(VirtualEeprom, WriteCutByARepeatedStartIsDropped) {
  VirtualCard card;
  Controller bus(card);
  const uint8_t before = card.Eeprom().Memory().Image().Byte(200);
  bus.Start();
  bus.Send(0xA0);
  bus.Send(0);
  bus.Send(200);
  bus.Send(static_cast<uint8_t>(before ^ 0xFF));
  bus.Start();  // repeated start instead of a stop
  bus.Send(0xA1);
  bus.Receive(false);
  bus.Stop();
  EXPECT_EQ(card.Eeprom().Memory().Image().Byte(200), before);
  EXPECT_EQ(card.Eeprom().Memory().BytesWritten(), 0u);
}

// The data line is wired-AND: low when the card drives it low, whatever the
// memory does; high only when both let go.
TEST(VirtualEeprom, DataLineIsTheWiredAndOfCardAndMemory) {
  VirtualCard card;
  auto status = [&](uint8_t control) {
    card.Out(kBase, 1);
    card.Out(kBase + 1, control);
    return card.In(kBase + 2) & regs::kStatusEepromData;
  };
  EXPECT_EQ(card.In(kBase + 2) & regs::kStatusEepromData, regs::kStatusEepromData) << "power-on: released";
  EXPECT_EQ(status(0x0C), 0) << "card drives low";
  EXPECT_EQ(status(0x0E), regs::kStatusEepromData) << "card drives high";
  EXPECT_EQ(status(0x08), regs::kStatusEepromData) << "released";
  EXPECT_EQ(status(0x0A), regs::kStatusEepromData) << "data bit without drive does nothing";
  EXPECT_EQ(status(0x04), 0) << "drive without bit 3 still drives";
  // The memory acknowledging its address pulls the released line low.
  Controller bus(card);
  bus.Start();
  for (int bit = 7; bit >= 0; --bit) {
    const bool b = (0xA0 >> bit & 1) != 0;
    bus.Lines(b, false);
    bus.Lines(b, true);
    bus.Lines(b, false);
  }
  EXPECT_FALSE(bus.Sample(false)) << "acknowledge";
  EXPECT_EQ(status(0x0E), 0) << "the memory still pulls low while the card drives high";
}

TEST(VirtualEeprom, ResetReleasesTheWiresAndKeepsTheContent) {
  VirtualCard card;
  card.Eeprom().Memory().Image().SetByte(3, 0x33);
  Controller bus(card);
  bus.Start();
  bus.Send(0xA0);  // the memory holds the acknowledge low
  card.Reset();
  EXPECT_NE(card.In(kBase + 2) & regs::kStatusEepromData, 0);
  EXPECT_EQ(bus.ReadSequential(3, 1), std::vector<uint8_t>{0x33});
}

TEST(VirtualEeprom, ResetDropsAWriteUnderWay) {
  VirtualCard card;
  Controller bus(card);
  const uint8_t before = card.Eeprom().Memory().Image().Byte(300);
  bus.Start();
  bus.Send(0xA0);
  bus.Send(0x01);
  bus.Send(300 & 0xFF);
  bus.Send(static_cast<uint8_t>(before ^ 0x55));
  card.Reset();
  bus.Stop();
  EXPECT_EQ(card.Eeprom().Memory().Image().Byte(300), before);
  EXPECT_EQ(card.Eeprom().Memory().BytesWritten(), 0u);
}

TEST(VirtualEeprom, FrontEndBitsOfRegisterOneLeaveTheEepromAlone) {
  VirtualCard card;
  Controller bus(card);
  bus.SetPointer(40);
  for (uint8_t v : {0x00, 0x10, 0x30, 0x20, 0x00}) {
    card.Out(kBase, 1);
    card.Out(kBase + 1, v);
  }
  bus.Start();
  bus.Send(0xA1);
  EXPECT_EQ(bus.Receive(false), card.Eeprom().Memory().Image().Byte(40));
  bus.Stop();
}

TEST(VirtualEeprom, InjectedBusFaultStrikesOneRead) {
  VirtualCard card;
  card.InjectBusFault(2);
  EXPECT_GE(card.BusIn(kBase + 2), 0);
  EXPECT_GE(card.BusIn(kBase + 2), 0);
  EXPECT_LT(card.BusIn(kBase + 2), 0);
  EXPECT_GE(card.BusIn(kBase + 2), 0);
}

TEST(VirtualEeprom, TraceExportsBothWiresAsVcd) {
  VirtualCard card;
  card.Eeprom().StartTrace();
  Controller bus(card);
  bus.ReadSequential(1, 1);
  card.Eeprom().StopTrace();
  const WireTrace& trace = card.Eeprom().Trace();
  EXPECT_FALSE(trace.Truncated());
  const std::string vcd = trace.Vcd();
  EXPECT_NE(vcd.find("$var wire 1 ! scl $end"), std::string::npos);
  EXPECT_NE(vcd.find("$var wire 1 \" sda $end"), std::string::npos);
  EXPECT_NE(vcd.find("$timescale 100 ns $end"), std::string::npos);
  // Initial values at time 0: clock low, line high.
  EXPECT_NE(vcd.find("#0\n0!\n1\"\n"), std::string::npos);
  // After the trace stops nothing is added.
  const size_t changes = trace.ChangeCount();
  bus.ReadSequential(1, 1);
  EXPECT_EQ(trace.ChangeCount(), changes);
}

}  // namespace
}  // namespace rk350::card
