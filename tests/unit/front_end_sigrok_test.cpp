// An independent check of the front end's serial protocol: the card's serial
// lines during one ApplyFrontEnd are captured as a logic trace and decoded
// by sigrok's SPI protocol decoder (11-bit words under each DAC select),
// which nobody here wrote. The test fails when sigrok-cli is missing
// (scripts/install-deps.sh installs it).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "input_test_support.h"
#include "support/run_command.h"

namespace rk350 {
namespace {

using testing::CalibratedInstrument;

using testing::RunCommand;

// Words the SPI decoder saw on the data line, as hexadecimal text.
std::vector<std::string> DecodedWords(const std::string& vcdPath, const char* select) {
  std::string output;
  int status = 0;
  const std::string command = "sigrok-cli -I vcd -i " + vcdPath + " -P spi:clk=clk:mosi=data:cs=" + select +
                              ":wordsize=11:cpol=0:cpha=0:cs_polarity=active-low -A spi=mosi-data 2>&1";
  EXPECT_TRUE(RunCommand(command, output, status));
  EXPECT_EQ(status, 0) << output;
  std::vector<std::string> words;
  std::istringstream in(output);
  for (std::string line; std::getline(in, line);) {
    const std::string prefix = "spi-1: ";
    if (line.rfind(prefix, 0) == 0) words.push_back(line.substr(prefix.size()));
  }
  return words;
}

TEST_F(CalibratedInstrument, SigrokDecodesTheDacWordsOfApplyFrontEnd) {
  std::string found;
  int status = 0;
  ASSERT_TRUE(RunCommand("command -v sigrok-cli", found, status) && status == 0 && !found.empty())
      << "sigrok-cli is needed for this check: run scripts/install-deps.sh";

  In().SetChSensitivity(1, 2.0L);
  In().SetChDcLevel(1, 0.5L);
  In().SetChCoupling(2, 1);
  bus.Card().FrontEnd().StartTrace();
  In().ApplyFrontEnd();
  bus.Card().FrontEnd().StopTrace();

  char name[] = "/tmp/rk350-frontend-XXXXXX";
  const int fd = mkstemp(name);
  ASSERT_GE(fd, 0);
  close(fd);
  {
    std::ofstream out(name);
    out << bus.Card().FrontEnd().Trace().Vcd();
  }
  // Address in bits 10..8, value in 7..0 (see the exact traffic test).
  EXPECT_EQ(DecodedWords(name, "cs1"), (std::vector<std::string>{"588", "175", "4D6", "7C", "283"}));
  EXPECT_EQ(DecodedWords(name, "cs2"), (std::vector<std::string>{"57F", "17E", "41D", "80", "27F"}));
  if (!HasFailure()) std::remove(name);
}

}  // namespace
}  // namespace rk350
