// CSV of a record: a time column in seconds (0 at the trigger) and one
// column of volts per channel. The numbers never depend on the locale.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "record.h"

namespace rk350::capture {

// `notes` follow the line of column names as comment lines ("# rate: ..."):
// after the names, so numpy.genfromtxt(..., delimiter=",", names=True) takes
// its names from the first line and skips the notes as comments, as
// numpy.loadtxt(..., skiprows=1) and pandas.read_csv(..., comment="#") do.
void WriteCsv(std::ostream& out, const Record& record, const std::vector<std::string>& notes = {});

// Shortest text that reads back as the same double ("0.5", "-1.25e-06").
std::string FormatNumber(double value);

}  // namespace rk350::capture
