// The mean of several records, position by position over the records that
// hold a sample there; a position no record holds stays without a sample.
#pragma once

#include <vector>

#include "record.h"

namespace rk350::capture {

class RecordAverage {
 public:
  void Add(const Record& record);
  // The first record's settings with the mean volts; overrange when any
  // record overranged.
  Record Result() const;

 private:
  Record first_;
  std::vector<std::vector<double>> sums_;
  std::vector<std::vector<unsigned>> counts_;
};

}  // namespace rk350::capture
