// Which ring of a union's answer holds which, and the pieces that makes.
#pragma once

#include <cstddef>
#include <vector>

#include "inflate/pieces.hpp"

namespace linetopo::inflate_parts {

// The ring directly around each ring of a union's answer, or -1. The answer's rings neither
// cross nor overlap, so a point on one ring (away from the others) lies inside exactly the rings
// around it: a ray from it to the left crosses each of those an odd number of times, and the
// one of least area holds the ring. Each ray looks only at the edges of one horizontal band.
// Clipper2's own nesting (its PolyTree) tests each hole against its outer ring's every vertex,
// which on a street grid's one big outer ring cost more than the union itself.
std::vector<std::ptrdiff_t> nesting(const c2::Paths64& rings);

// The pieces of a union's answer, one per top-level ring with the rings nested in it.
Pieces pieces_of(c2::Paths64 rings);

}  // namespace linetopo::inflate_parts
