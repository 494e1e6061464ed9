// Library-level state: the single instrument, the objects bound to it, and
// the few values that live beside it. One instance per loaded module.
#pragma once

#include <cstdint>
#include <memory>

#include "instrument/trk350.h"
#include "rk350/rk350.h"

namespace rk350 {

class TEventHandler;
class TDeviceMessageReceiver;

enum Result : uint16_t {
  ResultOk = 0,
  ResultNoInstrument = 1,
  ResultNotInitialised = 2,
  ResultNotAvailable = 4,
  ResultNoGenerator = 8,
  ResultInvalidChannel = 16,
  ResultInvalidValue = 32,
};

extern TRK350* gInstrument;
extern TEventHandler* gEventHandler;
extern TDeviceMessageReceiver* gDeviceMessageReceiver;
extern bool gInitialised;
extern bool gDataFetched;
extern double gVoltFactor[5];  // [1..4], volts per raw count
extern int32_t gSquareWaveFrequency;
extern bool gMeasurementReady;
extern uint32_t gMeasurementReadyMessage;
extern uint32_t gTransUpdateMessage;
extern uint32_t gTransReadyMessage;
extern uint32_t gSettingChangedMessage;

// What unloading and loading the module again gives: no instrument, not
// initialised, every library-level value as at load, the library's own port
// access and message boxes. For a host that links the library statically
// and cannot load it again (the fuzzing harness).
void ReturnToLoadedState();

// Common guard, step 1: the instrument exists and its card was found.
inline bool InstrumentPresent() { return gInstrument != nullptr && gInstrument->HardwarePresent; }

// Guard for exports that return a result code: ResultOk when the instrument
// is present, else ResultNoInstrument.
inline uint16_t CheckInstrument() { return InstrumentPresent() ? ResultOk : ResultNoInstrument; }

// Guard steps 1 and 2, for the exports that also need gInitialised.
inline uint16_t CheckInstrumentInitialised() {
  if (!InstrumentPresent()) return ResultNoInstrument;
  return gInitialised ? ResultOk : ResultNotInitialised;
}

// Channel check: 1 <= channel <= ChannelCount.
inline bool ValidChannel(unsigned channel) { return channel >= 1 && channel <= gInstrument->ChannelCount; }

}  // namespace rk350
