// The union of many shapes as a tree over their spatial order.
#pragma once

#include <vector>

#include "inflate/pieces.hpp"
#include "parallel/cancel.hpp"

namespace linetopo::inflate_parts {

// The union of the subjects with the non-zero rule, as Clipper2 answers it. Swept across the short
// side of their box: a scanline crosses every edge it passes, and along a wide row that is all
// of them.
c2::Paths64 union_of(c2::Paths64 subjects);

// The same union as pieces.
Pieces unite(c2::Paths64 subjects);

// Appends the rings of every piece to one list, parents re-pointed into it.
void append_rings(Pieces& pieces, std::vector<UnionRing>& rings);

// Unites the leaves in a tree of kTreeFanout children per node, in the leaves' spatial order.
// Edges hidden inside a node's region drop out early, so each sweep sees little more than its
// answer. The tree depends only on the input, never on the thread count.
// `cancelled` is asked before each node's union.
Pieces unite_in_tree(Pieces leaves, const CancelCheck& cancelled = {});

}  // namespace linetopo::inflate_parts
