// aggsim's ensembles: --runs, each run a process of its own, and --merge,
// which combines the tables and profiles that separate ensembles wrote.
#pragma once

#include "apps/aggsim/aggsim_args.h"

namespace aggsim {

// A merge whose files lack some of their ensemble's seeds writes what they
// hold, names the seeds missing and ends with this code.
inline constexpr int kIncompleteMerge = 3;

// Each returns the program's exit code.
int RunEnsemble(const AggsimOptions& options);
int RunMerge(const AggsimOptions& options);

}  // namespace aggsim
