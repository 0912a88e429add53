// Pictures of a standard-model cluster, which has no screen: the whole
// cluster scaled into a square of the size the user chose, each particle a
// dot (a disc, or a lattice cell, once the scale gives it more than a
// pixel), coloured by arrival through the programs' hue rings, or white.
// The film draws the same frame particle by particle, so that its frames are
// scaled to the final cluster.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "dla/model.h"
#include "io/giffile.h"

namespace io {

struct ClusterFrame {
  int32_t size = 0;           // pixels a side
  double left = 0, top = 0;   // the model's coordinates at the frame's corner
  double scale = 1;           // pixels a unit of the model
  double diameter = 1;        // a particle's diameter, in units
};

// The smallest square about the cluster's bounding box (with a particle's
// margin) at size pixels a side.
ClusterFrame FrameFor(std::span<const dla::Particle> particles, int32_t size);

// Colours the particles [from, to) of total into indices (size × size
// palette entries, 0 the black background).
void DrawParticles(std::vector<uint8_t>& indices, const ClusterFrame& frame, std::span<const dla::Particle> particles,
                   size_t from, size_t to, bool white);

// The palette the pictures use: the programs' 256 colours.
std::array<Rgb, 256> ClusterPalette();

// The indices as 0x00RRGGBB pixels for an image file.
std::vector<uint32_t> ToPixels(const std::vector<uint8_t>& indices, const std::array<Rgb, 256>& palette);

}  // namespace io
