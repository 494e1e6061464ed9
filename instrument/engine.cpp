// The timer-driven measurement engine: arming, polling, time-outs counted in
// ticks, automatic ranging, averaging bookkeeping, the synchronous
// measurement and the block operations.
#include <cmath>

#include "instrument/trk350.h"

namespace rk350 {

namespace {
constexpr Extended kDcLevelFactor = 2.0L;
constexpr Extended kTicksPerSecond = 20.0L;
constexpr Extended kTimeOutCeiling = 2000000.0L;
constexpr Extended kFitFactor = 0.95L;
constexpr uint16_t kMidScale = 0x8000;
constexpr uint16_t kFallbackFitHigh = 0xB935;
constexpr uint16_t kFallbackFitLow = 0x46CB;
constexpr uint16_t kOverloadHigh = 0xFD00;
constexpr uint16_t kOverloadLow = 0x0300;
// A synchronous measurement gives up on a card whose status port has read
// 0xFF (nothing answers) for this long.
constexpr uint32_t kSilentCardLimitMs = 500;
// ... and on a card that has not completed within this margin plus twice
// the time the record needs once its trigger has been seen or forced.
constexpr uint32_t kCompletionMarginMs = 2000;

// Half-width of the fit window for a range: 95 % of the next more sensitive
// range's full scale, in raw counts of the current range. False when the
// range has no more sensitive neighbour to compute from.
bool FitHalfWidth(const TRK350& t, int range, int32_t& d) {
  if (range < 2 || range > 12) return false;
  const Extended current = t.Sensitivities[range];
  const Extended lower = t.Sensitivities[range - 1];
  if (!(current > 0) || !(lower >= 0)) return false;
  const Extended width = kFitFactor * 32768.0L * lower / current;
  if (!std::isfinite(width) || width < 0 || width >= 32768.0L) return false;
  d = static_cast<int32_t>(width);  // fraction cut off
  return true;
}
}  // namespace

// ---- Settings of the engine --------------------------------------------------------

void TRK350::SetbEnableMeasurements(bool enable) {
  if (enable == bEnableMeasurements) return;
  bEnableMeasurements = enable;
  if (enable) {
    MeasureTimer->SetEnabled(true);
    MeasurementBusy = false;  // the next tick arms afresh
  } else {
    MeasureTimer->SetEnabled(false);
  }
}

void TRK350::SetamAcquisitionMode(TAcquisitionMode mode) {
  if (mode == amAcquisitionMode) return;
  amAcquisitionMode = mode;
  if (mode == amOneShot) nCalculations = 1;
}

void TRK350::SetmMeasureMode(TMeasureMode mode) {
  if (mode == mMeasureMode) return;
  mMeasureMode = mode;
  switch (mode) {
    case mNone:
      ActiveChannels = 0;
      break;
    case mCh1:
      ActiveChannels = 1;
      break;
    case mCh2:
      ActiveChannels = 2;
      break;
    case mCh12:
    case mXY:
      ActiveChannels = 3;
      break;
    default:
      break;
  }
  if (mode == mCh2 || mode == mCh12 || mode == mXY) Interleaved = false;
  // Back to channel 1 alone: a rate above one converter's top asked for
  // earlier interleaves again (the next arming programs the clock).
  if (mode == mCh1 && InterleaveWanted) {
    Interleaved = true;
    ClockFrequency = 50000000.0L;
  }
}

void TRK350::ClampRangeIndex(int channel) {
  if (RangeIndex[channel] == 0) RangeIndex[channel] = 1;
  const auto highest = static_cast<uint16_t>(SensitivityCount + 2);
  if (RangeIndex[channel] > highest) RangeIndex[channel] = highest;
}

// ---- Engine tick ------------------------------------------------------------------

void TRK350::ApplyRangeStep(int channel) {
  RangeIndex[channel] = static_cast<uint16_t>(RangeIndex[channel] + RangeDelta[channel]);
  ClampRangeIndex(channel);
  // A DC level beyond twice the new full scale needs the next range up.
  if (std::fabs(DcLevel[channel] / Sensitivities[RangeIndex[channel]]) > kDcLevelFactor) {
    RangeIndex[channel] = static_cast<uint16_t>(RangeIndex[channel] + 1);
    ClampRangeIndex(channel);
  }
  DcLevelLimit[channel] = DcLevelLimits[RangeIndex[channel]];
  ClampDcLevel(channel);
  nCalculations = 1;
  NotifySettingsChanged();
}

void TRK350::UpdateFitWindows() {
  int32_t d[3] = {0, 0, 0};
  const bool ok = FitHalfWidth(*this, RangeIndex[1], d[1]) && FitHalfWidth(*this, RangeIndex[2], d[2]);
  for (int ch = 1; ch <= 2; ++ch) {
    FitHigh[ch] = ok ? static_cast<uint16_t>(kMidScale + d[ch]) : kFallbackFitHigh;
    FitLow[ch] = ok ? static_cast<uint16_t>(kMidScale - d[ch]) : kFallbackFitLow;
  }
  OverloadHigh[2] = kOverloadHigh;
  OverloadLow[2] = kOverloadLow;
}

void TRK350::ArmFromEngine() {
  MeasureTimer->SetEnabled(false);
  // Pending messages run once here, with the timer off so that no tick
  // re-enters this one.
  platform::ProcessPendingMessages();
  MeasurementBusy = true;

  if (AutoRanging[1] && mMeasureMode != mCh2 && RangeDelta[1] != 0) ApplyRangeStep(1);
  if (AutoRanging[2] && mMeasureMode != mCh1 && RangeDelta[2] != 0) ApplyRangeStep(2);
  UpdateFitWindows();

  if (SettingsDirty) {
    for (int ch = 1; ch <= 2; ++ch) DcLevelLimit[ch] = DcLevelLimits[RangeIndex[ch]];
    ClampDcLevel(1);
    ClampDcLevel(2);
    ApplyFrontEnd();
    SettingsDirty = false;
    // In continuous mode the next tick arms once more.
    MeasurementBusy = amAcquisitionMode == amOneShot;
  }

  const Extended rate = GetrSampleFreq();
  if (rTrigTimeOut >= 0 && rate > 0 && rTrigTimeOut < 1.0L / rate) AppliedTriggerSource = tsNoTrig;

  ArmMeasurement();
  MeasureTimer->SetEnabled(true);
}

void TRK350::CompleteFromEngine() {
  MeasureTimer->SetEnabled(false);
  ReadMeasurement();
  if (SoftwareMissed) {
    // The software trigger found no crossing: the next tick runs the card
    // again while the time-out goes on counting.
    MeasurementBusy = false;
    MeasureTimer->SetEnabled(true);
    return;
  }
  PollCount = 0;
  if (amAcquisitionMode == amOneShot) {
    if (nAverageNumber == 1 || nCalculations >= nAverageNumber) {
      amAcquisitionMode = amHold;
      NotifySettingsChanged();
    } else {
      ++nCalculations;
    }
  } else if (nCalculations < nAverageNumber) {
    ++nCalculations;
  } else {
    nCalculations = 1;
  }
  MeasurementBusy = false;
  SyncDone = true;
  FireMeasurementReady();
  SettingsDirty = false;
  MeasureTimer->SetEnabled(true);
}

void TRK350::EngineTick() {
  if (!HardwarePresent) return;
  if (!MeasurementBusy) ArmFromEngine();

  // Time-out in ticks, counted at 20 per second whatever the real tick rate.
  Extended timeOutTicks = -1;
  if (rTrigTimeOut >= 0) timeOutTicks = std::nearbyint(rTrigTimeOut * kTicksPerSecond) + 1;
  ++PollCount;

  uint32_t status = TriggerStatus();
  if (tsTriggerSource == tsAnd && status != 0) status = TriggerStatus();
  if (status != 0) TriggerSeen = true;
  FireTriggered();

  if (timeOutTicks > 0 && PollCount > timeOutTicks && rTrigTimeOut < kTimeOutCeiling) {
    ForceTrigger();
    ForcedByTimeOut = true;
    TriggerSeen = true;
    PollCount = 0;
    SettingsDirty = true;
  }

  if (RecordComplete()) {
    CompleteFromEngine();
  } else {
    RangeDelta[1] = 0;
    RangeDelta[2] = 0;
  }
}

// ---- Synchronous measurement ----------------------------------------------------

namespace {
constexpr uint32_t kMillisecondsPerTimeOutTick = 50;  // the time-out's 20 ticks per second
}  // namespace

void TRK350::RunSynchronousMeasurement() {
  SyncDone = false;
  SyncAbandoned = false;
  TriggerSeen = false;
  if (!HardwarePresent) return;
  // The loop ends with a record, or when the card stops answering: its status
  // reads 0xFF for a while, or it does not complete well after its trigger.
  bool silent = false, triggered = false;
  uint32_t silentSince = 0, triggeredAt = 0;
  const Extended rate = GetrSampleFreq();
  // A software-triggered run takes up to the whole memory after its start.
  const int32_t post = SoftwareTriggerEnabled ? MaxRecordLength : lPostSamples;
  const Extended recordSeconds = rate > 0 ? (post + 64.0L) / rate : 0;
  const Extended completionMs = kCompletionMarginMs + 2000.0L * recordSeconds;
  // The trigger time-out counts polls at 20 per second. Polled back to back,
  // a 1 s time-out would run out within microseconds, so here a poll counts
  // toward it only once per 50 ms of real time.
  uint32_t lastCountedPoll = platform::TickCountMs();
  while (!SyncDone) {
    const int32_t pollsBefore = PollCount;
    EngineTick();
    if (SyncDone) break;
    const uint32_t now = platform::TickCountMs();
    if (PollCount == pollsBefore + 1) {
      if (now - lastCountedPoll < kMillisecondsPerTimeOutTick) {
        PollCount = pollsBefore;
      } else {
        lastCountedPoll = now;
      }
    }
    if (LastStatus == regs::kStatusNoCard) {
      if (!silent) silentSince = now;
      silent = true;
      if (now - silentSince >= kSilentCardLimitMs) break;
    } else {
      silent = false;
    }
    if (TriggerSeen && !triggered) {
      triggered = true;
      triggeredAt = now;
    }
    if (triggered && static_cast<Extended>(now - triggeredAt) > completionMs) break;
  }
  SyncAbandoned = !SyncDone;
}

// ---- Block measurement ------------------------------------------------------------

void TRK350::StartBlockMeasurement() {
  if (!HardwarePresent) return;
  for (int ch = 1; ch <= 2; ++ch) {
    const bool skip = ch == 1 ? mMeasureMode == mCh2 : mMeasureMode == mCh1;
    if (!AutoRanging[ch] || skip || RangeDelta[ch] == 0) continue;
    RangeIndex[ch] = static_cast<uint16_t>(RangeIndex[ch] + RangeDelta[ch]);
    if (RangeIndex[ch] < 1) RangeIndex[ch] = 1;
    NotifySettingsChanged();
  }
  if (SettingsDirty) {
    ApplyFrontEnd();
    SettingsDirty = false;
  }
  SoftwareAttempt = 0;
  SoftwareRecordHeld = false;
  ArmMeasurement();
  BlockRunning = true;
}

void TRK350::FetchBlockData() {
  if (!HardwarePresent) return;
  // A software-triggered record placed by ADC_Ready is in the buffers
  // already; otherwise the record is read now and taken even without a
  // crossing.
  if (!(SoftwareRun && SoftwareRecordHeld)) {
    if (SoftwareRun) SoftwareForced = true;
    ReadMeasurement();
  }
  SoftwareRecordHeld = false;
  BlockRunning = false;
}

// A block measurement stays armed on the card; it ends when its data are
// fetched.
void TRK350::AbortBlockMeasurement() {}

}  // namespace rk350
