// libFuzzer harness for what the scope's SCPI server reads from a client,
// without an instrument: the framer, the message parser, every setting's
// parameter reader and formatter, and the error queue. Beyond the
// sanitizers' checks:
//   - the framer gives the same messages and errors whether the bytes come
//     whole or in pieces (a client's writes are cut anywhere by TCP), and
//     keeps no more than its limits;
//   - a setting's value read from a message, formatted as a query answers it
//     and read again is the same value (a client that sends back what it was
//     told changes nothing);
//   - the error queue never holds more than its length, says "Queue
//     overflow" at most once and last, and its texts are ASCII.
//
// Input layout: the first byte picks the part (framer, message and
// settings, error queue); for the framer the second byte seeds where the
// stream is cut; the rest is the text.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "scpi/ieee488_status.h"
#include "scpi/scpi_parser.h"
#include "scpi/scpi_settings.h"

namespace {

using namespace rk350::scpi;

[[noreturn]] void Violation(const char* what, const std::string& detail) {
  std::fprintf(stderr, "\n==== oracle: %s: %s\n", what, detail.substr(0, 300).c_str());
  std::fflush(stderr);
  std::abort();
}

constexpr std::size_t kMaxMessage = 512, kMaxBlock = 256;

std::string Describe(const std::vector<MessageFramer::Item>& items) {
  std::string text;
  for (const auto& item : items)
    text += item.error ? "E" + std::to_string(item.error->code) + "|" : "M" + item.message + "|";
  return text;
}

void Framer(std::string_view bytes, unsigned seed) {
  MessageFramer whole(kMaxMessage, kMaxBlock), pieces(kMaxMessage, kMaxBlock);
  const auto all = whole.Feed(bytes);
  std::vector<MessageFramer::Item> cut;
  std::size_t at = 0;
  while (at < bytes.size()) {
    seed = seed * 1103515245u + 12345u;
    const std::size_t length = std::min<std::size_t>(bytes.size() - at, 1 + (seed >> 16) % 7);
    for (auto& item : pieces.Feed(bytes.substr(at, length))) cut.push_back(std::move(item));
    at += length;
  }
  if (Describe(all) != Describe(cut)) Violation("framer", "pieces differ: " + Describe(all) + " vs " + Describe(cut));
  for (const auto& item : all)
    if (!item.error && item.message.size() > kMaxMessage + kMaxBlock + 16)
      Violation("framer", "a message above its limits kept");
  if (whole.InsideBlock()) (void)whole.Abandon();
}

bool SameValue(const rk350::capture::SettingValue& a, const rk350::capture::SettingValue& b) {
  if (a.index() != b.index()) return false;
  if (const auto* x = std::get_if<double>(&a)) {
    const double y = std::get<double>(b);
    return *x == y || std::fabs(*x - y) <= 1e-12 * std::max(std::fabs(*x), std::fabs(y));
  }
  return a == b;
}

// Each command of the message whose header names a setting: its parameter
// read, formatted, parsed and read again.
void MessageAndSettings(std::string_view text) {
  const ParsedMessage parsed = ParseMessage(text);
  for (const Command& command : parsed.commands) {
    if (command.query || command.common || command.parameters.size() != 1) continue;
    for (const ScpiSetting& setting : ScpiSettings()) {
      for (int channel = 1; channel <= 2; ++channel) {
        const auto* row = TableRow(setting, channel);
        if (row == nullptr) continue;
        Error error;
        const auto value = ReadSetting(setting, *row, command.parameters[0], error);
        if (!value) {
          if (error.code == 0 || error.message.empty()) Violation("settings", "refused without a reason");
          continue;
        }
        const std::string answer = FormatSetting(setting, *row, *value);
        const ParsedMessage again = ParseMessage(":X " + answer);
        if (again.error || again.commands.size() != 1 || again.commands[0].parameters.size() != 1)
          Violation("round trip", std::string(setting.header) + ": the answer " + answer + " does not parse");
        Error second;
        const auto reread = ReadSetting(setting, *row, again.commands[0].parameters[0], second);
        if (!reread || !SameValue(*value, *reread))
          Violation("round trip", std::string(setting.header) + ": " + answer + " reads back otherwise");
      }
    }
  }
}

void ErrorQueue(std::string_view bytes) {
  Ieee488Status status;
  std::size_t i = 0;
  for (const unsigned char op : bytes) {
    ++i;
    if (op % 4 == 0) {
      (void)status.PopError();
    } else if (op % 4 == 1 && op > 200) {
      status.Clear();
    } else {
      status.Push({-100 - op % 200, std::string(bytes.substr(i, op % 9))});  // -350 is the queue's own
    }
    if (status.ErrorCount() > 32) Violation("error queue", "longer than its length");
  }
  int overflows = 0;
  for (;;) {
    const std::string entry = status.PopError();
    if (entry == "0,\"No error\"") break;
    for (const unsigned char c : entry)
      if (c >= 0x80) Violation("error queue", "a text that is not ASCII: " + entry);
    if (overflows > 0) Violation("error queue", "an entry after the overflow");
    if (entry.rfind("-350,", 0) == 0) ++overflows;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data) + 2, size - 2);
  switch (data[0] % 3) {
    case 0:
      Framer(text, data[1]);
      break;
    case 1:
      MessageAndSettings(text);
      break;
    default:
      ErrorQueue(text);
  }
  return 0;
}
