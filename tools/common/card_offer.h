// What the card offers, for --show: the ranges, the sample rates and how
// the card rounds a request, trigger sources and modes, generator limits.
// Everything that the library can answer is asked of it (an initialised
// instrument; the probing changes its settings).
#pragma once

#include <string>

#include "library_api.h"

namespace rk350::capture {

std::string DescribeCardOffer(const LibraryApi& api);

}  // namespace rk350::capture
