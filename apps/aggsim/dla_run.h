// aggsim's run of the standard model (--model dla): the cluster grown in
// this process, its outputs and figures.
#pragma once

#include "apps/aggsim/aggsim_args.h"

namespace aggsim {

// Checks what can be checked before the run (memory above all), grows the
// cluster and writes what was asked for; returns the exit code.
int RunDla(const AggsimOptions& options);

}  // namespace aggsim
