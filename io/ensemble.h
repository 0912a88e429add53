// Ensembles of runs: one aggregate's fractal dimension says little, so
// studies report the mean and spread over many.  Each run is a process of
// its own (the programs' state is process-wide) that hands its figures
// back as one record line on its standard output.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace io {

struct RunRecord {
  uint32_t seed = 0;
  uint64_t stuck = 0, inPicture = 0, launched = 0;
  double finalRadius = 0, gyration = 0;
  double dimension = 0, dimensionError = 0;
  bool fitted = false;  // false: too small for a fractal dimension
};

// The record line a run prints, and the record read back from a run's
// whole output (the last record line in it).
std::string RecordLine(const RunRecord& r);
std::optional<RunRecord> FindRecord(const std::string& output);

// One line for a person, and one row of the table written by --csv.
std::string DescribeRun(int number, const RunRecord& r);
std::string CsvHeader();
std::string CsvRow(const RunRecord& r);

struct Spread {
  int count = 0;
  double mean = 0, sd = 0, se = 0;  // sample standard deviation; error of the mean
};
Spread SpreadOf(const std::vector<double>& values);

// The closing line: mean, standard deviation and standard error of D and
// of the radius of gyration over the runs.
std::string DescribeEnsemble(const std::vector<RunRecord>& runs);

}  // namespace io
