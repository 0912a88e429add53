// aggsim's ensembles: --runs, each run a process of its own, and --merge,
// which combines the tables and profiles that separate ensembles wrote.
#pragma once

#include "apps/aggsim/aggsim_args.h"

namespace aggsim {

// Each returns the program's exit code.
int RunEnsemble(const AggsimOptions& options);
int RunMerge(const AggsimOptions& options);

}  // namespace aggsim
