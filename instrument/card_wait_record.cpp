// The software trigger's record from a run in which the card's comparator
// waited for its trigger: the run was armed with no pre-trigger part and a
// post-trigger count of the record plus a search window, so the memory holds
// the samples from arming to the end of the run. The readout reads only what
// it needs, through the documented readout (an address advance, then read
// strobes): the record around the card's trigger when that came after the
// pre-trigger part; otherwise the trigger channel from the start of the
// record (where the crossing spacing expects it, the card's trigger at the
// latest) up to the first qualifying crossing and on to the end of the
// record, and the other channel's record.
#include <algorithm>

#include "instrument/trigger_condition.h"
#include "instrument/trk350.h"
#include "rk350/rk350_ext.h"

namespace rk350 {

namespace {
using namespace regs;

constexpr int64_t kDepth = regs::kMemoryDepth;
// The card's readout pipeline: after an address advance by c, the n-th read
// strobe (from 0) shows memory address c - 9 + n.
constexpr int64_t kReadoutLag = 9;
}  // namespace

// Reads `count` samples of a channel, oldest first, from the one `back`
// places before the end of the run (back 1 is the newest), handing each to
// `take`, which answers whether to read on.
template <typename Take>
void TRK350::ReadBack(int channel, int64_t back, int64_t count, Take&& take) {
  WriteRegister(kRegSequencer, kSequencerIdle);
  const int64_t address = ((MemoryEnd - back) % kDepth + kDepth) % kDepth;
  int64_t advance = (address + kReadoutLag) % kDepth;
  int64_t skip = 0;
  if (advance == 0) {  // an advance by 0 moves by 1: start one place earlier
    advance = kDepth - 1;
    skip = 1;
  }
  AdvanceMemoryAddress(static_cast<uint16_t>(advance));
  const auto base = static_cast<uint16_t>(nHardwareAddress);
  const auto dataPort = static_cast<uint16_t>(channel == 1 ? base + 1 : base);
  gClockSelect |= kClockSelectReadout;
  WriteRegister(kRegClockSelect, gClockSelect);
  WriteRegister(kRegSequencer, kSequencerReadout);
  for (int64_t n = 0; n < count + skip; ++n) {
    hw::PortOut(base, kRegReadStrobe);
    hw::PortOut(static_cast<uint16_t>(base + 1), kReadStrobeValue);
    const auto s = static_cast<uint16_t>(hw::PortIn(dataPort) << 8);
    if (n >= skip && !take(s)) break;
  }
  WriteRegister(kRegSequencer, kSequencerIdle);
}

// At 100 MHz converter 1 gives the merged record's odd positions, converter
// 2 the even ones (card_wait_merged.cpp).
void TRK350::ReadMergedPositions(int64_t held, int64_t lo, int64_t hi) {
  uint16_t* out = ChannelData[1].get();
  for (int converter = 1; converter <= 2; ++converter) {
    const int64_t first = converter == 1 ? (lo + 2) / 2 : (lo + 1) / 2;
    const int64_t end = converter == 1 ? (hi + 2) / 2 : (hi + 1) / 2;
    if (end <= first) continue;
    int64_t k = first;
    ReadBack(converter, held - first, end - first, [&](uint16_t s) {
      out[converter == 1 ? 2 * k - 1 : 2 * k] = s;
      ++k;
      return true;
    });
  }
}

bool TRK350::ReadCardWaitRecord() {
  const int32_t L = lRecordLength, pre = lPreSamples, post = lPostSamples;
  const int trigger = TriggerChannel();
  const int other = 3 - trigger;
  const bool readOther = ReadsChannel(other);
  Held[1] = Held[2] = Span{};
  for (int ch = 1; ch <= 2; ++ch) {
    OverloadFlag[ch] = false;
    FitFlag[ch] = false;
  }
  SoftwareMissed = false;

  // An empty bus vouches for nothing the memory reads would give.
  if (!LocateRecord(L).answering) {
    RecordTrigger = RK350_RECORD_NONE;
    return true;
  }
  const int64_t held = MemoryWrapped ? kDepth : MemoryEnd;
  if (Interleaved) {
    if (!ReadMergedWaitRecord(held)) return false;
    FinishCardWaitRecord(trigger);
    return true;
  }
  uint16_t* data = ChannelData[trigger].get();

  // Where the card's trigger (or its forcing) lies, counted from the end.
  const int64_t cardBack = int64_t{SoftwareGeometry.post} + CardTriggerLag();
  int64_t at = -1;  // back of the record's trigger sample
  if (cardBack + pre <= held && cardBack >= post) {
    at = cardBack;
    RecordTrigger = ForcedWhileWaiting ? ForcedRecord() : RK350_RECORD_TRIGGERED_CARD;
    int64_t k = 0;
    ReadBack(trigger, at + pre, L, [&](uint16_t s) {
      data[k++] = s;
      return true;
    });
  } else {
    // The card's trigger came before the pre-trigger part was taken: follow
    // the comparator to the first crossing with the pre-trigger part before
    // it, and read on to the end of the record. Positions count from the
    // oldest sample held (the start of the run when the memory did not wrap).
    CrossingDetector detector{ConditionOf(TriggerMode[1]), ComparatorValues[trigger][0], ComparatorValues[trigger][1]};
    const int64_t lastStart = held - post;  // a later crossing leaves no room after it
    const int64_t first = SearchStart(detector, held - cardBack, pre);
    int64_t k = first, found = -1;
    ReadBack(trigger, held - first, held - first, [&](uint16_t s) {
      data[k] = s;
      if (found < 0 && detector.Step(k, s) && k >= pre) found = k;
      ++k;
      if (found >= 0) return k < found + post;
      return k <= lastStart;
    });
    const bool learned = LearnCrossingSpacing(detector.spacing);
    if (found >= 0 && found - pre < first) {
      // The record starts before the samples read: read its beginning too.
      int64_t n = found - pre;
      ReadBack(trigger, held - n, first - n, [&](uint16_t s) {
        data[n++] = s;
        return true;
      });
    }
    if (found >= 0) {
      at = held - found;
      RecordTrigger = RK350_RECORD_TRIGGERED_SOFTWARE;
      std::copy(data + (found - pre), data + (found + post), data);
    } else if (SoftwareForced && held >= L) {
      // Forced without a crossing: the record at the forcing instant when
      // the memory holds it, else the first record the run holds. The
      // search read [first, k) already: only the rest is read.
      at = cardBack + pre <= held ? cardBack : held - pre;
      RecordTrigger = ForcedRecord();
      const int64_t start = held - (at + pre), end = start + L;
      const auto readPositions = [&](int64_t lo, int64_t hi) {
        if (hi <= lo) return;
        int64_t n = lo;
        ReadBack(trigger, held - lo, hi - lo, [&](uint16_t s) {
          data[n++] = s;
          return true;
        });
      };
      if (end <= first || start >= k) {
        readPositions(start, end);
      } else {
        readPositions(start, first);
        readPositions(k, end);
      }
      std::copy(data + start, data + end, data);
    } else {
      if (!learned) ++SoftwareAttempt;
      SoftwareMissed = true;
      return false;
    }
  }
  FinishCardWaitRecord(trigger);
  if (readOther) {
    uint16_t* otherData = ChannelData[other].get();
    int64_t n = 0;
    ReadBack(other, at + pre, L, [&](uint16_t s) {
      otherData[n++] = s;
      return true;
    });
    Held[other] = Span{0, L};
  }
  // The overload and fit tests of automatic ranging, over the record.
  for (int ch = 1; ch <= 2; ++ch) {
    if (Held[ch].count == 0) continue;
    const uint16_t* d = ChannelData[ch].get();
    bool overload = false, fit = true;
    for (int32_t i = 0; i < L; ++i) {
      if (d[i] > OverloadHigh[ch] || d[i] < OverloadLow[ch]) overload = true;
      if (d[i] <= FitLow[ch] || d[i] >= FitHigh[ch]) fit = false;
    }
    OverloadFlag[ch] = overload;
    FitFlag[ch] = fit;
  }
  return true;
}

void TRK350::FinishCardWaitRecord(int trigger) {
  SoftwareForced = false;
  if (RecordTrigger == RK350_RECORD_TRIGGERED_SOFTWARE || RecordTrigger == RK350_RECORD_TRIGGERED_CARD)
    KeepWindowThatFound();
  SoftwareAttempt = 0;
  Held[trigger] = Span{0, lRecordLength};
}

uint32_t TRK350::ForcedRecord() const {
  return ForcedByTimeOut ? RK350_RECORD_FORCED_TIMEOUT : RK350_RECORD_FORCED_CALL;
}

}  // namespace rk350
