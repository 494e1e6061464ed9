#include "library/library_state.h"

namespace rk350 {

TRK350* gInstrument = nullptr;
TEventHandler* gEventHandler = nullptr;
TDeviceMessageReceiver* gDeviceMessageReceiver = nullptr;
bool gInitialised = false;
bool gDataFetched = false;
double gVoltFactor[5] = {0, 0, 0, 0, 0};
int32_t gSquareWaveFrequency = 0;
bool gMeasurementReady = false;
uint32_t gMeasurementReadyMessage = 0;
uint32_t gTransUpdateMessage = 0;
uint32_t gTransReadyMessage = 0;
uint32_t gSettingChangedMessage = 0;

}  // namespace rk350
