// The per-channel summary table printed after a capture.
#pragma once

#include <optional>
#include <string>

#include "measurements.h"
#include "record.h"

namespace rk350::capture {

// One header line and one line per channel: range, min, max, mean,
// peak-to-peak, RMS, AC RMS and frequency (or "-" when the signal has none);
// then for each periodic channel its period, duty cycle, rise and fall time
// and overshoot.
std::string FormatSummary(const Record& record);

// One line that says which channels have positions without samples and
// which overranged; empty when the record is complete and within range.
std::string FormatRecordWarning(const Record& record);

// "1.25 V", "-250 mV", "3.3 µV": three to four significant digits.
std::string FormatVolts(double volts);
// "1 kHz", "12.5 MHz", "0.9999616 Hz" style: up to seven significant digits.
std::string FormatHertz(double hertz);
std::string FormatSeconds(double seconds);
// A measured figure to the digits its uncertainty supports: "999.94 Hz".
std::string FormatMeasured(double value, double uncertainty, const char* unit);
std::string FormatFrequency(const tools::FrequencyEstimate& f);
std::string FormatPeriod(const tools::FrequencyEstimate& f);
// One figure of the measurement table as the summary shows it ("10.000 kHz",
// "< 1 µs"), or nothing when the record does not have it.
std::optional<std::string> FormatFigure(const tools::Quantity& quantity, const tools::Measurements& m,
                                        double sampleRate);

}  // namespace rk350::capture
