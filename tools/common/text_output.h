// Fast text output for the writers: numbers formatted with std::to_chars
// (exact, shortest, locale-free) straight into a buffer that goes to the
// stream in large blocks, and a cache for values that repeat, as the volts
// of 8-bit samples do (at most 256 per channel and range).
#pragma once

#include <array>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string_view>
#include <vector>

namespace rk350::capture {

class TextOutput {
 public:
  explicit TextOutput(std::ostream& out) : out_(out), buffer_(kSize) {}
  ~TextOutput() { Flush(); }
  TextOutput(const TextOutput&) = delete;
  TextOutput& operator=(const TextOutput&) = delete;

  void Put(char c) {
    Reserve(1);
    buffer_[used_++] = c;
  }
  void Put(std::string_view text) {
    Reserve(text.size());
    std::memcpy(buffer_.data() + used_, text.data(), text.size());
    used_ += text.size();
  }
  // The shortest text that reads back as the same double.
  void Put(double value) {
    Reserve(kNumberRoom);
    used_ = static_cast<std::size_t>(
        std::to_chars(buffer_.data() + used_, buffer_.data() + used_ + kNumberRoom, value).ptr - buffer_.data());
  }
  void Put(unsigned value) {
    Reserve(kNumberRoom);
    used_ = static_cast<std::size_t>(
        std::to_chars(buffer_.data() + used_, buffer_.data() + used_ + kNumberRoom, value).ptr - buffer_.data());
  }
  void Flush() {
    out_.write(buffer_.data(), static_cast<std::streamsize>(used_));
    used_ = 0;
  }

 private:
  static constexpr std::size_t kSize = 1 << 16;
  static constexpr std::size_t kNumberRoom = 32;  // the longest double is 24 characters
  void Reserve(std::size_t n) {
    if (used_ + n > buffer_.size()) Flush();
    if (n > buffer_.size()) buffer_.resize(n);
  }
  std::ostream& out_;
  std::vector<char> buffer_;
  std::size_t used_ = 0;
};

// The text of a double, remembered by its bit pattern: a value seen before
// costs a table look-up instead of a conversion. A slot holds the latest
// value that mapped to it, so any mix of values stays correct.
class NumberTexts {
 public:
  std::string_view Text(double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    Slot& slot = slots_[(bits * 0x9E3779B97F4A7C15ull) >> (64 - kSlotBits)];
    if (!slot.used || slot.bits != bits) {
      slot.length =
          static_cast<std::uint8_t>(std::to_chars(slot.text, slot.text + sizeof slot.text, value).ptr - slot.text);
      slot.bits = bits;
      slot.used = true;
    }
    return {slot.text, slot.length};
  }

 private:
  static constexpr int kSlotBits = 10;
  struct Slot {
    std::uint64_t bits = 0;
    bool used = false;
    std::uint8_t length = 0;
    char text[30] = {};
  };
  std::array<Slot, std::size_t{1} << kSlotBits> slots_{};
};

// The time of each sample, (i - trigger) / rate, as the same text that
// std::to_chars gives, made from integers when the sample period is a short
// exact decimal (1 / rate = m * 10^-e: every fixed rate of the card and the
// round divider rates). Then (i - trigger) * m * 10^-e is the exact value of
// the quotient, the double the division rounds it to reads back from it,
// and no shorter decimal does; other rates take std::to_chars.
class SampleTimes {
 public:
  SampleTimes(double rate, std::int64_t triggerIndex);
  void Put(TextOutput& out, std::size_t index) const;
  bool Exact() const { return exponent_ >= 0; }

 private:
  double rate_;
  std::int64_t trigger_;
  std::int64_t step_ = 0;  // m
  int exponent_ = -1;      // e; -1 when the period is no short decimal
};

}  // namespace rk350::capture
