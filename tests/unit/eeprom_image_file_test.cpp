// EEPROM images as files: raw dumps and the hex text form, and refusal of
// input that does not describe this card's memory.
#include "card/eeprom_image_file.h"

#include <gtest/gtest.h>

#include <string>

namespace rk350::card {
namespace {

TEST(EepromImageFile, HexTextRoundTripsEveryVariant) {
  for (int v = 0; v < kEepromVariantCount; ++v) {
    const EepromImage image = EepromImage::OfVariant(static_cast<EepromVariant>(v));
    EepromImage parsed;
    std::string error;
    ASSERT_TRUE(ParseHexImage(HexImage(image), parsed, error)) << error;
    EXPECT_EQ(parsed.Bytes(), image.Bytes()) << EepromVariantName(static_cast<EepromVariant>(v));
    ASSERT_TRUE(ParseBinaryImage(BinaryImage(image), parsed, error)) << error;
    EXPECT_EQ(parsed.Bytes(), image.Bytes());
  }
}

TEST(EepromImageFile, HexTextNamesOnlySomeBytes) {
  EepromImage image = EepromImage::Default();
  std::string error;
  ASSERT_TRUE(ParseHexImage("# a card\n\n0000: 00 aa\n  0005:50 # model\r\n0FFF: 7e\n", image, error)) << error;
  EXPECT_EQ(image.Byte(1), 0xAA);
  EXPECT_EQ(image.Byte(5), 0x50);
  EXPECT_EQ(image.Byte(4095), 0x7E);
  EXPECT_EQ(image.Byte(2), 0xFF) << "unnamed bytes read erased";
}

TEST(EepromImageFile, BadHexTextIsRefusedAndChangesNothing) {
  const char* bad[] = {
      "0000 00 AA\n",                                                // no colon
      "00000: 00\n",                                                 // address too long
      "0000: 0AA\n",                                                 // byte too long
      "0000: 00 GG\n",                                               // not hexadecimal
      "0FFF: 00 11\n",                                               // runs past the end
      "1000: 00\n",                                                  // beyond the memory
      "0000: 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10\n",  // 17 bytes
      ": 00\n",                                                      // no address
  };
  for (const char* text : bad) {
    EepromImage image = EepromImage::Default();
    std::string error;
    EXPECT_FALSE(ParseHexImage(text, image, error)) << text;
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(image.Bytes(), EepromImage::Default().Bytes()) << text;
  }
}

TEST(EepromImageFile, BinaryDumpsOfOtherSizes) {
  EepromImage image = EepromImage::Default();
  std::string error;
  ASSERT_TRUE(ParseBinaryImage(std::string("\x00\xAA", 2), image, error));
  EXPECT_EQ(image.Byte(1), 0xAA);
  EXPECT_EQ(image.Byte(2), 0xFF);
  // A larger part holding only this card's data: the rest is erased.
  std::string big = BinaryImage(EepromImage::Default()) + std::string(4096, '\xFF');
  ASSERT_TRUE(ParseBinaryImage(big, image, error));
  EXPECT_EQ(image.Bytes(), EepromImage::Default().Bytes());
  // Data beyond the card's memory, or nothing at all, is refused.
  big[5000] = 0;
  EepromImage untouched = EepromImage::Default();
  EXPECT_FALSE(ParseBinaryImage(big, untouched, error));
  EXPECT_FALSE(ParseBinaryImage("", untouched, error));
  EXPECT_EQ(untouched.Bytes(), EepromImage::Default().Bytes());
}

TEST(EepromImageFile, FormatFollowsTheFileName) {
  EXPECT_EQ(FormatOfPath("card.hex"), ImageFormat::kHex);
  EXPECT_EQ(FormatOfPath("card.txt"), ImageFormat::kHex);
  EXPECT_EQ(FormatOfPath("card.bin"), ImageFormat::kBinary);
  EXPECT_EQ(FormatOfPath("hex"), ImageFormat::kBinary);
}

TEST(EepromImageFile, VariantNamesRoundTrip) {
  for (int v = 0; v < kEepromVariantCount; ++v) {
    EepromVariant parsed{};
    ASSERT_TRUE(EepromVariantFromName(EepromVariantName(static_cast<EepromVariant>(v)), parsed));
    EXPECT_EQ(parsed, static_cast<EepromVariant>(v));
  }
  EepromVariant parsed = EepromVariant::kBlank;
  EXPECT_FALSE(EepromVariantFromName("defaults", parsed));
  EXPECT_FALSE(EepromVariantFromName(nullptr, parsed));
  EXPECT_EQ(parsed, EepromVariant::kBlank);
}

}  // namespace
}  // namespace rk350::card
