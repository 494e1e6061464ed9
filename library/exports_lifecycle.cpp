// InitInstrument and ExitInstrument, and ExitInstrument at unload.
#include <new>

#include "library/event_forwarding.h"
#include "library/library_state.h"
#include "platform/platform.h"
#include "rk350/rk350_ext.h"

using namespace rk350;

RK350_API(uint16_t) InitInstrument(uint16_t address) {
  if (gInstrument != nullptr) return gInstrument->HardwarePresent ? ResultOk : ResultNoInstrument;

  // Without memory for the instrument and its buffers there is no
  // instrument: the library stays as it was and no exception leaves the
  // export.
  try {
    gInstrument = new TRK350(nullptr);
    gEventHandler = new TEventHandler();
  } catch (const std::bad_alloc&) {
    delete gInstrument;
    gInstrument = nullptr;
    return ResultNoInstrument;
  }
  // A hidden window that cannot be created only costs the device messages.
  try {
    gDeviceMessageReceiver = TDeviceMessageReceiver::Create();
  } catch (const std::bad_alloc&) {
    gDeviceMessageReceiver = nullptr;
  }

  if (gInstrument != nullptr) {
    for (int ch = 1; ch <= 4; ++ch) gInstrument->SetChAutoRanging(ch, false);
    for (int ch = 1; ch <= 4; ++ch) gVoltFactor[ch] = static_cast<double>(gInstrument->GetChSensitivity(ch)) / 32768.0;
    gInstrument->SetamAcquisitionMode(amHold);
  }

  // After ExitInstrument the library stays spent until it is loaded again.
  if (gInitialised) return ResultNoInstrument;

  if (gInstrument->UseCallerAddress) gInstrument->nHardwareAddress = address;

  if (!gInstrument->InitHardware()) return ResultNoInstrument;

  gInitialised = true;
  gDataFetched = true;

  gMeasurementReadyMessage = platform::RegisterMessage("Morvek: MeasurementReady");
  gTransUpdateMessage = platform::RegisterMessage("Morvek: TransUpdate");
  gTransReadyMessage = platform::RegisterMessage("Morvek: TransReady");
  gSettingChangedMessage = platform::RegisterMessage("Morvek: SettingChanged");

  gInstrument->BindNotificationMessage(NotificationTransientUpdate, gTransUpdateMessage);
  gInstrument->BindNotificationMessage(NotificationTransientReady, gTransReadyMessage);
  return ResultOk;
}

RK350_API(uint16_t) ExitInstrument(void) {
  if (gInstrument == nullptr) return ResultOk;
  gInstrument->ShutdownHardware();
  delete gInstrument;
  gInstrument = nullptr;
  delete gEventHandler;
  gEventHandler = nullptr;
  delete gDeviceMessageReceiver;
  gDeviceMessageReceiver = nullptr;
  return ResultOk;
}

namespace rk350 {

void ReturnToLoadedState() {
  ExitInstrument();
  gInitialised = false;
  gDataFetched = false;
  for (double& factor : gVoltFactor) factor = 0;
  gSquareWaveFrequency = 0;
  gMeasurementReady = false;
  gMeasurementReadyMessage = gTransUpdateMessage = gTransReadyMessage = gSettingChangedMessage = 0;
  RK350_SetPortFunctions(nullptr, nullptr, nullptr);
  platform::SetMessageBoxHandler(nullptr, nullptr);
}

}  // namespace rk350

namespace {
// Unloading the module runs ExitInstrument, then returns what the platform
// kept per thread.
struct UnloadHook {
  ~UnloadHook() {
    ExitInstrument();
    platform::ReleaseThreadQueues();
  }
} gUnloadHook;
}  // namespace
