#include "scpi/scpi_waveform.h"

#include <algorithm>
#include <cmath>

#include "core/frame.h"
#include "scpi/scpi_parser.h"

namespace rk350::scpi {
namespace {

// The step of one code of a format, in volts.
double Step(const capture::ChannelTrace& trace, WaveformFormat format) {
  switch (format) {
    case WaveformFormat::Byte:
      return trace.fullScale / 128.0;
    case WaveformFormat::Word:
      return trace.fullScale / 32768.0;
    case WaveformFormat::Ascii:
      break;
  }
  return 1.0;
}

double Reference(WaveformFormat format) {
  return format == WaveformFormat::Byte ? 128.0 : format == WaveformFormat::Word ? 32768.0 : 0.0;
}

// The code of a value; a position without a sample (inside the held range
// only when averaged records disagree) gets 0, the code of none.
long Code(double volts, double step, double reference, long highest) {
  if (std::isnan(volts) || step <= 0) return 0;
  const double code = std::clamp(volts / step + reference, 0.0, static_cast<double>(highest));
  return static_cast<long>(code + 0.5);  // codes are not negative: truncation rounds
}

}  // namespace

std::string WaveformBlock(const capture::ChannelTrace& trace, WaveformFormat format) {
  std::size_t first = 0, count = 0;
  scope::HeldRange(trace, first, count);
  const double step = Step(trace, format);
  std::string data;
  switch (format) {
    case WaveformFormat::Byte:
      data.resize(count);
      for (std::size_t i = 0; i < count; ++i)
        data[i] = static_cast<char>(Code(trace.volts[first + i], step, 128.0, 255));
      break;
    case WaveformFormat::Word:
      data.resize(2 * count);
      for (std::size_t i = 0; i < count; ++i) {
        const long code = Code(trace.volts[first + i], step, 32768.0, 65535);
        data[2 * i] = static_cast<char>(code >> 8);
        data[2 * i + 1] = static_cast<char>(code & 0xFF);
      }
      break;
    case WaveformFormat::Ascii:
      data.reserve(count * 12);
      for (std::size_t i = 0; i < count; ++i) {
        if (i != 0) data += ',';
        data += FormatNumber(trace.volts[first + i]);
      }
      break;
  }
  return DefiniteBlock(data);
}

std::string WaveformPreamble(const capture::Record& record, const capture::ChannelTrace& trace, WaveformFormat format,
                             int averaged) {
  std::size_t first = 0, count = 0;
  scope::HeldRange(trace, first, count);
  const int formatCode = format == WaveformFormat::Byte ? 0 : format == WaveformFormat::Word ? 1 : 4;
  const std::string fields[] = {
      std::to_string(formatCode),
      averaged > 1 ? "2" : "0",
      std::to_string(count),
      std::to_string(std::max(1, averaged)),
      FormatNumber(1.0 / record.sampleRate),
      FormatNumber(record.TimeOf(first)),
      "0",
      FormatNumber(Step(trace, format)),
      "0",
      FormatNumber(Reference(format)),
  };
  std::string out;
  for (const auto& f : fields) out += (out.empty() ? "" : ",") + f;
  return out;
}

}  // namespace rk350::scpi
