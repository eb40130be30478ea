// Unions that sweep only the shapes that meet: shapes that lie apart (side by side, or one in
// another's hole, as concentric rings do) keep their rings, and only their nesting is worked out.
// A sweep over nested shapes holds every ring that crosses each scanline, so uniting n nested
// rings in one sweep costs about n times their points.
#pragma once

#include <vector>

#include "inflate/pieces.hpp"

namespace linetopo::inflate_parts {

// The union of shapes, each a set of rings that neither meet nor cross each other and fill a
// region once (a union's answer or a valid polygon, outer rings of positive area). Shapes that
// meet others are united by sweeps, a sweep per linked group; the rings of the answers that no
// other group's region covers are kept and nested. `side_by_side` tells that no shape can lie
// in another's region without meeting it (the two sides of a seam), which spares that search.
Pieces unite_apart(std::vector<c2::Paths64> shapes, bool side_by_side = false);

}  // namespace linetopo::inflate_parts
