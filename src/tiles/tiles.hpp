// Tiling for one curve set too large for one call: curves split into square tiles widened by a
// halo, each tile's chains clipped to its core square, and the pieces of all tiles stitched into
// one graph of chains.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "geometry/geometry.hpp"
#include "geometry/topology.hpp"

namespace linetopo {

// An axis-aligned rectangle, closed.
struct Box {
  double x0 = 0.0;
  double y0 = 0.0;
  double x1 = 0.0;
  double y1 = 0.0;
};

// Square tiles of side `size`; tile (col, row) has its core at origin + (col, row) * size. Both
// neighbours of a border compute its coordinate by the same formula, so it is the same double.
struct TileGrid {
  double origin_x = 0.0;
  double origin_y = 0.0;
  double size = 1.0;
  Box core(std::int64_t col, std::int64_t row) const;
};

// The grid starts this share of a tile below and left of the curves' least coordinates, so that
// borders fall where drawings seldom put anything: not on round numbers such as 0, where a
// symmetric drawing's junction would sit on a tile corner.
inline constexpr double kGridOffset = 0.3819660112501051;  // 2 minus the golden ratio

// A grid kGridOffset tiles below and left of the curves' least coordinates. Throws InputError
// unless tile_size is positive and finite.
TileGrid make_grid(const std::vector<Polyline>& curves, double tile_size);

// Most (tile, curve) pairs split_into_tiles visits: kMinTileParts, and kTilePartsPerPoint more per
// input point, up to kMaxTileParts. Every input point is copied into each tile whose halo holds
// it, so tiles far smaller than their halo multiply the work; sensible tilings stay well below.
inline constexpr std::size_t kMinTileParts = 20'000;
inline constexpr std::size_t kTilePartsPerPoint = 8;
inline constexpr std::size_t kMaxTileParts = 10'000'000;

struct TileCurves {
  std::int64_t col = 0;
  std::int64_t row = 0;
  std::vector<Polyline> curves;
  std::optional<Widths> widths;  // present exactly when widths were given
  bool reached = false;          // a curve comes within the reach of the core
};

// Every tile whose core widened by `reach` on each side some curve reaches (a core farther than
// the largest radius from every curve holds no skeleton), with the parts of the curves inside its
// core widened by `halo` (a curve that leaves and re-enters gives several parts), in order of
// (row, col). Radii are interpolated where a curve is cut. With all_tiles, tiles only the halo
// reaches are kept as well.
std::vector<TileCurves> split_into_tiles(const std::vector<Polyline>& curves,
                                         const std::optional<Widths>& widths, const TileGrid& grid,
                                         double reach, double halo, bool all_tiles = false);

// A part of a chain inside one tile's core.
struct CorePiece {
  Polyline points;
  std::vector<double> widths;  // one per point, or empty
  bool start_cut = false;      // the first point is where the chain crossed the core's border
  bool end_cut = false;
};

// The parts of the chains inside the closed core; a cut point lies exactly on the border.
void clip_chains_to_core(const std::vector<Polyline>& chains, const Widths& widths, const Box& core,
                         std::vector<CorePiece>& out);

// Joins the pieces of all tiles of the grid. Cut points on the same border line from its two sides
// are paired when within `tolerance`, nearest first, and both move to their midpoint. A path from a
// cut point left unpaired to the next junction or tip is dropped when not longer than 2 x
// tolerance: it is a stub of a feature that the neighbouring tile placed across the border.
// Junctions closer than `tolerance` then become one (a junction on a border that both tiles kept),
// and the chains are cut anew at junctions and tips, so that the result has the invariants of a
// topologize result (its widths empty when the pieces have none), nodes numbered as topologize
// numbers them.
TopologyResult stitch_pieces(std::vector<CorePiece> pieces, const TileGrid& grid, double tolerance);

}  // namespace linetopo
