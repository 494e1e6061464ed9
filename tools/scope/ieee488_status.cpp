#include "ieee488_status.h"

namespace rk350::scpi {
namespace {

// The event bit of an error's class, by the standard's number ranges.
std::uint8_t EventOf(int code) {
  if (code <= -100 && code > -200) return kCommandError;
  if (code <= -200 && code > -300) return kExecutionError;
  if (code <= -400 && code > -500) return kQueryError;
  return kDeviceError;  // -300 … -399 and the instrument's own positive numbers
}

}  // namespace

void Ieee488Status::Push(const Error& error) {
  SetEvent(EventOf(error.code));
  if (errors_.size() + 1 < kQueueLength) {
    errors_.push_back(error);
  } else if (errors_.size() + 1 == kQueueLength) {
    errors_.push_back({-350, "Queue overflow"});
  }
}

std::string Ieee488Status::PopError() {
  if (errors_.empty()) return "0,\"No error\"";
  const Error e = errors_.front();
  errors_.pop_front();
  return std::to_string(e.code) + "," + QuotedString(e.message);
}

void Ieee488Status::Clear() {
  errors_.clear();
  events_ = 0;
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
  if ((stb & serviceEnable_) != 0) stb |= kServiceRequest;
  return stb;
}

}  // namespace rk350::scpi
