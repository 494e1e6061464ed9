// One record as the scope publishes it: the record, its figures per channel,
// and the notes its files carry. Built on the instrument thread, then read
// (never changed) by any number of HTTP threads.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "measurements.h"
#include "record.h"

namespace rk350::scope {

struct Frame {
  std::uint64_t sequence = 0;         // counts published records
  std::uint64_t settingsVersion = 0;  // the settings the record was taken with
  capture::Record record;
  std::vector<tools::Measurements> measurements;  // one per channel of the record
  // Per channel, per figure of tools::Quantities(): its spread over the last
  // records, and how many records that history holds.
  std::vector<std::vector<tools::Spread>> spreads;
  std::size_t historyRecords = 0;
  std::vector<std::string> notes;  // for the CSV
  std::chrono::steady_clock::time_point taken;

  // The frame as the page reads it; made once, on first use.
  const std::string& Json() const;

 private:
  mutable std::once_flag jsonOnce_;
  mutable std::string json_;
};

// Positions first .. first + count - 1 of a trace hold samples (the library
// marks the others NaN); count 0 when none does.
void HeldRange(const capture::ChannelTrace& trace, std::size_t& first, std::size_t& count);

}  // namespace rk350::scope
