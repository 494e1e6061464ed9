#include "card/port_recorder.h"

#include <cstdio>

#include "card/virtual_card.h"

namespace rk350::card {

hw::PortPair PortRecorder::Pair() { return {this, &InThunk, &OutThunk}; }

int RK350_PORT_CALL PortRecorder::InThunk(void* context, uint16_t port) {
  auto* self = static_cast<PortRecorder*>(context);
  int value = self->card_ != nullptr ? self->card_->BusIn(port) : 0xFF;
  if (self->readHook_) value = self->readHook_(port, value);
  if (self->recording_) self->accesses_.push_back({PortAccess::kIn, port, static_cast<uint8_t>(value)});
  return value;
}

int RK350_PORT_CALL PortRecorder::OutThunk(void* context, uint16_t port, uint8_t value) {
  auto* self = static_cast<PortRecorder*>(context);
  if (self->recording_) self->accesses_.push_back({PortAccess::kOut, port, value});
  if (self->card_ != nullptr) self->card_->Out(port, value);
  return 0;
}

std::vector<std::pair<uint8_t, uint8_t>> PortRecorder::RegisterTrace() const {
  std::vector<std::pair<uint8_t, uint8_t>> trace;
  for (size_t i = 0; i + 1 < accesses_.size(); ++i) {
    const auto& a = accesses_[i];
    const auto& b = accesses_[i + 1];
    if (a.kind == PortAccess::kOut && a.port == base_ && b.kind == PortAccess::kOut && b.port == base_ + 1) {
      trace.emplace_back(a.value, b.value);
      ++i;
    }
  }
  return trace;
}

std::vector<uint8_t> PortRecorder::RegisterWrites(uint8_t index) const {
  std::vector<uint8_t> values;
  for (const auto& [reg, value] : RegisterTrace()) {
    if (reg == index) values.push_back(value);
  }
  return values;
}

std::string PortRecorder::Text() const {
  std::string text;
  char line[64];
  for (size_t i = 0; i < accesses_.size(); ++i) {
    const auto& a = accesses_[i];
    if (a.kind == PortAccess::kOut && a.port == base_ && i + 1 < accesses_.size() &&
        accesses_[i + 1].kind == PortAccess::kOut && accesses_[i + 1].port == base_ + 1) {
      std::snprintf(line, sizeof line, "reg %u = 0x%02X\n", a.value, accesses_[i + 1].value);
      ++i;
    } else if (a.kind == PortAccess::kIn && a.port >= base_ && a.port < base_ + 5) {
      std::snprintf(line, sizeof line, "in %u = 0x%02X\n", static_cast<unsigned>(a.port - base_), a.value);
    } else {
      std::snprintf(line, sizeof line, "%s 0x%03X = 0x%02X\n", a.kind == PortAccess::kIn ? "in" : "out", a.port,
                    a.value);
    }
    text += line;
  }
  return text;
}

}  // namespace rk350::card
