#include "csv_writer.h"

#include <charconv>

namespace rk350::capture {

std::string FormatNumber(double value) {
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

void WriteCsv(std::ostream& out, const Record& record) {
  // With codes (--raw) the columns hold them instead of volts.
  const bool codes = record.codes.size() == record.channels.size() && !record.codes.empty();
  out << "time_s";
  for (const auto& channel : record.channels) out << ',' << channel.name << (codes ? "_code" : "_V");
  out << '\n';
  const std::size_t length = record.Length();
  std::string line;
  for (std::size_t i = 0; i < length; ++i) {
    line = FormatNumber(record.TimeOf(i));
    for (std::size_t c = 0; c < record.channels.size(); ++c) {
      line += ',';
      if (codes) {
        if (i < record.codes[c].size()) line += std::to_string(record.codes[c][i]);
      } else if (i < record.channels[c].volts.size()) {
        line += FormatNumber(record.channels[c].volts[i]);
      }
    }
    line += '\n';
    out << line;
  }
}

}  // namespace rk350::capture
