// The last records the scope published, kept in memory so that the page,
// /api and SCPI can step back through them. Bounded twice: by the count the
// command line asked for (at most kMaxKeptRecords) and by an estimate of
// the bytes the kept frames hold (kKeptBytes); the oldest go first. A record
// is found by its sequence number, never by its place, so that a record that
// fell out is reported gone rather than replaced by another.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "core/frame.h"

namespace rk350::scope {

inline constexpr std::size_t kMaxKeptRecords = 1000;
inline constexpr std::size_t kKeptBytes = std::size_t{256} << 20;

// How a record was taken, as every surface names it.
enum class TriggerStatus { Triggered, Forced, FreeRun, Unknown };
TriggerStatus TriggerStatusOf(const capture::Record& record);
const char* TriggerStatusName(TriggerStatus status);  // "triggered", "forced", "free run", "unknown"

// The memory a frame holds once its figures and its JSON are made (the
// stream makes the JSON of every record a page sees).
std::size_t FrameFootprint(const Frame& frame);

class RecordHistory {
 public:
  // `capacity`: records kept, 0 for none; `bytes`: what they may hold together.
  explicit RecordHistory(std::size_t capacity = 0, std::size_t bytes = kKeptBytes);

  // A record published after every record added before (a larger sequence).
  void Add(std::shared_ptr<const Frame> frame);
  // The kept record of this sequence number; null when it is not kept.
  std::shared_ptr<const Frame> Find(std::uint64_t sequence) const;
  // Every kept record, oldest first.
  std::vector<std::shared_ptr<const Frame>> Records() const;
  std::size_t Count() const;
  std::size_t Capacity() const { return capacity_; }
  // The sequence numbers of the oldest and the newest kept record (0, 0: none).
  std::pair<std::uint64_t, std::uint64_t> Span() const;

 private:
  const std::size_t capacity_, bytes_;
  mutable std::mutex mutex_;  // guards what follows
  std::deque<std::shared_ptr<const Frame>> frames_;
  std::size_t held_ = 0;  // the frames' footprints together
};

}  // namespace rk350::scope
