// The objects that receive the instrument's events and the device messages.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/platform.h"

namespace rk350 {

class TRK350;

constexpr uint32_t kMessageDeviceChange = 0x0219;
constexpr uint32_t kMessageDeviceArrived = 0x0400 + 13;

// Binds the instrument's OnMeasurementReady and OnSettingsChanged events to
// library actions.
class TEventHandler {
 public:
  TEventHandler();
  static void MeasurementReadyHandler(void* self, TRK350* sender);
  static void SettingsChangedHandler(void* self, TRK350* sender);
};

// The hidden window receiving device messages.
class TDeviceMessageReceiver {
 public:
  // Returns null when the window cannot be created.
  static TDeviceMessageReceiver* Create();
  ~TDeviceMessageReceiver();
  void MDeviceChange();
  void WMDeviceArrived();
  platform::MessageWindow& Window() { return *window_; }

 private:
  TDeviceMessageReceiver() = default;
  static void Dispatch(void* context, uint32_t message);
  std::unique_ptr<platform::MessageWindow> window_;
};

}  // namespace rk350
