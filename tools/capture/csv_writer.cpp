#include "csv_writer.h"

#include <charconv>
#include <cmath>

namespace rk350::capture {

std::string FormatNumber(double value) {
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

void WriteCsv(std::ostream& out, const Record& record) {
  out << "time_s";
  for (const auto& channel : record.channels) out << ',' << channel.name << "_V";
  out << '\n';
  const std::size_t length = record.Length();
  std::string line;
  for (std::size_t i = 0; i < length; ++i) {
    line = FormatNumber(record.TimeOf(i));
    for (const auto& channel : record.channels) {
      line += ',';
      // A position without a sample is an empty cell.
      if (i < channel.volts.size() && !std::isnan(channel.volts[i])) line += FormatNumber(channel.volts[i]);
    }
    line += '\n';
    out << line;
  }
}

}  // namespace rk350::capture
