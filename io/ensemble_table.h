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
  EnsembleRange range;              // the ensemble every file belongs to
  std::vector<RunRecord> records;   // in the ensemble's order of seeds
  bool profiled = false;            // profiles came with the tables
  EnsembleProfile profile;
  std::vector<uint32_t> seeds;      // the records' seeds, in order
};

// Tables are told from profiles by their first line.  Empty when merged,
// else "FILE:LINE: FIELD: reason".
std::string MergeEnsembles(const std::vector<MergeInput>& files, Merged& out);

// The ensemble's seeds that seeds (in its order) lack, as ranges in its
// order ("5,9-12", or "4294967295,0-3" across the wrap); empty when none is.
std::string MissingSeeds(const EnsembleRange& range, const std::vector<uint32_t>& seeds);

}  // namespace io
