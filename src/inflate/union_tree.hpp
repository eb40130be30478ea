// The union of many shapes as a tree over their spatial order.
#pragma once

#include <vector>

#include "inflate/pieces.hpp"
#include "parallel/cancel.hpp"

namespace linetopo::inflate_parts {

// The union of the subjects with the non-zero rule, as pieces.
Pieces unite(const c2::Paths64& subjects);

// Appends the rings of every piece to one list, parents re-pointed into it.
void append_rings(Pieces& pieces, std::vector<UnionRing>& rings);

// Unites the leaves in a tree of kTreeFanout children per node, in the leaves' spatial order.
// Edges hidden inside a node's region drop out early, so each sweep sees little more than its
// answer. The tree depends only on the input, never on the thread count.
// `cancelled` is asked before each node's union.
Pieces unite_in_tree(Pieces leaves, const CancelCheck& cancelled = {});

}  // namespace linetopo::inflate_parts
