#include "card/eeprom_image.h"

#include <iterator>
#include <string_view>

namespace rk350::card {

namespace L = eeprom_layout;

EepromImage EepromImage::Default() {
  EepromImage image;
  image.Bytes().fill(0);
  image.SetByte(L::kSignature, 0xAA);
  image.SetByte(L::kModelCode, 0x50);
  image.SetByte(L::kSerialLow, 0x39);  // serial number 12345
  image.SetByte(L::kSerialLow + 1, 0x30);
  image.SetByte(L::kGeneratorFitted, 0);
  image.SetByte(L::kYearLow, 2026 & 0xFF);
  image.SetByte(L::kYearLow + 1, 2026 >> 8);
  image.SetByte(L::kMonth, 11);
  image.SetByte(L::kDay, 3);
  image.SetByte(L::kHour, 14);
  image.SetByte(L::kMinute, 30);

  // Input front end: an offset of V volts at full scale S needs
  // T = DcZero - 4 * DcGain * V / S DAC units; coarse steps of DcStep / 100,
  // a fine DAC spanning DcScale / 50. With DcGain 1000, DcZero 12800 and
  // coarse steps of 100, every level within twice the full scale needs
  // 48..208 coarse steps, and a span of 120 keeps the fine code inside 0..255.
  for (int channel = 1; channel <= 2; ++channel) {
    for (int range = 1; range <= 12; ++range) {
      const uint16_t rec = L::ChannelRecord(channel, range);
      const int spread = (range * 7 + channel * 3) % 11 - 5;  // a few units of card-to-card spread
      image.SetByte(rec + L::kRecOffsetTrim, static_cast<uint8_t>(128 + spread));
      image.SetByte(rec + L::kRecInterleaveOffsetTrim, static_cast<uint8_t>(128 - spread));
      image.SetWord(rec + L::kRecDcGain, static_cast<uint16_t>(1000 + spread));
      image.SetWord(rec + L::kRecDcZero, static_cast<uint16_t>(12800 + 4 * spread));
      image.SetWord(rec + L::kRecInterleaveDcZero, static_cast<uint16_t>(12800 - 4 * spread));
      image.SetWord(rec + L::kRecDcStep, 10000);
      image.SetWord(rec + L::kRecDcScale, 6000);
    }
  }

  // Generator: amplitude steps of 0.04 V (16000 units of 2.5 uV) and fine
  // spans of 16200 units cover 0..10.1 V; offset steps of 0.08 V (8000 units
  // of 10 uV) with spans of 8100 cover 0..20.3 V of offset target.
  for (int entry = 1; entry <= 15; ++entry) {
    for (int row = 0; row <= 3; ++row) {
      image.SetWord(L::GenAmpStep(row, entry), 16000);
      image.SetWord(L::GenOffsetStep(row, entry), 8000);
    }
    for (int row = 4; row <= 6; ++row) {
      image.SetWord(L::GenAmpStep(row, entry), 16200);
      image.SetWord(L::GenOffsetStep(row, entry), 8100);
    }
  }
  image.SetWord(L::kGenOffsetZeroHigh, 123);  // 12.3 mV
  image.SetWord(L::kGenOffsetZeroMid, 45);
  image.SetWord(L::kGenOffsetZeroLow, static_cast<uint16_t>(-17));
  image.SetWord(L::kGenUnused, 0);
  image.SetWord(L::kGenGainMid, 10000);  // x10
  image.SetWord(L::kGenGainLow, 10000);  // x100
  image.SetWord(L::kGenAmpZero, 20);     // 0.2 mV
  return image;
}

EepromImage EepromImage::OfVariant(EepromVariant variant) {
  EepromImage image = Default();
  switch (variant) {
    case EepromVariant::kBlank:
      return EepromImage();
    case EepromVariant::kWrongModel:
      image.SetByte(L::kModelCode, 0x51);
      break;
    case EepromVariant::kInvalidDate:
      image.SetByte(L::kMonth, 13);
      break;
    case EepromVariant::kNoGenerator:
      image.SetByte(L::kGeneratorFitted, 1);
      break;
    case EepromVariant::kDefault:
    case EepromVariant::kNoAnswer:
      break;
  }
  return image;
}

namespace {
constexpr const char* kVariantNames[kEepromVariantCount] = {"default",     "blank",        "no-answer",
                                                            "wrong-model", "invalid-date", "no-generator"};
}

const char* EepromVariantName(EepromVariant variant) {
  const auto index = static_cast<std::size_t>(variant);
  return index < std::size(kVariantNames) ? kVariantNames[index] : "unknown";
}

bool EepromVariantFromName(const char* name, EepromVariant& variant) {
  if (name == nullptr) return false;
  for (std::size_t i = 0; i < std::size(kVariantNames); ++i) {
    if (std::string_view(name) == kVariantNames[i]) {
      variant = static_cast<EepromVariant>(i);
      return true;
    }
  }
  return false;
}

}  // namespace rk350::card
