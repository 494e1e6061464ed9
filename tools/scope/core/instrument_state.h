// What the instrument thread takes and gives, as types: changes of settings
// in; an outcome (the library's result and message) and snapshots of the
// settings, what the card reached and the run out. JSON is the HTTP side's
// (scope_settings.h turns a patch into changes and a snapshot into JSON).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "card_offer.h"
#include "card_settings.h"
#include "core/scope_settings.h"
#include "rk350/rk350.h"

namespace rk350::scope {

// What the card reached with the settings in force.
struct Reached {
  double rate = 0;
  std::size_t arbitraryPoints = 0;
  std::uint32_t samples = 0;
  std::uint32_t preSamples = 0;
  int measureMode = 0;
  std::optional<double> generatorFrequency;       // as the virtual card's generator runs
  std::array<std::optional<double>, 2> ranges{};  // per channel, as the library reports them
};

// What the armed run does while no record is ready: nothing to say while
// records come quickly, else waiting for its trigger or acquiring after it.
struct RunState {
  enum class Phase { Quick, Waiting, Acquiring };
  Phase phase = Phase::Quick;
  double seconds = 0;     // since armed (waiting) or triggered (acquiring)
  double runSeconds = 0;  // the library's armed run time (acquiring)
};

struct Snapshot {
  ScopeSettings settings;
  std::uint64_t version = 0;
  Reached reached;
  RunState run;
};

// The outcome of a request: the library's result code with its name and
// meaning, and the message that says which setting and why.
struct Outcome {
  unsigned result = RK350_RESULT_OK;
  std::string message;  // empty when done
  std::string resultName;
  std::string meaning;
  bool answered = true;  // false: the instrument thread gave no answer in time
  std::vector<Adjustment> adjusted;
  Snapshot snapshot;  // after the request (when done)

  bool Done() const { return answered && result == RK350_RESULT_OK; }
};

// What the card offers, with who it is.
struct InstrumentOffer {
  capture::CardOffer card;
  std::string identity;  // the card's identity line
  std::optional<std::int32_t> serial;
  std::string libraryVersion;
};

}  // namespace rk350::scope
