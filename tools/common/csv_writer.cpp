#include "csv_writer.h"

#include <charconv>
#include <cmath>

#include "text_output.h"

namespace rk350::capture {

std::string FormatNumber(double value) {
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

void WriteCsv(std::ostream& out, const Record& record, const std::vector<std::string>& notes) {
  // With codes (--raw) the columns hold them instead of volts.
  const bool codes = record.codes.size() == record.channels.size() && !record.codes.empty();
  TextOutput text(out);
  text.Put("time_s");
  for (const auto& channel : record.channels) {
    text.Put(',');
    text.Put(channel.name);
    text.Put(codes ? "_code" : "_V");
  }
  text.Put('\n');
  for (const auto& note : notes) {
    text.Put("# ");
    text.Put(note);
    text.Put('\n');
  }
  const std::size_t length = record.Length();
  NumberTexts volts;
  const SampleTimes times(record.sampleRate, record.triggerIndex);
  for (std::size_t i = 0; i < length; ++i) {
    times.Put(text, i);
    for (std::size_t c = 0; c < record.channels.size(); ++c) {
      text.Put(',');
      // A position without a sample (NaN) is an empty cell.
      const auto& v = record.channels[c].volts;
      if (i >= v.size() || std::isnan(v[i])) continue;
      if (!codes)
        text.Put(volts.Text(v[i]));
      else if (i < record.codes[c].size())
        text.Put(unsigned{record.codes[c][i]});
    }
    text.Put('\n');
  }
}

}  // namespace rk350::capture
