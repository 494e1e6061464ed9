// The mean of several records, position by position over the records that
// hold a sample there; a position no record holds stays without a sample.
#pragma once

#include <vector>

#include "record.h"

namespace rk350::capture {

class RecordAverage {
 public:
  void Add(Record record);
  // The first record's settings with the mean volts; overrange when any
  // record overranged. Leaves the average empty. One record is handed on
  // as it came, without sums or copies.
  Record Result();

 private:
  void StartSums();
  int records_ = 0;
  Record first_;
  std::vector<std::vector<double>> sums_;
  std::vector<std::vector<unsigned>> counts_;
};

}  // namespace rk350::capture
