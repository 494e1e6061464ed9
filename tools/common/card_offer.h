// What the card offers, for --show: the ranges, the sample rates and how
// the card rounds a request, trigger sources and modes, generator limits.
// Everything that the library can answer is asked of it (an initialised
// instrument; the probing changes its settings).
#pragma once

#include <string>

#include "library_api.h"

namespace rk350::capture {

std::string DescribeCardOffer(const LibraryApi& api);
// The generator's highest frequency: the library keeps a running output
// within it, but has no call that tells it while the output is off.
constexpr double kGeneratorTopFrequency = 5e6;  // Hz

}  // namespace rk350::capture
