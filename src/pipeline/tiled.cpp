// The tiled driver: one large curve set run tile by tile on the worker pool and stitched.
#include <algorithm>
#include <string>

#include "inflate/inflate.hpp"
#include "parallel/parallel.hpp"
#include "pipeline/pipeline.hpp"
#include "tiles/tiles.hpp"

namespace linetopo {
namespace {

// Tiles run per wave: enough to keep every worker busy, few enough that only a wave's tiles are
// held at once.
constexpr std::size_t kTilesPerWorker = 2;
// Cut ends on a border pair up within this x fs.
constexpr double kStitchTolerance = 0.5;

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
  return 2.0 * largest_radius + s.tip_length + s.junction_merge_distance + s.feature_size;
}

TopologyResult topologize_tiled(const std::vector<Polyline>& curves, const TopologizeParams& params,
                                double tile_size) {
  const Settings s = resolve(params);
  check_per_curve_widths(curves, params.per_curve_widths);
  check_inflation_input(curves, params.per_curve_widths, params.buffer_distance);
  const TileGrid grid = make_grid(curves, tile_size);
  const double radius = largest_radius(params.per_curve_widths, params.buffer_distance);
  std::vector<TileCurves> tiles =
      split_into_tiles(curves, params.per_curve_widths, grid, radius, tile_halo(s, radius));

  const std::size_t wave =
      kTilesPerWorker * static_cast<std::size_t>(std::max(1, worker_pool().max_concurrency()));
  std::vector<CorePiece> pieces;
  for (std::size_t first = 0; first < tiles.size(); first += wave) {
    const std::size_t count = std::min(wave, tiles.size() - first);
    std::vector<TopologyResult> results(count);
    std::vector<std::string> errors(count);
    parallel_for(count, [&](std::size_t k) {
      TileCurves& tile = tiles[first + k];
      TopologizeParams p = params;
      p.per_curve_widths = std::move(tile.widths);
      try {
        results[k] = topologize_inner(tile.curves, p);
      } catch (const InputError& e) {
        errors[k] = "tile (" + std::to_string(tile.col) + ", " + std::to_string(tile.row) +
                    ") failed: " + e.what();
      }
      tile.curves = {};  // done with: memory follows the wave, not the whole input
    });
    for (std::size_t k = 0; k < count; ++k) {
      if (!errors[k].empty()) throw InputError(errors[k]);
      const TileCurves& tile = tiles[first + k];
      clip_chains_to_core(results[k].chains, results[k].widths, grid.core(tile.col, tile.row),
                          pieces);
    }
  }
  const StitchedResult stitched =
      stitch_pieces(std::move(pieces), grid, kStitchTolerance * s.feature_size);
  return {stitched.chains, stitched.nodes, stitched.chain_node_ids, stitched.widths};
}

}  // namespace linetopo
