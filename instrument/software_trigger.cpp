// Software trigger: complete records from what the card documents. The card
// accepts its trigger as soon as an acquisition starts, so a trigger that
// comes early leaves the start of the record unsampled. Instead, the card
// runs free (the sequence of a trigger time-out of 0) for the record plus a
// search window; the library finds the first sample at or after the
// pre-trigger position that meets the channel's trigger condition, as the
// comparators apply level, hysteresis and slope, and hands out the window
// around it with that sample at lPreSamples.
#include <algorithm>

#include "instrument/trk350.h"

namespace rk350 {

namespace {
// The first search window: the record length, at least this many samples;
// it doubles with every run that held no crossing, up to the memory.
constexpr int64_t kFirstSearch = 4096;
constexpr int kMostDoublings = 8;
// Below this the window is too short to be worth a run: the card triggers.
constexpr int64_t kLeastSearch = 64;
constexpr uint16_t kUnmeasured = 0x8000;

enum class Condition { kRising, kFalling, kAbove, kNone };

// The comparator condition of a trigger mode (routing registers 15/16 and 25).
Condition ConditionOf(uint8_t mode) {
  switch (mode & 0x7F) {
    case 0:
    case 2:
      return Condition::kRising;
    case 1:
      return Condition::kFalling;
    case 3:
      return Condition::kAbove;
    default:
      return Condition::kNone;
  }
}

bool Reads(TMeasureMode mode, int channel) {
  if (mode == mCh12 || mode == mXY) return true;
  return channel == 1 ? mode == mCh1 : mode == mCh2;
}
}  // namespace

bool TRK350::SoftwareSearchable() const {
  if (tsTriggerSource != tsCh1 && tsTriggerSource != tsCh2) return false;
  if (ConditionOf(TriggerMode[1]) == Condition::kNone) return false;
  const int channel = tsTriggerSource == tsCh2 ? 2 : 1;
  if (channel == 2 && Interleaved) return false;
  return Reads(mMeasureMode, channel);
}

void TRK350::PlanSoftwareRun() {
  SoftwareRun = false;
  SoftwareSearching = false;
  SoftwareForced = false;
  if (!SoftwareTriggerEnabled) return;
  const int32_t L = lRecordLength;
  if (L <= 0 || L > MaxRecordLength) return;
  // No trigger wanted: a free run of exactly the record.
  if (tsTriggerSource == tsNoTrig || AppliedTriggerSource == tsNoTrig || rTrigTimeOut == 0) {
    SoftwareGeometry = {0, L, L};
    SoftwareRun = true;
    return;
  }
  if (!SoftwareSearchable()) return;
  const int64_t first = std::max<int64_t>(L, kFirstSearch);
  const int64_t search = std::min<int64_t>(first << std::min(SoftwareAttempt, kMostDoublings), MaxRecordLength - L);
  if (search < kLeastSearch) return;
  const auto length = static_cast<int32_t>(L + search);
  SoftwareGeometry = {0, length, length};
  SoftwareRun = true;
  SoftwareSearching = true;
}

int64_t TRK350::FindSoftwareTrigger(const uint16_t* data, Span held, int32_t pre, int32_t post) const {
  const int k = tsTriggerSource == tsCh2 ? 2 : 1;
  const int32_t a = ComparatorValues[k][0], b = ComparatorValues[k][1];
  const Condition condition = ConditionOf(TriggerMode[1]);
  const int64_t from = held.first, end = int64_t{held.first} + held.count;
  // The whole window around the trigger must lie in the held samples.
  const int64_t earliest = from + pre, latest = end - post;
  bool armed = false;
  for (int64_t i = from; i <= latest && i < end; ++i) {
    // Comparator scale: count L stands for converter code L + 1.
    const int32_t x = (data[i] >> 8) - 1;
    bool fires = false;
    switch (condition) {
      case Condition::kRising:
        fires = armed && x >= b;
        if (!fires && x < a) armed = true;
        break;
      case Condition::kFalling:
        fires = armed && x <= b;
        if (!fires && x > a) armed = true;
        break;
      case Condition::kAbove:
        fires = x >= b;
        break;
      case Condition::kNone:
        return -1;
    }
    if (!fires) continue;
    if (i >= earliest) return i;
    armed = false;  // fired before the pre-trigger samples: wait for the next crossing
  }
  return -1;
}

void TRK350::PlaceSoftwareRecord() {
  const int32_t L = lRecordLength, pre = lPreSamples, post = lPostSamples;
  const int channel = tsTriggerSource == tsCh2 ? 2 : 1;
  int64_t at = -1;
  if (SoftwareSearching) at = FindSoftwareTrigger(ChannelData[channel].get(), Held[channel], pre, post);
  int64_t offset = 0;
  if (at >= 0) {
    offset = at - pre;
  } else if (!SoftwareSearching || SoftwareForced) {
    const Span first = Held[1].count > 0 ? Held[1] : Held[2];
    offset = first.first;
  } else {
    // The buffers hold a search record, not a record to hand out.
    SoftwareMissed = true;
    ++SoftwareAttempt;
    Held[1] = Held[2] = Span{};
    return;
  }
  SoftwareForced = false;
  SoftwareAttempt = 0;
  const int64_t length = SoftwareGeometry.length;
  for (int ch = 1; ch <= 2; ++ch) {
    if (Held[ch].count == 0) continue;
    uint16_t* data = ChannelData[ch].get();
    std::copy(data + offset, data + length, data);
    std::fill(data + (length - offset), data + length + 1, kUnmeasured);
    const int64_t first = int64_t{Held[ch].first} - offset;
    const int64_t last = std::min<int64_t>(first + Held[ch].count, L) - 1;
    const int64_t lo = std::max<int64_t>(first, 0);
    Held[ch] = last < lo ? Span{} : Span{static_cast<int32_t>(lo), static_cast<int32_t>(last - lo + 1)};
  }
}

bool TRK350::BlockRecordReady() {
  if (!RecordComplete()) return false;
  if (!SoftwareRun || !BlockRunning || SoftwareRecordHeld) return true;
  ReadMeasurement();
  if (SoftwareMissed) {
    ArmMeasurement();  // no crossing in this run: run the card again
    return false;
  }
  SoftwareRecordHeld = true;
  return true;
}

}  // namespace rk350
