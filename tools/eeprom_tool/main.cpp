// eeprom_tool: shows, makes, converts and edits images of the RK350 card's
// EEPROM, so that a virtual card can carry the content of a real one.
//
//   eeprom_tool show IMAGE                 decode identity, date, calibration
//   eeprom_tool make VARIANT OUT           write the image of a card variant
//   eeprom_tool convert IN OUT             between binary dumps and hex text
//   eeprom_tool set IN OUT SETTING...      change identity or single values
//   eeprom_tool variants                   list the variants
//
// Files ending in .hex or .txt are hex text, everything else raw binary.
// Exit status: 0 done, 1 an input or setting refused, 2 bad command line,
// 3 the output cannot be written (then no file is left under its name).
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "atomic_file.h"
#include "card/eeprom_image.h"
#include "card/eeprom_image_file.h"
#include "image_edit.h"
#include "image_report.h"

namespace {

using rk350::card::EepromImage;
using rk350::card::EepromVariant;

constexpr int kExitRefused = 1;  // an input file or setting is refused
constexpr int kExitUsage = 2;
constexpr int kExitFiles = 3;  // the output file cannot be written

int Usage() {
  std::fprintf(stderr,
               "usage:\n"
               "  eeprom_tool show IMAGE\n"
               "  eeprom_tool make VARIANT OUT\n"
               "  eeprom_tool convert IN OUT\n"
               "  eeprom_tool set IN OUT SETTING...\n"
               "  eeprom_tool variants\n"
               "Images ending in .hex or .txt are hex text (\"AAAA: xx xx ...\"), others raw binary.\n"
               "Settings:\n%s",
               rk350::tools::SettingsHelp());
  return kExitUsage;
}

int Fail(const std::string& error, int status = kExitRefused) {
  std::fprintf(stderr, "eeprom_tool: %s\n", error.c_str());
  return status;
}

// The image file is complete or absent.
int Write(const std::string& path, const EepromImage& image) {
  std::string error;
  const std::string content = rk350::card::ImageFileContent(path, image);
  if (!rk350::tools::WriteFileAtomically(
          path, [&](std::ostream& out) { out << content; }, error)) {
    return Fail(error, kExitFiles);
  }
  return 0;
}

int Show(const std::string& path) {
  EepromImage image;
  std::string error;
  if (!rk350::card::ReadImageFile(path, image, error)) return Fail(error);
  std::fputs(rk350::tools::DescribeImage(image).c_str(), stdout);
  return 0;
}

int Make(const std::string& variantName, const std::string& path) {
  EepromVariant variant{};
  if (!rk350::card::EepromVariantFromName(variantName.c_str(), variant)) {
    return Fail("unknown variant " + variantName + " (see: eeprom_tool variants)");
  }
  return Write(path, EepromImage::OfVariant(variant));
}

int Convert(const std::string& in, const std::string& out) {
  EepromImage image;
  std::string error;
  if (!rk350::card::ReadImageFile(in, image, error)) return Fail(error);
  return Write(out, image);
}

int Set(const std::string& in, const std::string& out, const std::vector<std::string>& settings) {
  EepromImage image;
  std::string error;
  if (!rk350::card::ReadImageFile(in, image, error)) return Fail(error);
  for (const std::string& setting : settings) {
    if (!rk350::tools::ApplySetting(setting, image, error)) return Fail(error);
  }
  return Write(out, image);
}

int Variants() {
  static constexpr const char* kMeaning[rk350::card::kEepromVariantCount] = {
      "a calibrated card: serial 12345, calibrated 2026-11-03 14:30, generator fitted",
      "erased memory, every byte 0xFF: no card is found",
      "no memory answers (the image is the default one): no card is found",
      "model code 0x51: the card is not an RK350 ISA and is not found",
      "calibration month 13: the date reads as 1980-01-01",
      "generator fitting byte 1: the card has no function generator"};
  for (int i = 0; i < rk350::card::kEepromVariantCount; ++i) {
    std::printf("%-13s %s\n", rk350::card::EepromVariantName(static_cast<EepromVariant>(i)), kMeaning[i]);
  }
  return 0;
}

int Run(const std::vector<std::string>& args) {
  if (args.empty()) return Usage();
  const std::string& command = args[0];
  if (command == "show" && args.size() == 2) return Show(args[1]);
  if (command == "make" && args.size() == 3) return Make(args[1], args[2]);
  if (command == "convert" && args.size() == 3) return Convert(args[1], args[2]);
  if (command == "set" && args.size() >= 4) return Set(args[1], args[2], {args.begin() + 3, args.end()});
  if (command == "variants" && args.size() == 1) return Variants();
  return Usage();
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const std::exception& e) {
    return Fail(e.what());
  }
}
