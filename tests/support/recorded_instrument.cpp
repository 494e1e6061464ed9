#include "support/recorded_instrument.h"

#include <sstream>

#include "library/library_state.h"
#include "platform/platform.h"
#include "rk350/rk350.h"

namespace rk350::testing {

RecordedBus::RecordedBus(uint16_t base) : card_(std::make_unique<card::VirtualCard>(base)), recorder_(base) {
  recorder_.Attach(card_.get());
  hw::InstallPortPair(recorder_.Pair());
}

RecordedBus::~RecordedBus() { hw::InstallPortPair({}); }

std::vector<std::string> RecordedBus::Lines() const {
  std::vector<std::string> lines;
  std::istringstream in(recorder_.Text());
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

MessageBoxCapture::MessageBoxCapture() { platform::SetMessageBoxHandler(&Handler, this); }
MessageBoxCapture::~MessageBoxCapture() { platform::SetMessageBoxHandler(nullptr, nullptr); }
void MessageBoxCapture::Handler(void* context, const char* text) {
  static_cast<MessageBoxCapture*>(context)->texts_.emplace_back(text);
}

void ResetLibraryToLoaded() {
  ExitInstrument();
  gInitialised = false;
  gDataFetched = false;
  for (double& f : gVoltFactor) f = 0;
  gSquareWaveFrequency = 0;
  gMeasurementReady = false;
  gMeasurementReadyMessage = gTransUpdateMessage = gTransReadyMessage = gSettingChangedMessage = 0;
}

}  // namespace rk350::testing
