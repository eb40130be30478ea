// The tiled driver: one large curve set run tile by tile on the worker pool and stitched.
#include <algorithm>
#include <functional>
#include <iterator>
#include <string>

#include "inflate/inflate.hpp"
#include "parallel/parallel.hpp"
#include "pipeline/pipeline.hpp"

namespace linetopo {
namespace {

// Tiles run per wave: enough to keep every worker busy, few enough that only a wave's tiles are
// held at once.
constexpr std::size_t kTilesPerWorker = 2;
// Pruning a tip can make its junction part of a longer tip, and merging two junctions can bring a
// third within reach: decisions a tip's length or a merge distance away still reach the core
// after one such round. Two rounds hold in every random tiling tried.
constexpr double kCleanUpRounds = 2.0;

double largest_radius(const std::optional<Widths>& widths, double buffer_distance) {
  double r = std::fabs(buffer_distance);
  if (widths) {
    for (const auto& radii : *widths) {
      for (const double v : radii) r = std::max(r, std::fabs(v));
    }
  }
  return r;
}

}  // namespace

double tile_halo(const Settings& s, double largest_radius) {
  return 2.0 * largest_radius + kCleanUpRounds * (s.tip_length + s.junction_merge_distance) +
         s.feature_size;
}

TilePlan plan_tiles(const std::vector<Polyline>& curves, const TopologizeParams& params,
                    std::optional<Point> origin, bool all_tiles) {
  const Settings s = resolve(params);
  check_per_curve_widths(curves, params.per_curve_widths);
  check_inflation_input(curves, params.per_curve_widths, params.buffer_distance);
  TilePlan plan;
  plan.grid = make_grid(curves, params.tile_size);
  if (origin) {
    plan.grid.origin_x = origin->x;
    plan.grid.origin_y = origin->y;
  }
  plan.tolerance = defaults::kStitchToleranceFraction * s.feature_size;
  const double radius = largest_radius(params.per_curve_widths, params.buffer_distance);
  plan.tiles = split_into_tiles(curves, params.per_curve_widths, plan.grid, radius,
                                tile_halo(s, radius), all_tiles);
  return plan;
}

std::vector<CorePiece> run_tile(TileCurves tile, const TileGrid& grid,
                                const TopologizeParams& params, const CancelCheck& cancelled) {
  TopologizeParams p = params;
  p.per_curve_widths = std::move(tile.widths);
  TopologyResult r;
  try {
    r = topologize_inner(tile.curves, p, cancelled);
  } catch (const InputError& e) {
    throw InputError("tile (" + std::to_string(tile.col) + ", " + std::to_string(tile.row) +
                     ") failed: " + e.what());
  }
  std::vector<CorePiece> pieces;
  clip_chains_to_core(r.chains, r.widths, grid.core(tile.col, tile.row), pieces);
  return pieces;
}

std::vector<CorePiece> run_in_waves(
    std::vector<TileCurves>& tiles,
    const std::function<std::vector<CorePiece>(TileCurves)>& run_one,
    const CancelCheck& cancelled) {
  const std::size_t wave =
      kTilesPerWorker * static_cast<std::size_t>(std::max(1, worker_pool().max_concurrency()));
  std::vector<CorePiece> pieces;
  for (std::size_t first = 0; first < tiles.size(); first += wave) {
    throw_if_cancelled(cancelled);
    const std::size_t count = std::min(wave, tiles.size() - first);
    std::vector<std::vector<CorePiece>> results(count);
    std::vector<std::string> errors(count);
    parallel_for(count, [&](std::size_t k) {
      try {
        // Moved out: memory follows the wave, not the whole input.
        results[k] = run_one(std::move(tiles[first + k]));
      } catch (const InputError& e) {
        errors[k] = e.what();
      }
    });
    for (std::size_t k = 0; k < count; ++k) {
      if (!errors[k].empty()) throw InputError(errors[k]);
      pieces.insert(pieces.end(), std::make_move_iterator(results[k].begin()),
                    std::make_move_iterator(results[k].end()));
    }
  }
  throw_if_cancelled(cancelled);
  return pieces;
}

TopologyResult topologize_tiled(const std::vector<Polyline>& curves, const TopologizeParams& params,
                                const CancelCheck& cancelled) {
  TilePlan plan = plan_tiles(curves, params, std::nullopt, false);
  // Each tile brings its own radii: the whole input's are not copied once per tile.
  TopologizeParams per_tile = params;
  per_tile.per_curve_widths.reset();
  std::vector<CorePiece> pieces = run_in_waves(
      plan.tiles,
      [&](TileCurves tile) { return run_tile(std::move(tile), plan.grid, per_tile, cancelled); },
      cancelled);
  return stitch_pieces(std::move(pieces), plan.grid, plan.tolerance);
}

}  // namespace linetopo
