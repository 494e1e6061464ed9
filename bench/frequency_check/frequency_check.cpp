// The measurement module's frequency for each capture CSV given: the CH1
// column, the sample rate and range from the file's comments. Prints the
// estimate, its uncertainty in full and the positions holding a sample, which the summary rounds away, for
// bench/frequency_check.py.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "measurements.h"

namespace {

// A number after `key` in a comment line, in volts or hertz if it has an
// SI prefix (" 100 mV"), or 0.
double After(const std::string& line, const std::string& key) {
  const auto at = line.find(key);
  if (at == std::string::npos) return 0.0;
  char* end = nullptr;
  const double value = std::strtod(line.c_str() + at + key.size(), &end);
  while (*end == ' ') ++end;
  return *end == 'm' ? value * 1e-3 : value;
}

}  // namespace

int main(int argc, char** argv) {
  int status = 0;
  for (int a = 1; a < argc; ++a) {
    std::ifstream in(argv[a]);
    double rate = 0.0, range = 0.0;
    std::vector<double> volts;
    for (std::string line; std::getline(in, line);) {
      if (line.rfind("# sample rate:", 0) == 0) rate = After(line, "# sample rate:");
      if (line.rfind("# CH1: range", 0) == 0) range = After(line, "range \xC2\xB1");
      if (line.empty() || line[0] == '#' || line[0] == 't') continue;
      const auto comma = line.find(',');
      if (comma == std::string::npos) continue;
      // An empty field is a position that holds no sample.
      char* end = nullptr;
      const double v = std::strtod(line.c_str() + comma + 1, &end);
      volts.push_back(end == line.c_str() + comma + 1 ? std::nan("") : v);
    }
    if (!(rate > 0) || !(range > 0) || volts.empty()) {
      std::fprintf(stderr, "%s: no CH1 record with its sample rate and range\n", argv[a]);
      status = 1;
      continue;
    }
    const auto f = rk350::tools::EstimateFrequency(volts, rate, range / 128.0);
    const auto held =
        static_cast<std::size_t>(std::count_if(volts.begin(), volts.end(), [](double v) { return !std::isnan(v); }));
    if (f)
      std::printf("%s %.12g %.6g %zu\n", argv[a], f->hertz, f->uncertainty, held);
    else
      std::printf("%s none\n", argv[a]);
  }
  return status;
}
