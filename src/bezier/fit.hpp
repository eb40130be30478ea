// Smooth curves for drawings: a chain fitted with a piecewise cubic Bézier within a tolerance, as
// vector editors draw curves, with few control points.
#pragma once

#include <vector>

#include "geometry/geometry.hpp"
#include "parallel/cancel.hpp"

namespace linetopo {

// One cubic piece: from p0 to p3, pulled towards p1 and p2.
struct CubicPiece {
  Point p0, p1, p2, p3;
  friend bool operator==(const CubicPiece&, const CubicPiece&) = default;
};

// Fits one chain (a polyline, closed when its last point repeats its first) with cubic pieces
// that pass within `tolerance` of every chain point and keep within `tolerance` of the chain's
// polyline everywhere. The last point of each piece is the first of the next, the first piece
// starts at the chain's first point and the last ends at its last. Pieces meet
// tangent-continuously (round the seam of a closed chain too) except at corners, where the chain
// turns sharply or a vertex turns more than a curve could round within the tolerance. Repeated
// points count once; fewer than two distinct points give no pieces, two a straight piece. Throws
// InputError for a tolerance that is not a positive finite number and for a point that is not
// finite; throws Cancelled when `cancelled`, asked between pieces, says so.
std::vector<CubicPiece> fit_curves(const Polyline& chain, double tolerance,
                                   const CancelCheck& cancelled = {});

}  // namespace linetopo
