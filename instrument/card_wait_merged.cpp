// The software trigger's record at 100 MHz from a run in which the card's
// comparator waited: the comparator watches converter 1 only, so its
// trigger is a crossing of every other merged sample. The library reads
// both converters in step, merges them and follows its own detector on the
// merged samples from the end of the pre-trigger part to the first
// qualifying crossing, reading first where the card's trigger (or the
// crossing spacing) puts the record. Merged position 0 is converter 2's oldest sample, 2k - 1
// converter 1's sample k and 2k converter 2's (converter 2's sample k
// precedes converter 1's sample k + 1), counted from the run's start.
#include <algorithm>

#include "instrument/trigger_condition.h"
#include "instrument/trk350.h"
#include "rk350/rk350_ext.h"

namespace rk350 {

namespace {
// Samples read before a position to learn the detector's state there; the
// reach doubles until a sample that sets the state is found.
constexpr int64_t kLeastStateReach = 16;
// A record read in two pieces costs two more address advances (one per
// converter), about as many port accesses as reading this many merged
// samples: the first read reaches this much further back where the record's
// start is not known.
constexpr int64_t kPieceWorth = 24;
// Reads past the first one grow by at least this many positions, an eighth
// of the record and a quarter of what was read: few readouts, and little
// read beyond the record's end.
constexpr int64_t kLeastChunk = 16;

// What one sample does to a detector whose state is not known.
enum class Effect { kNone, kArms, kDisarms, kDependsOnState };

Effect EffectOf(const CrossingDetector& d, uint16_t raw) {
  const int32_t x = (raw >> 8) - 1;
  bool reaches = false, arms = false;  // the firing side, the arming side
  switch (d.condition) {
    case Condition::kRising:
      reaches = x >= d.b;
      arms = x < d.a;
      break;
    case Condition::kFalling:
      reaches = x <= d.b;
      arms = x > d.a;
      break;
    default:
      return Effect::kDisarms;  // a level fires on the sample alone
  }
  if (reaches) return arms ? Effect::kDependsOnState : Effect::kDisarms;
  return arms ? Effect::kArms : Effect::kNone;
}
// The widest spacing of consecutive crossings in data[from, to), 0 when
// fewer than two are seen. Stepping starts disarmed: a crossing counts only
// after an arming sample, so every later one is seen too. The widest, as
// merged samples of two converters that differ a little cross two samples
// apart and then a period later: a window of the widest holds a crossing.
int64_t WidestSpacing(const CrossingDetector& like, const uint16_t* data, int64_t from, int64_t to) {
  CrossingDetector d{like.condition, like.a, like.b};
  int64_t widest = 0;
  for (int64_t i = from; i < to; ++i) {
    if (d.Step(i, data[i])) widest = std::max(widest, d.spacing);
  }
  return widest;
}
}  // namespace

bool TRK350::LearnSpacingWithin(const CrossingDetector& like, const uint16_t* data, int64_t from, int64_t to) {
  return LearnCrossingSpacing(WidestSpacing(like, data, from, to));
}

bool TRK350::ReadMergedWaitRecord(int64_t held) {
  const int64_t L = lRecordLength, pre = lPreSamples, post = lPostSamples;
  uint16_t* data = ChannelData[1].get();
  const int64_t merged = std::min<int64_t>(2 * held - 1, kChannelBufferSamples - 1);
  if (merged < L) {
    SoftwareMissed = true;
    return false;
  }
  // The card's trigger (or its forcing) on converter 1, as a merged position.
  const int64_t cardConverter = held - (int64_t{SoftwareGeometry.post} + CardTriggerLag());
  const int64_t cardTrigger = 2 * cardConverter - 1;

  CrossingDetector detector{ConditionOf(TriggerMode[1]), ComparatorValues[1][0], ComparatorValues[1][1]};
  const bool level = detector.condition == Condition::kAbove;
  // Every sample from the pre-trigger part to the first qualifying crossing
  // must be seen, so stepping starts at the pre-trigger part; the
  // detector's state there comes from the samples before it (the card's
  // trigger sets it at the latest). The first read also holds where the
  // record is expected to start: converter 1 crossed first at the card's
  // trigger, so a crossing after the pre-trigger part is there or at
  // converter 2's sample before it; one before comes back a whole number
  // of spacings later. Forced, the search starts at the oldest sample.
  int64_t start = 0, firstRead = 0, end = L;
  bool known = true;
  if (!ForcedWhileWaiting) {
    start = pre;
    known = level;
    firstRead = pre - (level ? 0 : kLeastStateReach);
    end = L + 1;
    const bool spacing = CrossingSpacingKnown();
    int64_t slack = 1, expected = -1;
    if (cardTrigger >= pre) {
      expected = cardTrigger - 1;
    } else if (spacing && cardTrigger > 0) {
      // A spacing counted in whole samples may be a sample off per spacing.
      const int64_t spacings = (pre - cardTrigger + CrossingSpacing - 1) / CrossingSpacing;
      expected = cardTrigger + spacings * CrossingSpacing;
      slack = CrossingSpacing / 64 + 1 + spacings;
    }
    if (expected >= 0) {
      firstRead = std::min(firstRead, expected - pre - slack);
      end = expected + post + slack + 1;
    } else {
      // Without an expected place the first read ends where the record
      // ends at the earliest and reaches a little further back.
      firstRead -= kPieceWorth;
    }
    firstRead = std::clamp<int64_t>(firstRead, 0, pre);
  }
  end = std::clamp<int64_t>(end, start + 1, merged);
  ReadMergedPositions(held, firstRead, end);
  int64_t readLo = firstRead, readHi = end;
  const auto readDownTo = [&](int64_t lo) {
    if (lo >= readLo) return;
    ReadMergedPositions(held, lo, readLo);
    readLo = lo;
  };
  const auto readUpTo = [&](int64_t hi, bool exact) {
    if (hi <= readHi) return;
    const int64_t grow = std::max({kLeastChunk, L / 8, (readHi - readLo) / 4});
    const int64_t to = exact ? hi : std::min(merged, std::max(hi, readHi + grow));
    ReadMergedPositions(held, readHi, to);
    readHi = to;
  };
  // The detector's state before position p: from the last sample before it
  // that sets the state whatever it was, or from the run's start.
  const auto armedBefore = [&](int64_t p) {
    for (int64_t reach = kLeastStateReach, j = p - 1;; reach *= 2) {
      const int64_t lo = std::max<int64_t>(0, p - reach);
      readDownTo(lo);
      for (; j >= lo; --j) {
        const Effect e = EffectOf(detector, data[j]);
        if (e != Effect::kArms && e != Effect::kDisarms) continue;
        CrossingDetector from = detector;
        from.armed = e == Effect::kArms;
        for (int64_t i = j + 1; i < p; ++i) from.Step(i, data[i]);
        return from.armed;
      }
      if (lo == 0) {
        CrossingDetector from = detector;
        from.armed = false;
        for (int64_t i = 0; i < p; ++i) from.Step(i, data[i]);
        return from.armed;
      }
    }
  };

  const int64_t lastStart = merged - post;  // a later crossing leaves no room after it
  int64_t found = -1;
  for (int64_t i = start; i <= lastStart; ++i) {
    readUpTo(i + 1, false);
    if (!known) {
      // Until a sample sets the state, the samples since `start` changed
      // nothing: the state there is the state here.
      const Effect e = EffectOf(detector, data[i]);
      if (e == Effect::kNone) continue;
      if (e == Effect::kArms || (e == Effect::kDisarms && i < pre)) {
        detector.armed = e == Effect::kArms;
        known = true;
        continue;
      }
      detector.armed = armedBefore(start);
      known = true;
    }
    if (detector.Step(i, data[i]) && i >= pre) {
      found = i;
      break;
    }
  }
  int64_t recordStart = 0;
  if (found >= 0) {
    recordStart = found - pre;
    RecordTrigger = RK350_RECORD_TRIGGERED_SOFTWARE;
    readUpTo(found + post, true);
    readDownTo(recordStart);
    LearnSpacingWithin(detector, data, recordStart, recordStart + L);
  } else if (SoftwareForced) {
    // Forced without a crossing: the record at the forcing instant when the
    // run holds it, else the first record the run holds; only what the
    // search did not read is read.
    recordStart = std::clamp<int64_t>(cardTrigger - pre, 0, merged - L);
    RecordTrigger = ForcedRecord();
    const int64_t recordEnd = recordStart + L;
    if (recordEnd <= readLo || recordStart >= readHi) {
      ReadMergedPositions(held, recordStart, recordEnd);
    } else {
      readDownTo(recordStart);
      readUpTo(recordEnd, true);
    }
  } else {
    // A spacing seen is learnt only when it widens the window that missed
    // (else the window doubles): a narrower one would miss again.
    const int64_t seen = WidestSpacing(detector, data, readLo, readHi);
    if (seen <= SearchWindow() || !LearnCrossingSpacing(seen)) ++SoftwareAttempt;
    SoftwareMissed = true;
    return false;
  }
  // The overload and fit tests of automatic ranging, per converter.
  for (int converter = 1; converter <= 2; ++converter) {
    OverloadFlag[converter] = false;
    FitFlag[converter] = true;
  }
  for (int64_t q = recordStart; q < recordStart + L; ++q) {
    const int converter = q % 2 == 1 ? 1 : 2;
    if (data[q] > OverloadHigh[converter] || data[q] < OverloadLow[converter]) OverloadFlag[converter] = true;
    if (data[q] <= FitLow[converter] || data[q] >= FitHigh[converter]) FitFlag[converter] = false;
  }
  std::copy(data + recordStart, data + recordStart + L, data);
  return true;
}

}  // namespace rk350
