// The fuzzer's input, read as a sequence of choices: operation numbers,
// integers and doubles. Values come either from a table of the ones that
// matter at the edges (limits, channel numbers, NaN, infinities, the card's
// addresses) or straight from the bytes. An input that runs out reads zeros.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

namespace rk350::fuzz {

class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool Empty() const { return position_ >= size_; }

  uint8_t Byte() { return position_ < size_ ? data_[position_++] : 0; }

  uint64_t Raw(size_t bytes) {
    uint64_t v = 0;
    for (size_t i = 0; i < bytes; ++i) v |= static_cast<uint64_t>(Byte()) << (8 * i);
    return v;
  }

  // An integer of the given width: a table entry, or raw bytes.
  uint64_t Integer(size_t bytes) {
    static constexpr uint64_t kTable[] = {
        0,   1,     2,     3,    4,     5,     6,     7,     9,     15,         16,         17,         20,        255,
        256, 0x288, 0x300, 1000, 65519, 65520, 65521, 65535, 65536, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFE, 0xFFFFFFFF};
    constexpr size_t kCount = sizeof kTable / sizeof kTable[0];
    const uint8_t choice = Byte();
    if (choice < 2 * kCount) return kTable[choice % kCount];
    return Raw(bytes);
  }

  double Double() {
    static const double kTable[] = {0.0,
                                    -0.0,
                                    1.0,
                                    -1.0,
                                    0.5,
                                    0.1,
                                    0.8,
                                    2.0,
                                    4.0,
                                    20.0,
                                    80.0,
                                    100.0,
                                    1e3,
                                    1e6,
                                    50e6,
                                    100e6,
                                    1e9,
                                    1e-9,
                                    1e300,
                                    -1e300,
                                    1e308,
                                    std::numeric_limits<double>::max(),
                                    std::numeric_limits<double>::denorm_min(),
                                    std::numeric_limits<double>::infinity(),
                                    -std::numeric_limits<double>::infinity(),
                                    std::numeric_limits<double>::quiet_NaN()};
    constexpr size_t kCount = sizeof kTable / sizeof kTable[0];
    const uint8_t choice = Byte();
    if (choice < 6 * kCount) return kTable[choice % kCount];
    const uint64_t bits = Raw(8);
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t position_ = 0;
};

}  // namespace rk350::fuzz
