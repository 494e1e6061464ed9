// Extension calls about records: which positions hold samples, overrange,
// and the software trigger that makes records complete.
#include "library/library_state.h"
#include "rk350/rk350_ext.h"

using namespace rk350;

namespace {
bool IsChannel(uint16_t channel) { return channel >= 1 && channel <= gInstrument->ChannelCount && channel <= 2; }
}  // namespace

RK350_API(uint16_t) RK350_GetValidRange(uint16_t channel, int32_t* first, int32_t* count) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  if (!IsChannel(channel)) return ResultInvalidChannel;
  if (first == nullptr || count == nullptr) return ResultInvalidValue;
  const TRK350::Span held = gInstrument->Held[channel];
  *first = held.first;
  *count = held.count;
  return ResultOk;
}

RK350_API(uint16_t) RK350_GetOverrange(uint16_t channel, uint32_t* overrange) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  if (!IsChannel(channel)) return ResultInvalidChannel;
  if (overrange == nullptr) return ResultInvalidValue;
  *overrange = gInstrument->HeldOverrange[channel] ? 1 : 0;
  return ResultOk;
}

RK350_API(uint16_t) RK350_SetSoftwareTrigger(uint32_t on) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  if (on > 1) return ResultInvalidValue;
  gInstrument->SoftwareTriggerEnabled = on == 1;
  return ResultOk;
}

RK350_API(uint16_t) RK350_GetSoftwareTrigger(uint32_t* on) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  if (on == nullptr) return ResultInvalidValue;
  *on = gInstrument->SoftwareTriggerEnabled ? 1 : 0;
  return ResultOk;
}

RK350_API(uint16_t) RK350_GetRecordTrigger(uint32_t* how) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  if (how == nullptr) return ResultInvalidValue;
  *how = gInstrument->RecordTrigger;
  return ResultOk;
}

RK350_API(uint16_t) RK350_GetArmedRunTime(double* seconds) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  if (seconds == nullptr) return ResultInvalidValue;
  *seconds = static_cast<double>(gInstrument->ArmedRunSeconds());
  return ResultOk;
}
