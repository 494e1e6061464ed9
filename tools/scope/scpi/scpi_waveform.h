// A record's trace as SCPI hands it out: the positions that hold samples as
// a definite-length block of 8-bit codes, 16-bit codes or volts in text, and
// the preamble that turns the codes back into volts and times.
#pragma once

#include <cstdint>
#include <string>

#include "record.h"

namespace rk350::scpi {

enum class WaveformFormat { Byte, Word, Ascii };

// The held positions of `trace` in `format`, as a definite-length block.
// BYTE: unsigned 8-bit, 128 is 0 V, range/128 per step (the converter's
// code). WORD: unsigned 16-bit, most significant byte first, 32768 is 0 V,
// range/32768 per step (the library's raw sample, whose volts it gives as
// (raw − 32768) × range / 32768). ASCii: volts, comma separated.
std::string WaveformBlock(const capture::ChannelTrace& trace, WaveformFormat format);

// FORMat, TYPE, POINts, COUNt, XINCrement, XORigin, XREFerence, YINCrement,
// YORigin, YREFerence; volts = (value − YREFerence) × YINCrement + YORigin,
// time of point i = XORigin + i × XINCrement (0 s is the trigger instant).
std::string WaveformPreamble(const capture::Record& record, const capture::ChannelTrace& trace, WaveformFormat format,
                             int averaged);

}  // namespace rk350::scpi
