// The density centerline: traces counted per cell, blurred, each cell compared with the busiest
// traffic around it, the outline of the road traced and run through the polygon pipeline; tile
// by tile with a halo when the raster is large.
#include <algorithm>
#include <cmath>
#include <string>

#include "parallel/parallel.hpp"
#include "pipeline/pipeline.hpp"
#include "raster/density.hpp"
#include "raster/filters.hpp"
#include "raster/trace.hpp"

namespace linetopo {
namespace {

// Values within this share of one trace's peak of the road's level count as below it, so that
// no sample lies on it.
constexpr double kLevelFloor = 1e-4;
// The filters may reach at most a tile's side over this, so that the halo leaves a core.
constexpr double kFilterShare = 8.0;

// Cells along a lattice's side from `lo` to `hi` with a margin of `margin` cells both sides.
double cells_across(double lo, double hi, double cell, double margin) {
  return std::ceil((hi - lo) / cell) + 2.0 * margin + 1.0;
}

[[noreturn]] void throw_over_cells(double cells, std::size_t limit) {
  throw InputError("the density raster would have " + number_text(std::ceil(cells)) +
                   " cells, more than the limit of " + std::to_string(limit) +
                   "; give a larger cell, or set " + kMaxDensityCellsVariable + " to allow more");
}

// The outline of the road in one lattice, in world coordinates: where the blurred count is at
// least `relative` of the highest within the reach and at least `min_count` of one trace's peak.
std::vector<Ring> road_outline(const std::vector<Polyline>& curves, const CellLattice& lattice,
                               const DensitySettings& d, std::size_t max_points,
                               const CancelCheck& cancelled) {
  FloatRaster density = count_curves(curves, lattice, cancelled);
  FloatRaster scratch;
  gaussian_blur(density, lattice.width, lattice.height, d.sigma, scratch, cancelled);
  FloatRaster field;
  square_maximum(density, lattice.width, lattice.height, d.reach, field, scratch, cancelled);
  scratch = {};
  // One trace along a row of cells, blurred, peaks at the kernel's centre weight.
  const double single = gaussian_weights(d.sigma).front();
  const double least = d.min_count * single;
  parallel_for((field.size() + 65535) / 65536, [&](std::size_t b) {
    const std::size_t last = std::min(field.size(), (b + 1) * 65536);
    for (std::size_t i = b * 65536; i < last; ++i) {
      const double v = density[i];
      field[i] = static_cast<float>(std::min(v - d.relative * field[i], v - least));
    }
  });
  density = {};
  const FieldView view{field.data(), lattice.width, lattice.height, kLevelFloor * single};
  InkOutline outline = trace_field(view, cancelled, max_points);
  field = {};
  std::vector<Ring> rings = std::move(outline.outer);
  for (Ring& hole : outline.holes) rings.push_back(std::move(hole));
  parallel_for(rings.size(), [&](std::size_t i) {
    for (Point& p : rings[i]) {
      p = {lattice.origin_x + p.x * lattice.cell, lattice.origin_y + p.y * lattice.cell};
    }
  });
  return rings;
}

}  // namespace

std::size_t max_density_cells() {
  return count_from_environment(kMaxDensityCellsVariable).value_or(kDensityCellBudget);
}

TopologyResult density_centerline(const std::vector<Polyline>& curves, const DensityParams& dp,
                                  const TopologizeParams& params, const CancelCheck& cancelled) {
  const Settings s = resolve(params);
  const DensitySettings d = resolve_density(dp, s.feature_size);
  Box box{std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity(),
          -std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()};
  std::size_t points = 0;
  for (std::size_t i = 0; i < curves.size(); ++i) {
    for (std::size_t k = 0; k < curves[i].size(); ++k) {
      const Point& p = curves[i][k];
      if (!is_finite(p)) {
        throw_not_finite(p, "curve " + std::to_string(i) + " point " + std::to_string(k));
      }
      box = {std::min(box.x0, p.x), std::min(box.y0, p.y), std::max(box.x1, p.x),
             std::max(box.y1, p.y)};
    }
    points += curves[i].size();
  }
  if (points == 0) return {};
  // The blur spreads a trace this many cells: the lattice reaches that far beyond the curves,
  // so that every outline closes inside it.
  const double spread = gaussian_reach(d.sigma) + 1.0;
  const auto filter_cells = spread + static_cast<double>(d.reach);
  const double most_filter_cells = static_cast<double>(kDensityTileSide) / kFilterShare;
  if (filter_cells > most_filter_cells) {
    throw InputError("sigma and radius reach " + number_text(filter_cells) + " cells, more than " +
                     number_text(most_filter_cells) + ": give a larger cell");
  }
  const double hole_width = defaults::kDensityMinHoleWidthFraction * s.feature_size;
  // A speck of traffic is noise, not a drawn dot: small parts go unless asked for.
  TopologizeParams road = params;
  road.keep_components = road.keep_components.value_or(defaults::kKeepComponents);
  const std::size_t limit = max_density_cells();
  const std::size_t max_points = boundary_point_limit(points);
  const double width = cells_across(box.x0, box.x1, d.cell, spread);
  const double height = cells_across(box.y0, box.y1, d.cell, spread);
  const auto tile_cells = static_cast<double>(kDensityTileSide * kDensityTileSide);
  if (width * height <= kSingleRasterTiles * tile_cells) {
    if (width * height > static_cast<double>(limit)) throw_over_cells(width * height, limit);
    const CellLattice lattice{box.x0 - spread * d.cell, box.y0 - spread * d.cell, d.cell,
                              static_cast<std::size_t>(width), static_cast<std::size_t>(height)};
    std::vector<Ring> rings = road_outline(curves, lattice, d, max_points, cancelled);
    return topologize_rings(std::move(rings), road, cancelled, hole_width);
  }

  // Tiles on a lattice shared by all: each core is a whole number of cells from the grid's
  // origin, and its raster reaches the filters' cells and the halo of a tiled run beyond it.
  const double halo_cells =
      std::ceil(tile_halo(s, static_cast<double>(d.reach) * d.cell) / d.cell) + filter_cells;
  const double core_cells = static_cast<double>(kDensityTileSide) - 2.0 * halo_cells;
  if (core_cells < static_cast<double>(kDensityTileSide) / 4.0) {
    throw InputError("the halo of a density tile, " + number_text(halo_cells) +
                     " cells, leaves too little of its " + std::to_string(kDensityTileSide) +
                     " cells: give a larger cell or a smaller feature_size");
  }
  const TileGrid grid = make_grid(curves, core_cells * d.cell);
  std::vector<TileCurves> tiles =
      split_into_tiles(curves, std::nullopt, grid, spread * d.cell, halo_cells * d.cell);
  const double all_cells = static_cast<double>(tiles.size()) * tile_cells;
  if (all_cells > static_cast<double>(limit)) throw_over_cells(all_cells, limit);
  std::vector<CorePiece> pieces = run_in_waves(
      tiles,
      [&](TileCurves tile) {
        const Box core = grid.core(tile.col, tile.row);
        const CellLattice lattice{core.x0 - halo_cells * d.cell, core.y0 - halo_cells * d.cell,
                                  d.cell, kDensityTileSide, kDensityTileSide};
        std::vector<CorePiece> out;
        try {
          std::vector<Ring> rings = road_outline(tile.curves, lattice, d, max_points, cancelled);
          tile.curves = {};
          const TopologyResult r =
              topologize_rings(std::move(rings), road, cancelled, hole_width);
          clip_chains_to_core(r.chains, r.widths, core, out);
        } catch (const InputError& e) {
          throw InputError("tile (" + std::to_string(tile.col) + ", " +
                           std::to_string(tile.row) + ") failed: " + e.what());
        }
        return out;
      },
      cancelled);
  return stitch_pieces(std::move(pieces), grid,
                       defaults::kStitchToleranceFraction * s.feature_size);
}

}  // namespace linetopo
