// The entry points of the core: one topologize computation from curves to finished chains, its
// intermediate results, and the batch runner.
#pragma once

#include <functional>
#include <optional>
#include <vector>

#include "geometry/geometry.hpp"
#include "parallel/cancel.hpp"
#include "pipeline/params.hpp"
#include "pipeline/settings.hpp"
#include "skeleton_cdt/skeleton_cdt.hpp"
#include "tiles/tiles.hpp"

namespace linetopo {

// Throws InputError for a widths entry beyond the curves or of the wrong length.
void check_per_curve_widths(const std::vector<Polyline>& curves,
                            const std::optional<Widths>& widths);

// Checks, merge, decimation and inflation: the polygons every entry point starts from. Both
// throw Cancelled when `cancelled` says so, inside the inflation or the triangulation too.
std::vector<BufferPolygon> build_buffer_polygons(const std::vector<Polyline>& curves,
                                                 const TopologizeParams& params,
                                                 const CancelCheck& cancelled = {});
// build_buffer_polygons, boundary preparation and the triangles of each polygon; a polygon the
// triangulation rejects is tried once more with unsimplified rings.
std::vector<Triangle> triangulate_curves(const std::vector<Polyline>& curves,
                                         const TopologizeParams& params,
                                         const CancelCheck& cancelled = {});

// Throws InputError with the message the caller raises (widths check, node limit), and Cancelled
// when `cancelled` says so between two stages.
TopologyResult topologize_inner(const std::vector<Polyline>& curves, const TopologizeParams& params,
                                const CancelCheck& cancelled = {});

// The same from polygons, as (outer, holes) in any orientation, valid or not: they are made valid
// and united (unite_polygons), and the rest runs as for curves; params.buffer_distance is the
// scale boundary refinement works at. Throws InputError naming the polygon and ring of a point
// that is not finite.
TopologyResult topologize_polygons(const std::vector<BufferPolygon>& polygons,
                                   const TopologizeParams& params,
                                   const CancelCheck& cancelled = {});

// The same from traced outlines (nest_rings: rings that neither cross nor touch, holes the
// other way round); the rings must be finite, and are consumed. Holes of a mean width below
// min_hole_width are filled as well as those below the least area.
TopologyResult topologize_rings(std::vector<Ring> rings, const TopologizeParams& params,
                                const CancelCheck& cancelled = {}, double min_hole_width = 0.0);

// The halo a tile's core is widened by: twice the largest radius, so that the buffer reaching into
// the core is whole, plus two rounds of the reaches of tip pruning and junction merging, plus one
// feature size for the smoothing and simplification of chain ends.
double tile_halo(const Settings& settings, double largest_radius);

// The work of a tiled run: the grid, the tiles with their curves and the stitch tolerance.
struct TilePlan {
  TileGrid grid;
  std::vector<TileCurves> tiles;
  double tolerance = 0.0;
};

// Checks the input and cuts it into tiles of side params.tile_size, each with the curves within
// its core widened by tile_halo. The grid starts at `origin` when given (so that parts of one
// input planned apart share one grid), else at the multiple of tile_size below the curves. With
// all_tiles, tiles that only the halo reaches are kept too, marked as not reached.
TilePlan plan_tiles(const std::vector<Polyline>& curves, const TopologizeParams& params,
                    std::optional<Point> origin, bool all_tiles);

// topologize_inner on one tile, its chains clipped to the tile's core. Throws InputError
// "tile (col, row) failed: " + message.
std::vector<CorePiece> run_tile(TileCurves tile, const TileGrid& grid,
                                const TopologizeParams& params, const CancelCheck& cancelled = {});

// run_one on every tile, on the worker pool a wave at a time (a few tiles a worker, so that only
// a wave's tiles are held at once; each tile is moved out as it starts), and the pieces of all in
// tile order. `cancelled` is asked before each wave; the first InputError of a wave, in tile
// order, is thrown as it is.
std::vector<CorePiece> run_in_waves(
    std::vector<TileCurves>& tiles,
    const std::function<std::vector<CorePiece>(TileCurves)>& run_one,
    const CancelCheck& cancelled = {});

// plan_tiles, run_tile for every tile on the worker pool a wave at a time, and stitch_pieces.
// `cancelled` is asked before each wave and between the stages of each tile.
TopologyResult topologize_tiled(const std::vector<Polyline>& curves, const TopologizeParams& params,
                                const CancelCheck& cancelled = {});

// A density raster is cut into tiles of this many cells a side, each with its halo; a raster of
// at most kSingleRasterTiles such tiles' cells runs whole. Beyond kDensityCellBudget cells, or
// the value of kMaxDensityCellsVariable, a call is refused.
inline constexpr std::size_t kDensityTileSide = 2048;
inline constexpr double kSingleRasterTiles = 4.0;
inline constexpr std::size_t kDensityCellBudget = 1'000'000'000;
inline constexpr const char* kMaxDensityCellsVariable = "LINETOPO_MAX_DENSITY_CELLS";

// The cell limit of a density centerline: kMaxDensityCellsVariable's value or kDensityCellBudget.
std::size_t max_density_cells();

// The centerline of where many curves run: each curve counted once in every cell of side
// d.cell it crosses, the counts blurred (a Gaussian of deviation d.sigma), and a cell kept as
// road where its density is at least d.relative of the highest within the square of half-side
// d.reach around it and at least d.min_count of the peak of one trace alone. The road's outline,
// traced between cell centres where that margin crosses zero, runs through the polygon
// pipeline with `params`. A raster larger than kSingleRasterTiles tiles runs tile by tile, a
// wave at a time, each tile with a halo, and the pieces are stitched as topologize_tiled
// stitches them; keep_components is off unless params ask for it. Throws InputError for options
// out of range, points that are not finite or a raster beyond max_density_cells(); the result
// does not depend on the thread count.
TopologyResult density_centerline(const std::vector<Polyline>& curves, const DensityParams& d,
                                  const TopologizeParams& params,
                                  const CancelCheck& cancelled = {});

struct BatchJob {
  std::vector<Polyline> curves;
  TopologizeParams params;
};

// Runs every job on the shared worker pool; results in job order. Every job's feature_size is
// checked before any job runs; after that the first failure throws InputError
// "topologize_batch job i failed: " + message. `cancelled` is asked before each job and between
// the stages of each; once it says stop, no job starts and the run throws Cancelled.
std::vector<TopologyResult> run_batch(const std::vector<BatchJob>& jobs,
                                      const CancelCheck& cancelled = {});

}  // namespace linetopo
