// Tables and profiles written by separate ensembles, read back strictly and
// combined, so that an ensemble run in parts (on a cluster, on several
// machines) gives what one run of it would.  Any text either merges or is
// refused with one line naming the file, the line and the field.
#pragma once

#include <string>
#include <vector>

#include "io/ensemble.h"

namespace io {

struct MergeInput {
  std::string name;  // for the messages
  std::string text;
};

struct Merged {
  std::string about;                // the parameters every file shares
  std::vector<RunRecord> records;   // in seed order
  bool profiled = false;            // profiles came with the tables
  EnsembleProfile profile;
  std::vector<uint32_t> seeds;      // the records' seeds, in order
};

// Tables are told from profiles by their first line.  Empty when merged,
// else "FILE:LINE: FIELD: reason".
std::string MergeEnsembles(const std::vector<MergeInput>& files, Merged& out);

// The seeds missing between the least and the greatest, as ranges ("5,9-12");
// empty when none is.
std::string MissingSeeds(const std::vector<uint32_t>& sortedSeeds);

}  // namespace io
