// Smooth curves for drawings: a chain fitted with a piecewise cubic Bézier within a tolerance, as
// vector editors draw curves, with few control points.
#pragma once

#include <vector>

#include "geometry/geometry.hpp"

namespace linetopo {

// One cubic piece: from p0 to p3, pulled towards p1 and p2.
struct CubicPiece {
  Point p0, p1, p2, p3;
  friend bool operator==(const CubicPiece&, const CubicPiece&) = default;
};

// Fits one chain (a polyline, closed when its last point repeats its first) with cubic pieces
// within `tolerance` of every chain point; the last point of each piece is the first of the next.
std::vector<CubicPiece> fit_curves(const Polyline& chain, double tolerance);

}  // namespace linetopo
