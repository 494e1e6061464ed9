#include "text_output.h"

#include <cmath>
#include <cstdlib>
#include <limits>

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
  const std::int64_t limit = exponent_ < 0 ? 0 : std::numeric_limits<std::int64_t>::max() / step_;
  char digits[24];
  int count = 0;
  std::uint64_t magnitude = 0;
  int scale = -exponent_;
  if (exponent_ >= 0 && std::llabs(k) <= limit && k != 0) {
    // The value is digits * 10^scale, digits without trailing zeros.
    magnitude = static_cast<std::uint64_t>(std::llabs(k * step_));
    while (magnitude % 10 == 0) {
      magnitude /= 10;
      ++scale;
    }
    count = static_cast<int>(std::to_chars(digits, digits + sizeof digits, magnitude).ptr - digits);
  }
  // Up to 15 digits no shorter decimal reads back as the same double, so
  // these digits are the shortest; beyond, std::to_chars decides.
  if (count == 0 || count > 15) {
    if (k == 0)
      out.Put('0');
    else
      out.Put((static_cast<double>(index) - static_cast<double>(trigger_)) / rate_);
    return;
  }
  const int power = scale + count - 1;
  const int powerDigits = std::abs(power) < 100 ? 2 : 3;
  const int scientificLength = count + (count > 1 ? 1 : 0) + 2 + powerDigits;
  const int fixedLength = scale >= 0 ? count + scale : -scale < count ? count + 1 : 2 - scale;
  char text[64];
  char* p = text;
  if (k < 0) *p++ = '-';
  // The shorter of the two; fixed on a tie, as std::to_chars chooses.
  if (scientificLength < fixedLength) {  // 1.2345e+02, 1.2e-04
    *p++ = digits[0];
    if (count > 1) {
      *p++ = '.';
      for (int i = 1; i < count; ++i) *p++ = digits[i];
    }
    *p++ = 'e';
    *p++ = power < 0 ? '-' : '+';
    if (std::abs(power) < 10) *p++ = '0';
    p = std::to_chars(p, text + sizeof text, std::abs(power)).ptr;
  } else if (scale >= 0) {  // 1200
    for (int i = 0; i < count; ++i) *p++ = digits[i];
    for (int i = 0; i < scale; ++i) *p++ = '0';
  } else if (-scale < count) {  // 123.45
    for (int i = 0; i < count + scale; ++i) *p++ = digits[i];
    *p++ = '.';
    for (int i = count + scale; i < count; ++i) *p++ = digits[i];
  } else {  // 0.00012
    *p++ = '0';
    *p++ = '.';
    for (int i = 0; i < -scale - count; ++i) *p++ = '0';
    for (int i = 0; i < count; ++i) *p++ = digits[i];
  }
  out.Put(std::string_view(text, static_cast<std::size_t>(p - text)));
}

}  // namespace rk350::capture
