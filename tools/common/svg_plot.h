// A plot of a record as a self-contained SVG document: every channel against
// time, labelled axes with units, grid, legend and the trigger point marked.
#pragma once

#include <string>
#include <vector>

#include "record.h"

namespace rk350::capture {

struct PlotOptions {
  std::string title = "RK350 capture";
  int width = 1000;  // px
  int height = 560;  // px
};

std::string RenderSvg(const Record& record, const PlotOptions& options);

// Axis helpers, exposed for tests.
struct AxisTicks {
  double first = 0.0;  // first tick at or above the low end
  double step = 1.0;   // 1, 2 or 5 times a power of ten
  int count = 0;
};
AxisTicks NiceTicks(double low, double high, int maximumCount);

// The engineering unit for a span of seconds: factor to multiply by, and its
// name ("s", "ms", "µs", "ns").
struct TimeUnit {
  double factor;
  const char* name;
};
TimeUnit ChooseTimeUnit(double largestMagnitude);

// Text with &, <, >, " escaped for XML.
std::string EscapeXml(const std::string& text);

}  // namespace rk350::capture
