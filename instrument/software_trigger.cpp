// Software trigger: complete records from what the card documents. The card
// accepts its trigger as soon as an acquisition starts, so a trigger that
// comes early leaves the start of the record unsampled. Instead, the card
// is armed with no pre-trigger part and a post-trigger count of the record
// plus a search window: its comparator waits for the first crossing at no
// bus cost, and the memory then holds the samples since arming. When that
// crossing came after the pre-trigger part it is the record's trigger;
// otherwise the library finds the first sample at or after the pre-trigger
// position that meets the channel's trigger condition, as the comparators
// apply level, hysteresis and slope (card_wait_record.cpp). At 100 MHz the
// card's comparator waits the same way, each converter counting half of the
// run, and the search runs on the merged samples (card_wait_merged.cpp).
// The window follows the spacing of the signal's crossings.
#include <algorithm>

#include "instrument/trigger_condition.h"
#include "instrument/trk350.h"
#include "rk350/rk350_ext.h"

namespace rk350 {

namespace {
// Without a known crossing spacing the first window is a quarter of the
// record, at least this many samples; it doubles with every run that held
// no crossing and told nothing of the spacing, up to the memory.
constexpr int64_t kLeastFirstWindow = 16;
// The card's own trigger runs when the memory leaves less than this beside
// the record.
constexpr int64_t kLeastSearch = 64;
constexpr int kMostDoublings = 12;
// With a known spacing the window holds one spacing and this share more (a
// period wanders a little): the first qualifying crossing comes less than a
// spacing after the last crossing before the pre-trigger part ends, so one
// spacing is enough for a periodic signal whatever its phase; more would
// only lengthen every run.
constexpr int64_t kSpacingSlackShare = 64;

}  // namespace

int64_t TRK350::SearchStart(CrossingDetector& detector, int64_t cardTrigger, int64_t pre) const {
  // Forced, the card's trigger says nothing of the signal: search from the
  // oldest sample.
  if (ForcedWhileWaiting || cardTrigger <= 0 || cardTrigger >= pre) return 0;
  // The card's comparator fired at its trigger and then waits to be armed
  // again, as the library's does: samples before it cannot make a later
  // crossing qualify, so they are read only for the record's pre-trigger
  // part. With a known crossing spacing the first qualifying crossing is
  // expected a whole number of spacings after the card's trigger; reading
  // starts where that crossing's record starts (a little earlier, as a
  // period wanders), at the card's trigger at the latest.
  detector.lastFire = cardTrigger;
  int64_t start = cardTrigger;
  if (CrossingSpacingKnown()) {
    const int64_t spacings = (pre - cardTrigger + CrossingSpacing - 1) / CrossingSpacing;
    const int64_t expected = cardTrigger + spacings * CrossingSpacing - pre;
    start = std::clamp<int64_t>(expected - CrossingSpacing / kSpacingSlackShare - 1, 0, cardTrigger);
  }
  return start;
}

bool TRK350::ReadsChannel(int channel) const {
  if (mMeasureMode == mCh12 || mMeasureMode == mXY) return true;
  return channel == 1 ? mMeasureMode == mCh1 : mMeasureMode == mCh2;
}

bool TRK350::SoftwareSearchable() const {
  if (tsTriggerSource != tsCh1 && tsTriggerSource != tsCh2) return false;
  if (ConditionOf(TriggerMode[1]) == Condition::kNone) return false;
  const int channel = TriggerChannel();
  if (channel == 2 && Interleaved) return false;
  return ReadsChannel(channel);
}

TRK350::CrossingSetting TRK350::CurrentCrossingSetting() const {
  const int channel = TriggerChannel();
  return {channel, static_cast<uint8_t>(TriggerMode[1] & 0x7F), TriggerLevel[channel], TriggerHysteresis[channel],
          GetrSampleFreq()};
}

bool TRK350::CrossingSettingHasSpacing() const {
  const Condition c = ConditionOf(TriggerMode[1]);
  return c == Condition::kRising || c == Condition::kFalling;
}

bool TRK350::CrossingSpacingKnown() const {
  return CrossingSpacing > 0 && CrossingSettingHasSpacing() && CrossingSpacingSetting == CurrentCrossingSetting();
}

int64_t TRK350::SearchWindow() const {
  // Without a spacing: a pre-trigger part that holds two crossings holds a
  // spacing, and the first crossing after it then comes less than the
  // pre-trigger part after the card's first crossing (or the run's start at
  // 100 MHz): a window as long as the pre-trigger part holds it.
  const int64_t base = CrossingSpacingKnown()
                           ? CrossingSpacing + CrossingSpacing / kSpacingSlackShare
                           : std::max<int64_t>({kLeastFirstWindow, lRecordLength / 4, int64_t{lPreSamples}});
  const int64_t room = int64_t{MaxRecordLength} - lRecordLength;
  return std::min<int64_t>(base << std::min(SoftwareAttempt, kMostDoublings), room);
}

void TRK350::KeepWindowThatFound() {
  // A run found its crossing (or the card's trigger its record) only after
  // wider windows: without a spacing to go by, the next record starts with
  // the window that found it.
  if (SoftwareAttempt > 0 && CrossingSettingHasSpacing()) {
    CrossingSpacing = SearchWindow();
    CrossingSpacingSetting = CurrentCrossingSetting();
  }
}

bool TRK350::LearnCrossingSpacing(int64_t spacing) {
  if (spacing <= 0 || !CrossingSettingHasSpacing()) return false;
  CrossingSpacing = spacing;
  CrossingSpacingSetting = CurrentCrossingSetting();
  SoftwareAttempt = 0;
  return true;
}

void TRK350::PlanSoftwareRun() {
  SoftwareRun = false;
  SoftwareSearching = false;
  SoftwareWaits = false;
  SoftwareForced = false;
  if (!SoftwareTriggerEnabled) return;
  const int32_t L = lRecordLength;
  if (L <= 0 || L > MaxRecordLength) return;
  // No trigger wanted: a free run of exactly the record.
  if (tsTriggerSource == tsNoTrig || AppliedTriggerSource == tsNoTrig || rTrigTimeOut == 0) {
    SetFreeSoftwareRun(L);
    return;
  }
  if (!SoftwareSearchable()) return;
  // Without a pre-trigger part every crossing comes after it: the card's
  // own trigger gives the complete record.
  if (lPreSamples <= 0) return;
  // Too little memory beyond the record for a window: the card triggers.
  if (int64_t{MaxRecordLength} - L < kLeastSearch) return;
  const int64_t search = SearchWindow();
  const auto length = static_cast<int32_t>(L + search);
  SoftwareSearching = true;
  SoftwareRun = true;
  SoftwareLength = length;
  // The run ends the record and the window after the card's trigger; the
  // post-trigger count leaves out what the trigger path adds to it (also
  // when the window is shorter than that: the run then still holds the
  // record and the window). At 100 MHz the counts are of each converter's
  // samples: half the merged run and the one sample the merge reaches beyond.
  SoftwareWaits = true;
  const int32_t converterRun = Interleaved ? length / 2 + 2 : length;
  const int32_t post = std::max<int32_t>(1, converterRun - CardTriggerLag());
  SoftwareGeometry = {0, post, post};
}

void TRK350::SetFreeSoftwareRun(int32_t length) {
  // At 100 MHz each converter takes every other sample of the merged run:
  // it runs for half of it, and the merge reads one sample beyond its half.
  const int32_t converter = Interleaved ? std::min(length / 2 + 2, MaxRecordLength) : length;
  SoftwareGeometry = {0, converter, converter};
  SoftwareLength = length;
  SoftwareRun = true;
}

int64_t TRK350::FindSoftwareTrigger(const uint16_t* data, Span held, int32_t pre, int32_t post) {
  const int k = TriggerChannel();
  CrossingDetector detector{ConditionOf(TriggerMode[1]), ComparatorValues[k][0], ComparatorValues[k][1]};
  if (detector.condition == Condition::kNone) return -1;
  const int64_t from = held.first, end = int64_t{held.first} + held.count;
  // The whole window around the trigger must lie in the held samples; a
  // crossing before the pre-trigger samples waits for the next one.
  const int64_t earliest = from + pre, latest = end - post;
  for (int64_t i = from; i <= latest && i < end; ++i) {
    if (detector.Step(i, data[i]) && i >= earliest) {
      LearnCrossingSpacing(detector.spacing);
      return i;
    }
  }
  // No crossing: the next run's window follows the spacing seen, or doubles.
  if (!LearnCrossingSpacing(detector.spacing)) ++SoftwareAttempt;
  return -1;
}

void TRK350::PlaceSoftwareRecord() {
  const int32_t L = lRecordLength, pre = lPreSamples, post = lPostSamples;
  const int channel = TriggerChannel();
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
    Held[1] = Held[2] = Span{};
    return;
  }
  RecordTrigger = at >= 0              ? RK350_RECORD_TRIGGERED_SOFTWARE
                  : !SoftwareSearching ? RK350_RECORD_FREE_RUN
                                       : ForcedRecord();
  SoftwareForced = false;
  if (at >= 0) KeepWindowThatFound();
  SoftwareAttempt = 0;
  const int64_t length = SoftwareLength;
  for (int ch = 1; ch <= 2; ++ch) {
    if (Held[ch].count == 0) continue;
    uint16_t* data = ChannelData[ch].get();
    std::copy(data + offset, data + length, data);
    std::fill(data + (length - offset), data + length + 1, kUnmeasuredSample);
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
