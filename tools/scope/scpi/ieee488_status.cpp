#include "scpi/ieee488_status.h"

#include <string_view>
#include <utility>

#include "scpi/scpi_errors.h"

namespace rk350::scpi {
namespace {

// The event bit of an error's class, by the standard's number ranges.
std::uint8_t EventOf(int code) {
  if (code <= -100 && code > -200) return kCommandError;
  if (code <= -200 && code > -300) return kExecutionError;
  if (code <= -400 && code > -500) return kQueryError;
  return kDeviceError;  // -300 … -399 and the instrument's own positive numbers
}

// SCPI's texts are ASCII: the few other characters the settings' messages
// use are spelled out, anything else becomes '?'.
std::string Ascii(const std::string& text) {
  static const std::pair<std::string_view, std::string_view> kSpelled[] = {
      {"\u2026", "..."}, {"\u00b1", "+/-"}, {"\u00b5", "u"}, {"\u03bc", "u"},  {"\u00b0", " deg"}, {"\u2013", "-"},
      {"\u2014", "-"},   {"\u2212", "-"},   {"\u00d7", "x"}, {"\u2264", "<="}, {"\u2265", ">="}};
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    std::string_view rest(text.data() + i, text.size() - i);
    std::size_t length = 1;
    while (i + length < text.size() && (static_cast<unsigned char>(text[i + length]) & 0xC0) == 0x80) ++length;
    std::string_view replacement = "?";
    for (const auto& [utf8, ascii] : kSpelled)
      if (rest.substr(0, utf8.size()) == utf8) replacement = ascii;
    out += replacement;
    i += length;
  }
  return out;
}

}  // namespace

void Ieee488Status::Push(const Error& error) {
  SetEvent(EventOf(error.code));
  const Error entry{error.code, Ascii(error.message)};
  if (overflowed_) {
    // Room made by reading since: the new error is kept, the overflow stays the last entry.
    if (errors_.size() < kQueueLength) errors_.insert(errors_.end() - 1, entry);
  } else if (errors_.size() + 1 < kQueueLength) {
    errors_.push_back(entry);
  } else {
    errors_.push_back(kQueueOverflow());
    overflowed_ = true;
  }
}

std::string Ieee488Status::PopError() {
  if (errors_.empty()) return "0,\"No error\"";
  const Error e = errors_.front();
  errors_.pop_front();
  if (errors_.empty()) overflowed_ = false;  // the overflow entry, always last, was read
  return std::to_string(e.code) + "," + QuotedString(e.message);
}

void Ieee488Status::Clear() {
  errors_.clear();
  overflowed_ = false;
  events_ = 0;
  operationEvents_ = 0;
}

std::uint8_t Ieee488Status::ReadEvents() {
  const std::uint8_t e = events_;
  events_ = 0;
  return e;
}

std::uint8_t Ieee488Status::StatusByte() const {
  std::uint8_t stb = 0;
  if (!errors_.empty()) stb |= kErrorAvailable;
  if ((events_ & eventEnable_) != 0) stb |= kEventSummary;
  if ((operationEvents_ & operationEnable_) != 0) stb |= kOperationSummary;
  if ((stb & serviceEnable_) != 0) stb |= kServiceRequest;
  return stb;
}

void Ieee488Status::SetOperationCondition(std::uint16_t condition) {
  operationEvents_ |= condition & ~operationCondition_;
  operationCondition_ = condition;
}

std::uint16_t Ieee488Status::ReadOperationEvents() {
  const std::uint16_t e = operationEvents_;
  operationEvents_ = 0;
  return e;
}

}  // namespace rk350::scpi
