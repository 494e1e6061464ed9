// An independent check of the EEPROM wire protocol: the card's clock and data
// wires during a ReadByte are captured as a logic trace and decoded by
// sigrok's I2C protocol decoder, which nobody here wrote. The test fails when
// sigrok-cli is missing (scripts/install-deps.sh installs it).
#include <gtest/gtest.h>

// A check run on the Linux build machine, where sigrok-cli lives.
#if !defined(_WIN32)
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "support/recorded_instrument.h"
#include "support/run_command.h"

namespace rk350 {
namespace {

using testing::RecordedBus;

using testing::RunCommand;

// A file in the temporary directory, removed again at the end.
class TemporaryFile {
 public:
  TemporaryFile() {
    char name[] = "/tmp/rk350-eeprom-XXXXXX";
    const int fd = mkstemp(name);
    if (fd >= 0) {
      close(fd);
      path_ = name;
    }
  }
  ~TemporaryFile() {
    if (!path_.empty()) std::remove(path_.c_str());
  }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// The decoder's annotations, one per line as "i2c-1: Address write: 50"; the
// bare "Read"/"Write" direction lines are left out.
std::vector<std::string> Annotations(const std::string& output) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < output.size()) {
    size_t end = output.find('\n', start);
    if (end == std::string::npos) end = output.size();
    std::string line = output.substr(start, end - start);
    start = end + 1;
    const std::string prefix = "i2c-1: ";
    if (line.rfind(prefix, 0) != 0) continue;
    line.erase(0, prefix.size());
    if (line == "Read" || line == "Write") continue;
    lines.push_back(line);
  }
  return lines;
}

TEST(EepromSigrok, ReadByteDecodesAsARandomRead) {
  std::string found;
  int status = 0;
  ASSERT_TRUE(RunCommand("command -v sigrok-cli", found, status) && status == 0 && !found.empty())
      << "sigrok-cli is needed for this check: run scripts/install-deps.sh";

  RecordedBus bus;
  TRK350 instrument(nullptr);
  bus.Card().Eeprom().Memory().Image().SetByte(0x0105, 0x3C);
  bus.Card().Eeprom().StartTrace();
  ASSERT_EQ(instrument.ReadByte(0x0105), 0x3C);
  bus.Card().Eeprom().StopTrace();

  TemporaryFile trace;
  ASSERT_FALSE(trace.Path().empty());
  {
    std::ofstream out(trace.Path());
    out << bus.Card().Eeprom().Trace().Vcd();
    ASSERT_TRUE(out.good());
  }
  std::string output;
  ASSERT_TRUE(RunCommand("sigrok-cli -I vcd -i " + trace.Path() +
                             " -P i2c:scl=scl:sda=sda"
                             " -A i2c=start:stop:ack:nack:address-read:address-write:data-read:data-write 2>&1",
                         output, status));
  ASSERT_EQ(status, 0) << output;
  const std::vector<std::string> expected = {"Start", "Address write: 50",
                                             "ACK",   "Data write: 01",
                                             "ACK",   "Data write: 05",
                                             "ACK",   "Stop",
                                             "Start", "Address read: 50",
                                             "ACK",   "Data read: 3C",
                                             "NACK",  "Stop"};
  EXPECT_EQ(Annotations(output), expected) << output;
}

}  // namespace
}  // namespace rk350

#endif  // !_WIN32
