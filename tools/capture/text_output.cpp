#include "text_output.h"

#include <cmath>
#include <cstdlib>

namespace rk350::capture {

SampleTimes::SampleTimes(double rate, std::int64_t triggerIndex) : rate_(rate), trigger_(triggerIndex) {
  if (!(rate >= 1 && rate <= 1e12) || rate != std::floor(rate)) return;
  const auto r = static_cast<std::uint64_t>(rate);
  std::uint64_t power = 1;
  for (int e = 0; e <= 15; ++e, power *= 10) {
    if (power % r == 0) {
      step_ = static_cast<std::int64_t>(power / r);
      exponent_ = e;
      return;
    }
  }
}

void SampleTimes::Put(TextOutput& out, std::size_t index) const {
  const std::int64_t k = static_cast<std::int64_t>(index) - trigger_;
  if (exponent_ < 0 || std::llabs(k) > (std::int64_t{1} << 40)) {
    out.Put((static_cast<double>(index) - static_cast<double>(trigger_)) / rate_);
    return;
  }
  const std::int64_t n = k * step_;
  if (n == 0) {
    out.Put('0');
    return;
  }
  // The value is digits * 10^scale, digits without trailing zeros.
  char digits[24] = {};
  auto magnitude = static_cast<std::uint64_t>(std::llabs(n));
  int scale = -exponent_;
  while (magnitude % 10 == 0) {
    magnitude /= 10;
    ++scale;
  }
  const int count = static_cast<int>(std::to_chars(digits, digits + sizeof digits, magnitude).ptr - digits);
  // Fixed: 123.45, 0.00012, 1200; scientific: 1.2345e+02, 1.2e-04.
  char fixed[48] = {}, scientific[48] = {};
  int f = 0, s = 0;
  if (scale >= 0) {
    for (int i = 0; i < count; ++i) fixed[f++] = digits[i];
    for (int i = 0; i < scale; ++i) fixed[f++] = '0';
  } else if (-scale < count) {
    for (int i = 0; i < count + scale; ++i) fixed[f++] = digits[i];
    fixed[f++] = '.';
    for (int i = count + scale; i < count; ++i) fixed[f++] = digits[i];
  } else {
    fixed[f++] = '0';
    fixed[f++] = '.';
    for (int i = 0; i < -scale - count; ++i) fixed[f++] = '0';
    for (int i = 0; i < count; ++i) fixed[f++] = digits[i];
  }
  scientific[s++] = digits[0];
  if (count > 1) {
    scientific[s++] = '.';
    for (int i = 1; i < count; ++i) scientific[s++] = digits[i];
  }
  const int power = scale + count - 1;
  scientific[s++] = 'e';
  scientific[s++] = power < 0 ? '-' : '+';
  const int magnitudeOfPower = std::abs(power);
  if (magnitudeOfPower < 10) scientific[s++] = '0';
  s = static_cast<int>(std::to_chars(scientific + s, scientific + sizeof scientific, magnitudeOfPower).ptr -
                       scientific);
  if (n < 0) out.Put('-');
  // The shorter of the two; fixed on a tie, as std::to_chars chooses.
  out.Put(s < f ? std::string_view(scientific, static_cast<std::size_t>(s))
                : std::string_view(fixed, static_cast<std::size_t>(f)));
}

}  // namespace rk350::capture
