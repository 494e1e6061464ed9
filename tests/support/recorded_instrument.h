// A fixture for unit tests: the library's ports go to a recorder with a
// virtual card behind it, so a test can drive the instrument or the exports
// and read the exact register traffic.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "card/port_recorder.h"
#include "card/virtual_card.h"
#include "instrument/trk350.h"

namespace rk350::testing {

// Installs a recording port pair in front of a fresh virtual card for the
// lifetime of the object; restores the flavour's own ports afterwards.
class RecordedBus {
 public:
  explicit RecordedBus(uint16_t base = 0x288);
  ~RecordedBus();
  card::VirtualCard& Card() { return *card_; }
  card::PortRecorder& Recorder() { return recorder_; }
  // Lines of recorder text for the traffic since the last Clear().
  std::vector<std::string> Lines() const;

 private:
  std::unique_ptr<card::VirtualCard> card_;
  card::PortRecorder recorder_;
};

// Captures message-box texts for the lifetime of the object.
class MessageBoxCapture {
 public:
  MessageBoxCapture();
  ~MessageBoxCapture();
  const std::vector<std::string>& Texts() const { return texts_; }

 private:
  static void Handler(void* context, const char* text);
  std::vector<std::string> texts_;
};

// Returns the library to its state at load: no instrument, gInitialised
// false, message ids and volt factors 0. (In a real process only unloading
// the module does this.)
void ResetLibraryToLoaded();

}  // namespace rk350::testing
