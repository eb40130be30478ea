// The shapes the union works on: rings on Clipper2's integer grid, grouped into pieces.
#pragma once

#include <clipper2/clipper.h>

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

namespace linetopo::inflate_parts {

namespace c2 = Clipper2Lib;

inline constexpr double kIntegerScale = 1e6;  // every offset and union works in integer micro-units
// An arc tolerance of fewer grid units than this (world units x kIntegerScale) is scaled up, as
// long as the shapes' extent stays within kMaxScaledExtent.
inline constexpr double kMinArcTolerance = 1e-4;
inline constexpr double kMaxScaledExtent = 5e7;

// Wide enough for exact cross products of grid coordinates.
using Wide = __int128;

// One ring of the union with the ring that holds it (for a hole, the outer ring around it).
struct UnionRing {
  c2::Path64 path;
  std::ptrdiff_t parent = -1;  // index into the same list, -1 at the top
};

// A connected part of the region: an outer ring with everything nested in it. A piece is clean
// when its rings come out of a union, so that they neither overlap nor cross each other.
struct Piece {
  std::vector<UnionRing> rings;
  c2::Rect64 box;  // of the outer ring
  bool clean = false;
};

using Pieces = std::vector<Piece>;

// A leaf of the union tree: the raw offset shape of one curve or curve piece.
inline Piece leaf(c2::Paths64 paths) {
  Piece piece;
  piece.box = c2::GetBounds(paths);
  for (c2::Path64& p : paths) piece.rings.push_back({std::move(p), -1});
  return piece;
}

// x and y swapped, each path reversed: the mirror image, running the same way round.
inline void transpose(c2::Paths64& paths) {
  for (c2::Path64& path : paths) {
    for (c2::Point64& q : path) std::swap(q.x, q.y);
    std::reverse(path.begin(), path.end());
  }
}

// The box round all the pieces' boxes.
inline c2::Rect64 bounds_of(const Pieces& pieces) {
  c2::Rect64 all = c2::InvalidRect64;
  for (const Piece& p : pieces) {
    all.left = std::min(all.left, p.box.left);
    all.top = std::min(all.top, p.box.top);
    all.right = std::max(all.right, p.box.right);
    all.bottom = std::max(all.bottom, p.box.bottom);
  }
  return all;
}

}  // namespace linetopo::inflate_parts
