// What the card offers, asked of the library once: the ranges, the record
// length, the sample rates it reaches and how it rounds a request, the
// trigger sources and modes it takes, its generator. One probe serves both
// --show (as text) and the scope's /api/offer (as JSON).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "capture_session.h"
#include "library_api.h"

namespace rk350::capture {

// The generator's highest frequency: the library keeps a running output
// within it, but has no call that tells it while the output is off (and
// switching a real card's output on to find out would drive its socket).
constexpr double kGeneratorTopFrequency = 5e6;  // Hz

struct RateRequest {
  double requested = 0.0;  // Hz
  double reached = 0.0;    // Hz, as the card runs it
  bool ch1Only = false;    // above the converters' own rate: both sample CH1
};

struct CardOffer {
  bool virtualCard = false;  // inputs can be wired to built-in sources
  int channels = 0;
  std::uint32_t maxSamples = 0;
  std::vector<double> ranges;  // V full scale, ascending
  double converterRate = 0.0;  // Hz: the converters' own top rate
  // Round requests and the distinct rates they reach, fastest first (the
  // page's list), and requests that show how the card rounds (--show).
  std::vector<RateRequest> rates;
  std::vector<RateRequest> roundings;
  std::vector<bool> triggerSources;  // per TriggerSources() entry: the card takes it
  std::vector<bool> triggerModes;    // per mode 0 .. 6 on the channels: the card takes it
  bool generator = false;
  double maxGeneratorAmplitude = 0.0;  // V peak
};

// Asks an initialised instrument; the probing changes its settings, so the
// session configures the card afterwards.
CardOffer ProbeCardOffer(const LoadedLibrary& library, CardPort port);
std::string DescribeCardOffer(const CardOffer& offer);

}  // namespace rk350::capture
