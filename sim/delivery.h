// How an instrument hands its frames to the link: in pieces, behind stray
// bytes, or several frames in one write.
#pragma once

#include "sim/frame.h"

#include <cstddef>
#include <vector>

namespace sim {

struct Delivery
{
    std::size_t split = 0; // at most this many bytes per write; 0 = no limit
    Bytes stray;           // written ahead of every batch of frames
    bool separate = false; // each frame in its own write instead of one write per batch
};

// The writes, in order, that carry one batch of encoded frames.
std::vector<Bytes> shape(std::vector<Bytes> frames, const Delivery& delivery);

} // namespace sim
