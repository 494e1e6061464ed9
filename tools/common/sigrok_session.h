// A record as a sigrok session file (srzip), the format PulseView opens and
// sigrok-cli reads with `-i`: a zip archive holding `version` ("2"),
// `metadata` (the sample rate and the names of the analog channels) and, per
// channel, one member `analog-1-N-1` of little-endian 32-bit floats in volts.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "record.h"

namespace rk350::capture {

// False in a build without the zip library (the Windows cross build).
bool SigrokSessionsSupported();

// Writes the session to `out`; throws std::runtime_error when the archive
// cannot be made.
void WriteSigrokSession(std::ostream& out, const Record& record);

// The `metadata` member. A session holds the sample rate as whole hertz:
// the card's rate is rounded to the nearest, at least 1 Hz.
std::string SigrokMetadata(const Record& record);
std::uint64_t SigrokSampleRate(double hertz);

}  // namespace rk350::capture
