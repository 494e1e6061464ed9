// One record as the scope publishes it: the record, its figures per channel,
// and the notes its files carry. Built on the instrument thread, then read
// (never changed) by any number of HTTP threads.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "measurements.h"
#include "record.h"

namespace rk350::scope {

struct Frame;

// The figures of a record: per channel its measurements and their spread
// over the last records measured with the same settings.
struct Figures {
  std::vector<tools::Measurements> measurements;  // one per channel of the record
  // Per channel, per figure of tools::Quantities(): its spread over the last
  // records, and how many records that history holds.
  std::vector<std::vector<tools::Spread>> spreads;
  std::size_t historyRecords = 0;
};

// The history the spreads come from, shared by the frames of one scope.
// Records join it in the order they were taken, each once; a record older
// than the newest that joined (measured late) gets the spreads as they are.
class FigureHistory {
 public:
  void Reset() { reset_ = true; }  // starts again with the next record measured
  void Add(const Frame& frame, Figures& figures);

 private:
  std::mutex mutex_;
  std::array<tools::MeasurementHistory, 2> channels_;  // CH1, CH2
  std::uint64_t settingsVersion_ = 0, sequence_ = 0;   // of the newest record that joined
  std::atomic<bool> reset_{false};
};

struct Frame {
  std::uint64_t sequence = 0;         // counts published records
  std::uint64_t settingsVersion = 0;  // the settings the record was taken with
  std::uint64_t configVersion = 0;    // the version at which those settings (but run/stop/single) last changed
  capture::Record record;
  std::shared_ptr<FigureHistory> history;
  std::vector<std::string> notes;  // for the CSV
  std::chrono::steady_clock::time_point taken;
  std::chrono::system_clock::time_point hostTime;  // when it was published, as the clock on the wall

  // The record's figures, measured on first use (by the thread that asks
  // first): the instrument thread publishes a record without waiting for
  // them, and a record nobody asks about is never measured.
  const Figures& Measured() const;
  // The frame as the page reads it; made once, on first use.
  const std::string& Json() const;

 private:
  mutable std::once_flag figuresOnce_;
  mutable Figures figures_;
  mutable std::once_flag jsonOnce_;
  mutable std::string json_;
};

// Positions first .. first + count - 1 of a trace hold samples (the library
// marks the others NaN); count 0 when none does.
void HeldRange(const capture::ChannelTrace& trace, std::size_t& first, std::size_t& count);

}  // namespace rk350::scope
