#include "svg_plot.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <sstream>

#include "csv_writer.h"
#include "summary.h"

namespace rk350::capture {
namespace {

constexpr const char* kChannelColours[] = {"#1f5fbf", "#c8321e", "#2a9d3a", "#8e44ad"};
constexpr double kLeft = 84, kRight = 24, kTop = 48, kBottom = 64;

// Locale-free, without a stream per number (a picture has thousands).
std::string Fixed(double value, int decimals = 1) {
  char buffer[400];  // any double in fixed notation
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
  if (result.ec != std::errc()) return "0";
  return std::string(buffer, result.ptr);
}

// Tick label: enough decimals to tell neighbouring ticks apart.
std::string TickLabel(double value, double step) {
  if (std::fabs(value) < step * 1e-9) value = 0.0;
  const int decimals = std::clamp(static_cast<int>(std::ceil(-std::log10(step) - 1e-9)), 0, 9);
  return Fixed(value, decimals);
}

struct Extent {
  double low = std::numeric_limits<double>::infinity();
  double high = -std::numeric_limits<double>::infinity();
  void Add(double v) {
    if (!std::isfinite(v)) return;
    low = std::min(low, v);
    high = std::max(high, v);
  }
};

}  // namespace

std::string EscapeXml(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

AxisTicks NiceTicks(double low, double high, int maximumCount) {
  AxisTicks t;
  if (!(high > low) || !std::isfinite(low) || !std::isfinite(high) || maximumCount < 2) return t;
  const double rough = (high - low) / (maximumCount - 1);
  const double power = std::pow(10.0, std::floor(std::log10(rough)));
  double step = 10.0 * power;
  for (double m : {1.0, 2.0, 5.0}) {
    if (m * power >= rough * (1 - 1e-9)) {
      step = m * power;
      break;
    }
  }
  t.step = step;
  t.first = std::ceil(low / step - 1e-9) * step;
  t.count = static_cast<int>(std::floor((high - t.first) / step + 1e-9)) + 1;
  return t;
}

TimeUnit ChooseTimeUnit(double largestMagnitude) {
  if (largestMagnitude >= 1.0) return {1.0, "s"};
  if (largestMagnitude >= 1e-3) return {1e3, "ms"};
  if (largestMagnitude >= 1e-6) return {1e6, "\xC2\xB5s"};
  return {1e9, "ns"};
}

std::string RenderSvg(const Record& record, const PlotOptions& options) {
  const double width = std::max(options.width, 320);
  const double height = std::max(options.height, 200);
  const double plotW = width - kLeft - kRight;
  const double plotH = height - kTop - kBottom;
  const std::size_t length = record.Length();

  // Horizontal: the record's time span (one sample wide at least).
  const double rate = record.sampleRate > 0 ? record.sampleRate : 1.0;
  Record timing = record;
  timing.sampleRate = rate;
  double t0 = timing.TimeOf(0);
  double t1 = timing.TimeOf(length > 1 ? length - 1 : 1);
  const TimeUnit unit = ChooseTimeUnit(std::max(std::fabs(t0), std::fabs(t1)));
  t0 *= unit.factor;
  t1 *= unit.factor;

  // Vertical: the data with a margin, and the trigger level.
  Extent y;
  for (const auto& ch : record.channels)
    for (double v : ch.volts) y.Add(v);
  if (record.triggerLevel) y.Add(*record.triggerLevel);
  if (!std::isfinite(y.low)) y = Extent{-1.0, 1.0};
  double span = y.high - y.low;
  if (span < 1e-9) span = std::max(std::fabs(y.high) * 0.2, 0.02);
  double v0 = y.low - span * 0.08;
  double v1 = y.high + span * 0.08;
  const bool millivolts = std::max(std::fabs(v0), std::fabs(v1)) < 0.5;
  const double vScale = millivolts ? 1e3 : 1.0;
  v0 *= vScale;
  v1 *= vScale;

  auto X = [&](double t) { return kLeft + (t - t0) / (t1 - t0) * plotW; };
  auto Y = [&](double v) { return kTop + (v1 - v) / (v1 - v0) * plotH; };

  std::ostringstream s;
  s.imbue(std::locale::classic());
  s << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\"" << height << "\" viewBox=\"0 0 "
    << width << ' ' << height << "\" font-family=\"sans-serif\" font-size=\"13\">\n"
    << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
    << "<text x=\"" << width / 2 << "\" y=\"28\" text-anchor=\"middle\" font-size=\"17\">" << EscapeXml(options.title)
    << "</text>\n";

  // Grid and tick labels.
  s << "<g stroke=\"#dddddd\" stroke-width=\"1\">\n";
  const AxisTicks xt = NiceTicks(t0, t1, 11);
  const AxisTicks yt = NiceTicks(v0, v1, 9);
  for (int i = 0; i < xt.count; ++i) {
    const double x = X(xt.first + i * xt.step);
    s << "<line x1=\"" << Fixed(x) << "\" y1=\"" << kTop << "\" x2=\"" << Fixed(x) << "\" y2=\"" << kTop + plotH
      << "\"/>\n";
  }
  for (int i = 0; i < yt.count; ++i) {
    const double yy = Y(yt.first + i * yt.step);
    s << "<line x1=\"" << kLeft << "\" y1=\"" << Fixed(yy) << "\" x2=\"" << kLeft + plotW << "\" y2=\"" << Fixed(yy)
      << "\"/>\n";
  }
  s << "</g>\n<g fill=\"#333333\">\n";
  for (int i = 0; i < xt.count; ++i) {
    const double t = xt.first + i * xt.step;
    s << "<text x=\"" << Fixed(X(t)) << "\" y=\"" << kTop + plotH + 18 << "\" text-anchor=\"middle\">"
      << TickLabel(t, xt.step) << "</text>\n";
  }
  for (int i = 0; i < yt.count; ++i) {
    const double v = yt.first + i * yt.step;
    s << "<text x=\"" << kLeft - 8 << "\" y=\"" << Fixed(Y(v) + 4) << "\" text-anchor=\"end\">" << TickLabel(v, yt.step)
      << "</text>\n";
  }
  s << "</g>\n";
  s << "<text x=\"" << kLeft + plotW / 2 << "\" y=\"" << height - 16 << "\" text-anchor=\"middle\">time (" << unit.name
    << "), 0 = trigger</text>\n";
  s << "<text transform=\"translate(22 " << kTop + plotH / 2 << ") rotate(-90)\" text-anchor=\"middle\">voltage ("
    << (millivolts ? "mV" : "V") << ")</text>\n";

  // Positions that hold no samples: shaded (half a sample beyond each end)
  // and left without a trace.
  for (const EmptyRun& run : record.EmptyRuns()) {
    const double x0 = std::max<double>(kLeft, X((timing.TimeOf(run.first) - 0.5 / timing.sampleRate) * unit.factor));
    const double x1 = std::min<double>(
        kLeft + plotW, X((timing.TimeOf(run.first + run.count - 1) + 0.5 / timing.sampleRate) * unit.factor));
    s << "<rect class=\"empty\" x=\"" << Fixed(x0) << "\" y=\"" << kTop << "\" width=\""
      << Fixed(std::max(0.0, x1 - x0)) << "\" height=\"" << plotH << "\" fill=\"#eeeeee\"/>\n";
    if (x1 - x0 > 20)
      s << "<text x=\"" << Fixed((x0 + x1) / 2) << "\" y=\"" << kTop + plotH / 2
        << "\" text-anchor=\"middle\" fill=\"#777777\" transform=\"rotate(-90 " << Fixed((x0 + x1) / 2) << ' '
        << kTop + plotH / 2 << ")\">no samples</text>\n";
  }

  // Traces, clipped to the plot area; long records are reduced to the
  // minimum and maximum of each pixel column so every peak stays visible.
  s << "<clipPath id=\"plot\"><rect x=\"" << kLeft << "\" y=\"" << kTop << "\" width=\"" << plotW << "\" height=\""
    << plotH << "\"/></clipPath>\n";
  for (std::size_t c = 0; c < record.channels.size(); ++c) {
    const auto& ch = record.channels[c];
    const std::size_t n = ch.volts.size();
    auto point = [&](std::size_t i) {
      s << Fixed(X(timing.TimeOf(i) * unit.factor)) << ',' << Fixed(Y(ch.volts[i] * vScale)) << ' ';
    };
    // One polyline per run of positions that hold samples.
    for (std::size_t first = 0; first < n;) {
      if (std::isnan(ch.volts[first])) {
        ++first;
        continue;
      }
      std::size_t end = first;
      while (end < n && !std::isnan(ch.volts[end])) ++end;
      s << "<polyline clip-path=\"url(#plot)\" fill=\"none\" stroke-width=\"1.4\" stroke-linejoin=\"round\" "
           "stroke=\""
        << kChannelColours[c % 4] << "\" points=\"";
      const std::size_t columns = static_cast<std::size_t>(plotW);
      const std::size_t shown = end - first;
      if (shown <= 2 * columns) {
        for (std::size_t i = first; i < end; ++i) point(i);
      } else {
        for (std::size_t col = 0; col < columns; ++col) {
          const std::size_t begin = first + col * shown / columns;
          const std::size_t stop = std::max(begin + 1, first + (col + 1) * shown / columns);
          std::size_t lo = begin, hi = begin;
          for (std::size_t i = begin; i < stop; ++i) {
            if (ch.volts[i] < ch.volts[lo]) lo = i;
            if (ch.volts[i] > ch.volts[hi]) hi = i;
          }
          point(std::min(lo, hi));
          point(std::max(lo, hi));
        }
      }
      s << "\"/>\n";
      first = end;
    }
  }

  // Trigger point: a dashed vertical line at t = 0 and the level.
  if (0.0 >= t0 && 0.0 <= t1) {
    const double x = X(0.0);
    s << "<line x1=\"" << Fixed(x) << "\" y1=\"" << kTop << "\" x2=\"" << Fixed(x) << "\" y2=\"" << kTop + plotH
      << "\" stroke=\"#444444\" stroke-dasharray=\"6 4\"/>\n"
      << "<path d=\"M " << Fixed(x - 7) << ' ' << kTop - 10 << " L " << Fixed(x + 7) << ' ' << kTop - 10 << " L "
      << Fixed(x) << ' ' << kTop
      << " Z\" fill=\"#444444\"/>\n"
      // The label goes above the frame, beside the marker: inside the plot it
      // would lie across the trace.
      << "<text x=\"" << Fixed(x + 10) << "\" y=\"" << kTop - 2 << "\" fill=\"#444444\">trigger";
    if (record.triggerLevel)
      s << "<tspan>, " << EscapeXml(record.triggerChannel) << " level " << FormatNumber(*record.triggerLevel)
        << " V</tspan>";
    s << "</text>\n";
    if (record.triggerLevel) {
      const double yy = Y(*record.triggerLevel * vScale);
      s << "<line x1=\"" << Fixed(x - 40) << "\" y1=\"" << Fixed(yy) << "\" x2=\"" << Fixed(x + 40) << "\" y2=\""
        << Fixed(yy) << "\" stroke=\"#444444\" stroke-width=\"1.5\"/>\n";
    }
  }

  // Frame and legend.
  s << "<rect x=\"" << kLeft << "\" y=\"" << kTop << "\" width=\"" << plotW << "\" height=\"" << plotH
    << "\" fill=\"none\" stroke=\"#333333\"/>\n";
  for (std::size_t c = 0; c < record.channels.size(); ++c) {
    const auto& ch = record.channels[c];
    const double ly = kTop + 18 + 18.0 * static_cast<double>(c);
    const double lx = kLeft + plotW - 190;
    s << "<line x1=\"" << lx << "\" y1=\"" << ly - 4 << "\" x2=\"" << lx + 24 << "\" y2=\"" << ly - 4
      << "\" stroke-width=\"3\" stroke=\"" << kChannelColours[c % 4] << "\"/>\n<text x=\"" << lx + 30 << "\" y=\"" << ly
      << "\">" << EscapeXml(ch.name);
    if (ch.fullScale > 0) s << " (\xC2\xB1" << FormatNumber(ch.fullScale) << " V range)";
    s << "</text>\n";
  }
  s << "<text x=\"" << kLeft << "\" y=\"" << height - 16 << "\" fill=\"#666666\" font-size=\"11\">"
    << FormatHertz(record.sampleRate) << " sample rate, " << length << " samples</text>\n";
  s << "</svg>\n";
  return s.str();
}

}  // namespace rk350::capture
