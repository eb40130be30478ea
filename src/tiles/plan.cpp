// Cutting the plane into tiles and giving each tile the curves within its halo.
#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <string>
#include <utility>

#include "tiles/clip_lines.hpp"
#include "tiles/tiles.hpp"

namespace linetopo {
namespace {

using tiles_detail::clip_polyline;
using tiles_detail::clip_segment;

Box bounds(const Polyline& curve) {
  Box b{curve[0].x, curve[0].y, curve[0].x, curve[0].y};
  for (const Point& p : curve) {
    b = {std::min(b.x0, p.x), std::min(b.y0, p.y), std::max(b.x1, p.x), std::max(b.y1, p.y)};
  }
  return b;
}

Box widened(const Box& b, double by) { return {b.x0 - by, b.y0 - by, b.x1 + by, b.y1 + by}; }

}  // namespace

Box TileGrid::core(std::int64_t col, std::int64_t row) const {
  return {origin_x + static_cast<double>(col) * size, origin_y + static_cast<double>(row) * size,
          origin_x + static_cast<double>(col + 1) * size,
          origin_y + static_cast<double>(row + 1) * size};
}

TileGrid make_grid(const std::vector<Polyline>& curves, double tile_size) {
  if (!(tile_size > 0.0) || !std::isfinite(tile_size)) {
    throw InputError("tile_size must be a positive finite number, got " +
                     number_text(tile_size, true));
  }
  double min_x = std::numeric_limits<double>::infinity();
  double min_y = min_x;
  for (const Polyline& c : curves) {
    for (const Point& p : c) {
      if (std::isfinite(p.x)) min_x = std::min(min_x, p.x);
      if (std::isfinite(p.y)) min_y = std::min(min_y, p.y);
    }
  }
  TileGrid grid;
  grid.size = tile_size;
  if (std::isfinite(min_x)) grid.origin_x = min_x - kGridOffset * tile_size;
  if (std::isfinite(min_y)) grid.origin_y = min_y - kGridOffset * tile_size;
  return grid;
}

std::vector<TileCurves> split_into_tiles(const std::vector<Polyline>& curves,
                                         const std::optional<Widths>& widths, const TileGrid& grid,
                                         double reach, double halo, bool all_tiles) {
  // Ordered by (row, col), so that the tile order never depends on hashing.
  std::map<std::pair<std::int64_t, std::int64_t>, TileCurves> tiles;
  const auto cell = [&](double v, double origin) {
    return static_cast<std::int64_t>(std::floor((v - origin) / grid.size));
  };
  // Each curve's box widened by the halo; the tiles it spans are counted first, so that tiny
  // tiles or a vast halo fail before anything is allocated.
  std::vector<Box> reach_of(curves.size());
  double points = 0.0;
  for (const Polyline& curve : curves) points += static_cast<double>(curve.size());
  const double limit =
      std::min(static_cast<double>(kMaxTileParts),
               static_cast<double>(kMinTileParts) + static_cast<double>(kTilePartsPerPoint) * points);
  double pairs = 0.0;
  for (std::size_t i = 0; i < curves.size(); ++i) {
    const Polyline& curve = curves[i];
    if (curve.size() < 2) continue;
    reach_of[i] = widened(bounds(curve), halo);
    const Box& b = reach_of[i];
    const double cols = std::floor((b.x1 - grid.origin_x) / grid.size) -
                        std::floor((b.x0 - grid.origin_x) / grid.size) + 1.0;
    const double rows = std::floor((b.y1 - grid.origin_y) / grid.size) -
                        std::floor((b.y0 - grid.origin_y) / grid.size) + 1.0;
    pairs += cols * rows;
    if (!(pairs <= limit)) {
      throw InputError("tile_size " + number_text(grid.size) + " with a halo of " +
                       number_text(halo) + " gives the curves more than " +
                       std::to_string(static_cast<std::size_t>(limit)) + " tiles to visit (the most for " +
                       std::to_string(static_cast<std::size_t>(points)) + " input points); choose larger tiles, or smaller "
                       "min_tip_fraction and junction_merge_fraction");
    }
  }
  for (std::size_t i = 0; i < curves.size(); ++i) {
    const Polyline& curve = curves[i];
    if (curve.size() < 2) continue;
    const std::vector<double>* radii =
        widths && i < widths->size() && !(*widths)[i].empty() ? &(*widths)[i] : nullptr;
    const Box& b = reach_of[i];
    for (std::int64_t row = cell(b.y0, grid.origin_y); row <= cell(b.y1, grid.origin_y); ++row) {
      for (std::int64_t col = cell(b.x0, grid.origin_x); col <= cell(b.x1, grid.origin_x); ++col) {
        const Box core = grid.core(col, row);
        const Box box = widened(core, halo);
        const Box near = widened(core, reach);
        std::vector<Polyline> parts;
        std::vector<std::vector<double>> part_radii;
        clip_polyline(
            curve, radii, box,
            [&](const Point& p, double r, bool) {
              parts.push_back({p});
              part_radii.push_back({r});
            },
            [&](const Point& p, double r, bool) {
              parts.back().push_back(p);
              part_radii.back().push_back(r);
            });
        if (parts.empty()) continue;
        TileCurves& tile = tiles[{row, col}];
        tile.col = col;
        tile.row = row;
        for (std::size_t k = 0; k + 1 < curve.size() && !tile.reached; ++k) {
          tile.reached = clip_segment(curve[k], curve[k + 1], near).has_value();
        }
        if (widths && !tile.widths) tile.widths = Widths{};
        for (std::size_t k = 0; k < parts.size(); ++k) {
          tile.curves.push_back(std::move(parts[k]));
          if (widths)
            tile.widths->push_back(radii ? std::move(part_radii[k]) : std::vector<double>{});
        }
      }
    }
  }
  std::vector<TileCurves> out;
  out.reserve(tiles.size());
  for (auto& [key, tile] : tiles) {
    if (tile.reached || all_tiles) out.push_back(std::move(tile));
  }
  return out;
}

}  // namespace linetopo
