// The standard model walked the plain way, as the reference the accelerated
// walks are held to: every walker takes small moves all the way from the
// launch circle to its contact, and the only shortcut is the exact return to
// the launch circle from R_out = 2 R_l.  Slow (the moves of a particle grow
// as R^2), meant for clusters of a few thousand particles in tests.
#pragma once

#include <memory>

#include "dla/model.h"

namespace dla {

// Off the lattice the Brownian walker is approximated by a random flight of
// straight steps in uniform directions: of length kPlainStep where the
// step's circle touches no disc (exact for the hitting distribution), and of
// length kPlainFineStep near the discs, each tested exactly against them.
// The fine step's bias on the cluster is far below what the comparison
// tests can see (measured by tests/dla/plain_test.cpp).
inline constexpr double kPlainStep = 0.25;
inline constexpr double kPlainFineStep = 1.0 / 128;

// All three geometries.  params.testBias is not used (no jump to bias).
// Throws std::invalid_argument when stick is not in (0, 1], when the
// off-lattice walk is asked for stick != 1, or unless 0 < fine <= step <= 1.
std::unique_ptr<Model> MakePlainModel(const Params& params, double step = kPlainStep, double fine = kPlainFineStep);

}  // namespace dla
