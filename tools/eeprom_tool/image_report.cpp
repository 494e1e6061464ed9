#include "image_report.h"

#include <cstdarg>
#include <cstdio>

#include "card/virtual_card.h"
#include "hardware/eeprom_layout.h"
#include "hardware/port_io.h"
#include "instrument/card_identity.h"

namespace rk350::tools {

namespace {

namespace layout = eeprom_layout;

void Append(std::string& text, const char* format, ...) __attribute__((format(printf, 2, 3)));
void Append(std::string& text, const char* format, ...) {
  char line[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  text += line;
}

// What the library makes of the image: the card with this EEPROM read by
// the library's identity reader, as InitInstrument's detection reads it.
struct LibraryView {
  CardIdentity identity;
  CalibrationDateTime date;
};

int RK350_PORT_CALL CardIn(void* card, uint16_t port) { return static_cast<card::VirtualCard*>(card)->In(port); }
int RK350_PORT_CALL CardOut(void* card, uint16_t port, uint8_t value) {
  static_cast<card::VirtualCard*>(card)->Out(port, value);
  return 0;
}

LibraryView ReadAsTheLibraryDoes(const card::EepromImage& image) {
  card::VirtualCard card;
  card.Eeprom().LoadImage(image);
  const hw::PortPair ports{&card, &CardIn, &CardOut};
  LibraryView view;
  view.identity = ReadCardIdentity(ports, card.Base());
  view.date = ReadCardCalibrationDate(ports, card.Base());
  return view;
}

int16_t Signed(uint16_t word) { return static_cast<int16_t>(word); }

void DescribeIdentity(const card::EepromImage& image, const LibraryView& view, std::string& text) {
  const uint8_t signature = image.Byte(layout::kSignature);
  const uint8_t model = image.Byte(layout::kModelCode);
  Append(text, "Identity\n");
  Append(text, "  Signature (byte 1)       0x%02X %s\n", signature,
         signature == layout::kSignatureValue ? "(valid)" : "(expected 0xAA: no card)");
  Append(text, "  Model code (byte 5)      0x%02X %s\n", model,
         model == layout::kModelCodeRk350 ? "(RK350 ISA)" : "(not an RK350 ISA)");
  const int serial = image.Byte(layout::kSerialLow) | image.Byte(layout::kSerialLow + 1) << 8;
  Append(text, "  Serial number            %d (0x%04X, bytes 6..7 low first)\n", serial, serial);
  const uint8_t fitting = image.Byte(layout::kGeneratorFitted);
  Append(text, "  Function generator       %s (byte 8 = %u)\n", fitting == 0 ? "fitted" : "none", fitting);

  const int year = image.Byte(layout::kYearLow) | image.Byte(layout::kYearLow + 1) << 8;
  Append(text, "  Calibration bytes 10..15 year %d, month %u, day %u, hour %u, minute %u\n", year,
         image.Byte(layout::kMonth), image.Byte(layout::kDay), image.Byte(layout::kHour), image.Byte(layout::kMinute));
  const CalibrationDateTime& d = view.date;
  const bool fellBack = d.year != year || d.month != image.Byte(layout::kMonth) || d.day != image.Byte(layout::kDay) ||
                        d.hour != image.Byte(layout::kHour) || d.minute != image.Byte(layout::kMinute);
  const uint32_t packed =
      static_cast<uint32_t>(d.day) << 24 | static_cast<uint32_t>(d.month) << 16 | static_cast<uint32_t>(d.year);
  Append(text, "  Calibration date         %s%04d-%02d-%02d %02d:%02d (GetCalibrationDate packed %u)\n",
         fellBack ? "invalid, reads as " : "", d.year, d.month, d.day, d.hour, d.minute, packed);
  const CardIdentity& id = view.identity;
  if (id.rk350) {
    Append(text, "  Library                  found as %s, kind %u, serial %d, generator %s\n", kDeviceNameRk350,
           kKindRk350, id.serial, id.generator ? "yes" : "no");
  } else {
    Append(text, "  Library                  no card found: InitInstrument answers ResultNoInstrument\n");
  }
}

void DescribeChannels(const card::EepromImage& image, std::string& text) {
  Append(text, "\nInput calibration records (12 bytes per channel and range)\n");
  Append(text, "  ch range  full scale  addr  OffsetTrim  IlvOffsetTrim  DcGain  DcZero  IlvDcZero  DcStep  DcScale\n");
  static constexpr const char* kFullScale[13] = {"",    "0.02 V", "0.04 V", "0.1 V", "0.2 V", "0.4 V", "0.8 V",
                                                 "2 V", "4 V",    "8 V",    "20 V",  "40 V",  "80 V"};
  for (int channel = 1; channel <= 2; ++channel) {
    for (int range = 1; range <= 12; ++range) {
      const uint16_t rec = layout::ChannelRecord(channel, range);
      Append(text, "  %2d %5d  %10s  %4u  %10u  %13u  %6u  %6u  %9u  %6u  %7u\n", channel, range, kFullScale[range],
             rec, image.Byte(rec + layout::kRecOffsetTrim), image.Byte(rec + layout::kRecInterleaveOffsetTrim),
             image.Word(rec + layout::kRecDcGain), image.Word(rec + layout::kRecDcZero),
             image.Word(rec + layout::kRecInterleaveDcZero), image.Word(rec + layout::kRecDcStep),
             image.Word(rec + layout::kRecDcScale));
    }
  }
  Append(text, "  (DcStep in hundredths of a coarse offset DAC step, DcScale in fiftieths of the fine DAC span)\n");
}

void DescribeTable(const card::EepromImage& image, const char* title, uint16_t (*address)(int, int),
                   std::string& text) {
  Append(text, "\n%s\n  row \\ entry", title);
  for (int entry = 1; entry <= 15; ++entry) Append(text, " %6d", entry);
  Append(text, "\n");
  for (int row = 0; row <= 6; ++row) {
    Append(text, "  row %d %s", row, row <= 3 ? "step" : "span");
    for (int entry = 1; entry <= 15; ++entry) Append(text, " %6u", image.Word(address(row, entry)));
    Append(text, "\n");
  }
}

void DescribeGeneratorWords(const card::EepromImage& image, std::string& text) {
  Append(text, "\nGenerator levels\n");
  const uint16_t gainLow = image.Word(layout::kGenGainLow), gainMid = image.Word(layout::kGenGainMid);
  const int16_t ampZero = Signed(image.Word(layout::kGenAmpZero));
  Append(text, "  GenGainLow        (762) %6u  gain x%.2f\n", gainLow, gainLow / 100.0);
  Append(text, "  GenGainMid        (760) %6u  gain x%.3f\n", gainMid, gainMid / 1000.0);
  Append(text, "  GenAmpZero        (764) %6d  %.5f V\n", ampZero, ampZero / 100000.0);
  const struct {
    const char* name;
    uint16_t address;
  } zeros[] = {{"GenOffsetZeroLow ", layout::kGenOffsetZeroLow},
               {"GenOffsetZeroMid ", layout::kGenOffsetZeroMid},
               {"GenOffsetZeroHigh", layout::kGenOffsetZeroHigh}};
  for (const auto& z : zeros) {
    const int16_t value = Signed(image.Word(z.address));
    Append(text, "  %s (%u) %6d  %.4f V\n", z.name, z.address, value, value / 10000.0);
  }
  Append(text, "  unused word       (758) %6u\n", image.Word(layout::kGenUnused));
}

}  // namespace

std::string DescribeImage(const card::EepromImage& image) {
  std::string text;
  DescribeIdentity(image, ReadAsTheLibraryDoes(image), text);
  DescribeChannels(image, text);
  DescribeTable(image, "Generator offset DAC table (words at 332..541; units of 10 uV)", &layout::GenOffsetStep, text);
  DescribeTable(image, "Generator amplitude DAC table (words at 542..751; units of 2.5 uV)", &layout::GenAmpStep, text);
  DescribeGeneratorWords(image, text);
  return text;
}

}  // namespace rk350::tools
