// Extension calls: message processing, message-box handler, host port pair,
// result code names, version.
#include "library/library_state.h"
#include "rk350/rk350_ext.h"

using namespace rk350;

#ifndef RK350_VERSION_STRING
#define RK350_VERSION_STRING "0.0.0"
#endif

RK350_API(uint32_t) RK350_ProcessMessages(void) { return platform::ProcessPendingMessages(); }

namespace {
RK350MessageBoxHandler gHostHandler = nullptr;
void ForwardMessageBox(void* context, const char* text) { gHostHandler(context, text); }
}  // namespace

RK350_API(void) RK350_SetMessageBoxHandler(RK350MessageBoxHandler handler, void* context) {
  gHostHandler = handler;
  platform::SetMessageBoxHandler(handler != nullptr ? &ForwardMessageBox : nullptr, context);
}

RK350_API(uint16_t) RK350_SetPortFunctions(void* context, RK350PortInFunction in, RK350PortOutFunction out) {
  if (gInstrument != nullptr) return ResultNotAvailable;
  if ((in == nullptr) != (out == nullptr)) return ResultInvalidValue;
  hw::InstallPortPair({context, in, out});
  return ResultOk;
}

namespace {
struct ResultDescription {
  uint32_t code;
  const char* name;
  const char* text;
};
constexpr ResultDescription kResults[] = {
    {ResultOk, "ResultOk", "the call succeeded"},
    {ResultNoInstrument, "ResultNoInstrument", "no instrument: InitInstrument was not called, or found no card"},
    {ResultNotInitialised, "ResultNotInitialised", "the library is not initialised"},
    {ResultNotAvailable, "ResultNotAvailable", "the function or setting does not exist on this instrument"},
    {ResultNoGenerator, "ResultNoGenerator", "the instrument has no function generator"},
    {ResultInvalidChannel, "ResultInvalidChannel", "the channel number is 0 or above the channel count"},
    {ResultInvalidValue, "ResultInvalidValue", "an argument lies outside its allowed set or range"},
};
const ResultDescription* FindResult(uint32_t code) {
  for (const auto& r : kResults) {
    if (r.code == code) return &r;
  }
  return nullptr;
}
}  // namespace

RK350_API(const char*) RK350_ResultName(uint32_t result) {
  const auto* r = FindResult(result);
  return r != nullptr ? r->name : "Unknown";
}

RK350_API(const char*) RK350_ResultText(uint32_t result) {
  const auto* r = FindResult(result);
  return r != nullptr ? r->text : "unknown result code";
}

RK350_API(uint32_t) RK350_TakeMeasurementReady(void) {
  if (gInstrument == nullptr) return 0;
  const bool ready = gMeasurementReady;
  gMeasurementReady = false;
  return ready ? 1 : 0;
}

RK350_API(const char*) RK350_Version(void) { return RK350_VERSION_STRING; }
