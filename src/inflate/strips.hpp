// The union of a dense region in vertical strips: where the buffers fuse into one region with
// holes everywhere, every sweep of the union tree's upper levels crosses the whole region and
// its holes. Strips keep each sweep narrow.
#pragma once

#include "inflate/pieces.hpp"
#include "parallel/cancel.hpp"

namespace linetopo::inflate_parts {

// Whether the leaves cover their box densely enough (their summed area against the box's, and
// enough of them) that the strips pay for their seams.
bool fuses(const Pieces& leaves);

// The union of the leaves, the same region as unite_in_tree's: the plane is cut into vertical
// strips some tens of `radius` wide (grid units; at least kMinStrips of them, whatever the
// thread count, so that the answer never depends on it), each leaf clipped into the strips
// it crosses, each strip united by the tree on the pool, and neighbouring strips joined
// pairwise, sweeping again only the pieces that reach their shared seam. Vertices that the cuts
// left on the seams are dropped again, so rings differ from the tree's by at most a grid unit.
// `cancelled` is asked before each strip's union and each join.
Pieces unite_in_strips(Pieces leaves, double radius, const CancelCheck& cancelled = {});

}  // namespace linetopo::inflate_parts
