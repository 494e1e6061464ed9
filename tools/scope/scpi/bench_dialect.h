// The parts of the common bench dialect that go beyond one row of the
// settings table: both channels of one record in one block, and
// :AUToscale's probing records. The headers themselves are entries of the
// command table (scpi_commands.cpp); the arithmetic is in bench_scales.h.
#pragma once

#include <optional>
#include <string>

#include "core/instrument_thread.h"
#include "core/scope_settings.h"
#include "record.h"
#include "scpi/scpi_waveform.h"

namespace rk350::scpi {

// Every channel the record holds, CH1 first, in one definite-length block:
// each channel's held positions as :WAVeform:DATA? gives them, one after the
// other (ASCii: one comma-separated list); each channel's preamble says its
// POINts.
std::string AllChannelsBlock(const capture::Record& record, WaveformFormat format);

// What :AUToscale found: the request that sets the scope up (the settings
// before, whole, with the ranges, offsets, rate and trigger it chose), a
// note when it kept the timebase, or why it gave up (`request` empty). The
// probing changed the card's settings: the caller applies the request, or
// on a failure restores `original`.
struct AutoscaleResult {
  std::optional<scope::SettingsRequest> request;
  std::string note;     // what it left as it was, and why
  std::string failure;  // why it gave up
};
AutoscaleResult ProbeForAutoscale(scope::InstrumentThread& instrument, const scope::ScopeSettings& original);

}  // namespace rk350::scpi
