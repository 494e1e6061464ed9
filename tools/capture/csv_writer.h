// CSV of a record: a time column in seconds (0 at the trigger) and one
// column of volts per channel. The numbers never depend on the locale.
#pragma once

#include <ostream>
#include <string>

#include "record.h"

namespace rk350::capture {

void WriteCsv(std::ostream& out, const Record& record);

// Shortest text that reads back as the same double ("0.5", "-1.25e-06").
std::string FormatNumber(double value);

}  // namespace rk350::capture
