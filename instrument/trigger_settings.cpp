// Trigger source, modes, levels, hysteresis, time-out and dip time. Stored
// only; the arming sequence turns them into register values.
#include <cmath>

#include "instrument/trk350.h"

namespace rk350 {

void TRK350::SettsTriggerSource(TTrigSource source) {
  if (source == tsTriggerSource) return;
  tsTriggerSource = source;
  nCalculations = 1;
  NotifySettingsChanged();
}

void TRK350::SetChTriggerMode(int input, uint8_t mode) {
  if (mode == TriggerMode[input]) return;
  TriggerMode[input] = mode;
  nCalculations = 1;
  NotifySettingsChanged();
}

uint8_t TRK350::GetChTriggerMode(int input) const { return TriggerMode[input]; }

int TRK350::TriggerChannel() const { return tsTriggerSource == tsCh2 ? 2 : 1; }

void TRK350::SetChTriggerLevel(int channel, int32_t counts) {
  if (counts == TriggerLevel[channel]) return;
  TriggerLevel[channel] = counts;
  nCalculations = 1;
  NotifySettingsChanged();
}

int32_t TRK350::GetChTriggerLevel(int channel) const { return TriggerLevel[channel]; }

void TRK350::SetChTriggerHys(int channel, int32_t counts) {
  if (counts == TriggerHysteresis[channel]) return;
  TriggerHysteresis[channel] = counts;
  nCalculations = 1;
  NotifySettingsChanged();
}

int32_t TRK350::GetChTriggerHys(int channel) const { return TriggerHysteresis[channel]; }

void TRK350::SetrTrigTimeOut(Extended seconds) {
  if (seconds == rTrigTimeOut) return;
  rTrigTimeOut = seconds;
  nCalculations = 1;
  NotifySettingsChanged();
}

void TRK350::SetrTrigDipTime(Extended seconds) {
  if (seconds == GetrTrigDipTime()) return;
  // Held in whole milliseconds; a value beyond the 32-bit count (or NaN)
  // is limited rather than wrapped.
  Extended ms = std::nearbyint(seconds * 1000.0L);
  if (std::isnan(ms)) ms = 0;
  if (ms < INT32_MIN) ms = INT32_MIN;
  if (ms > INT32_MAX) ms = INT32_MAX;
  TrigDipTimeMs = static_cast<int32_t>(ms);
  nCalculations = 1;
  NotifySettingsChanged();
}

Extended TRK350::GetrTrigDipTime() const { return TrigDipTimeMs / 1000.0L; }

int32_t TRK350::ClampInt(int32_t value, int32_t lowest, int32_t highest) {
  if (value < lowest) return lowest;
  if (value > highest) return highest;
  return value;
}

}  // namespace rk350
