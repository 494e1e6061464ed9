#include "library/event_forwarding.h"

#include "library/library_state.h"

namespace rk350 {

TEventHandler::TEventHandler() {
  if (gInstrument == nullptr) return;
  gInstrument->OnMeasurementReady = {&TEventHandler::MeasurementReadyHandler, this};
  gInstrument->OnSettingsChanged = {&TEventHandler::SettingsChangedHandler, this};
}

void TEventHandler::MeasurementReadyHandler(void* /*self*/, TRK350* /*sender*/) { gMeasurementReady = true; }

// Refreshes the volt factors of channels 1 and 2 through the export, since
// automatic ranging may have changed their ranges.
void TEventHandler::SettingsChangedHandler(void* /*self*/, TRK350* /*sender*/) {
  if (gInstrument == nullptr) return;
  for (uint8_t ch = 1; ch <= 2; ++ch) {
    double fullScale = static_cast<double>(gInstrument->GetChSensitivity(ch));
    (void)SetSensitivity(ch, &fullScale);
  }
}

TDeviceMessageReceiver* TDeviceMessageReceiver::Create() {
  std::unique_ptr<TDeviceMessageReceiver> receiver(new TDeviceMessageReceiver());
  receiver->window_ = platform::MessageWindow::Create("TDeviceMessageReceiver", &Dispatch, receiver.get());
  if (!receiver->window_) return nullptr;
  return receiver.release();
}

TDeviceMessageReceiver::~TDeviceMessageReceiver() = default;

void TDeviceMessageReceiver::Dispatch(void* context, uint32_t message) {
  auto* self = static_cast<TDeviceMessageReceiver*>(context);
  if (message == kMessageDeviceChange) self->MDeviceChange();
  if (message == kMessageDeviceArrived) self->WMDeviceArrived();
}

void TDeviceMessageReceiver::MDeviceChange() {}

void TDeviceMessageReceiver::WMDeviceArrived() {
  if (gInstrument != nullptr) gInstrument->StartMeasureTimer();
  platform::ShowMessageBox("WMDeviceArrived ");
}

}  // namespace rk350
