#include "core/record_history.h"

#include <algorithm>

#include "rk350/rk350_ext.h"

namespace rk350::scope {

TriggerStatus TriggerStatusOf(const capture::Record& record) {
  switch (record.how) {
    case RK350_RECORD_TRIGGERED_CARD:
    case RK350_RECORD_TRIGGERED_SOFTWARE:
      return TriggerStatus::Triggered;
    case RK350_RECORD_FORCED_TIMEOUT:
    case RK350_RECORD_FORCED_CALL:
      return TriggerStatus::Forced;
    case RK350_RECORD_FREE_RUN:
      return TriggerStatus::FreeRun;
    default:  // not known, or averaged records taken differently
      return TriggerStatus::Unknown;
  }
}

const char* TriggerStatusName(TriggerStatus status) {
  switch (status) {
    case TriggerStatus::Triggered:
      return "triggered";
    case TriggerStatus::Forced:
      return "forced";
    case TriggerStatus::FreeRun:
      return "free run";
    case TriggerStatus::Unknown:
      break;
  }
  return "unknown";
}

std::size_t FrameFootprint(const Frame& frame) {
  // Per sample: its volts as a double and at most 24 characters of JSON;
  // the rest (notes, figures, names) is counted as a flat 16 KiB.
  constexpr std::size_t kPerSample = sizeof(double) + 24, kFixed = 16 << 10;
  std::size_t bytes = kFixed;
  for (const auto& trace : frame.record.channels) bytes += trace.volts.size() * kPerSample;
  for (const auto& codes : frame.record.codes) bytes += codes.size();
  return bytes;
}

RecordHistory::RecordHistory(std::size_t capacity, std::size_t bytes)
    : capacity_(std::min(capacity, kMaxKeptRecords)), bytes_(bytes) {}

void RecordHistory::Add(std::shared_ptr<const Frame> frame) {
  if (capacity_ == 0 || !frame) return;
  const std::size_t footprint = FrameFootprint(*frame);
  std::lock_guard lock(mutex_);
  frames_.push_back(std::move(frame));
  held_ += footprint;
  // The newest stays even when it alone is larger than the budget: the
  // live record is held by the scope anyway.
  while (frames_.size() > capacity_ || (held_ > bytes_ && frames_.size() > 1)) {
    held_ -= FrameFootprint(*frames_.front());
    frames_.pop_front();
  }
}

std::shared_ptr<const Frame> RecordHistory::Find(std::uint64_t sequence) const {
  std::lock_guard lock(mutex_);
  const auto it = std::lower_bound(frames_.begin(), frames_.end(), sequence,
                                   [](const auto& frame, std::uint64_t s) { return frame->sequence < s; });
  return it != frames_.end() && (*it)->sequence == sequence ? *it : nullptr;
}

std::vector<std::shared_ptr<const Frame>> RecordHistory::Records() const {
  std::lock_guard lock(mutex_);
  return {frames_.begin(), frames_.end()};
}

std::size_t RecordHistory::Count() const {
  std::lock_guard lock(mutex_);
  return frames_.size();
}

std::pair<std::uint64_t, std::uint64_t> RecordHistory::Span() const {
  std::lock_guard lock(mutex_);
  if (frames_.empty()) return {0, 0};
  return {frames_.front()->sequence, frames_.back()->sequence};
}

}  // namespace rk350::scope
