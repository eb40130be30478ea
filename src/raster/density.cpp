// Each segment walked cell by cell (Amanatides and Woo), a curve's cells sorted and made
// unique, then counted.
#include "raster/density.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <limits>

#include "parallel/parallel.hpp"

namespace linetopo {
namespace {

// Curves per task: the cells of one block's curves are sorted together.
constexpr std::size_t kCurvesPerBlock = 64;

// The part of the segment from a to b (cell units) within [0, w] x [0, h], as parameters
// [t0, t1] along it (Liang and Barsky); false when it misses.
bool clip(const Point& a, const Point& b, double w, double h, double& t0, double& t1) {
  t0 = 0.0;
  t1 = 1.0;
  const double d[2] = {b.x - a.x, b.y - a.y};
  const double p[2] = {a.x, a.y};
  const double hi[2] = {w, h};
  for (int k = 0; k < 2; ++k) {
    if (d[k] == 0.0) {
      if (p[k] < 0.0 || p[k] > hi[k]) return false;
      continue;
    }
    double lo_t = (0.0 - p[k]) / d[k];
    double hi_t = (hi[k] - p[k]) / d[k];
    if (lo_t > hi_t) std::swap(lo_t, hi_t);
    t0 = std::max(t0, lo_t);
    t1 = std::min(t1, hi_t);
    if (t0 > t1) return false;
  }
  return true;
}

// Appends the cells the segment from a to b (cell units) crosses, in order.
void walk(const Point& a, const Point& b, const CellLattice& lattice,
          std::vector<std::uint64_t>& cells) {
  const auto w = static_cast<double>(lattice.width);
  const auto h = static_cast<double>(lattice.height);
  double t0 = 0.0;
  double t1 = 1.0;
  if (!clip(a, b, w, h, t0, t1)) return;
  const Point p{a.x + t0 * (b.x - a.x), a.y + t0 * (b.y - a.y)};
  const Point q{a.x + t1 * (b.x - a.x), a.y + t1 * (b.y - a.y)};
  const auto index = [](double v, std::size_t n) {
    return static_cast<std::int64_t>(std::clamp(std::floor(v), 0.0, static_cast<double>(n - 1)));
  };
  std::int64_t c = index(p.x, lattice.width);
  std::int64_t r = index(p.y, lattice.height);
  const std::int64_t c_end = index(q.x, lattice.width);
  const std::int64_t r_end = index(q.y, lattice.height);
  const double dx = q.x - p.x;
  const double dy = q.y - p.y;
  constexpr double kNever = std::numeric_limits<double>::infinity();
  const std::int64_t step_c = dx > 0.0 ? 1 : -1;
  const std::int64_t step_r = dy > 0.0 ? 1 : -1;
  // Parameters along p..q where the walk next crosses a column or a row border.
  double next_c = dx != 0.0 ? (static_cast<double>(c + (dx > 0.0 ? 1 : 0)) - p.x) / dx : kNever;
  double next_r = dy != 0.0 ? (static_cast<double>(r + (dy > 0.0 ? 1 : 0)) - p.y) / dy : kNever;
  const double delta_c = dx != 0.0 ? 1.0 / std::fabs(dx) : kNever;
  const double delta_r = dy != 0.0 ? 1.0 / std::fabs(dy) : kNever;
  cells.push_back(static_cast<std::uint64_t>(r) * lattice.width + static_cast<std::uint64_t>(c));
  // Exactly as many steps as the end cell lies away, whatever the rounding on the way.
  std::int64_t steps = std::abs(c_end - c) + std::abs(r_end - r);
  while (steps-- > 0) {
    const bool across = c != c_end && (r == r_end || next_c < next_r);
    if (across) {
      c += step_c;
      next_c += delta_c;
    } else {
      r += step_r;
      next_r += delta_r;
    }
    cells.push_back(static_cast<std::uint64_t>(r) * lattice.width +
                    static_cast<std::uint64_t>(c));
  }
}

}  // namespace

FloatRaster count_curves(const std::vector<Polyline>& curves, const CellLattice& lattice,
                         const CancelCheck& cancelled) {
  // Counted as floats, exact far beyond any count of curves, so that no second raster is needed.
  FloatRaster counts(lattice.size(), 0.0F);
  if (counts.empty()) return counts;
  const std::size_t blocks = (curves.size() + kCurvesPerBlock - 1) / kCurvesPerBlock;
  const double scale = 1.0 / lattice.cell;
  parallel_for(blocks, [&](std::size_t block) {
    throw_if_cancelled(cancelled);
    std::vector<std::uint64_t> cells;
    const std::size_t last = std::min(curves.size(), (block + 1) * kCurvesPerBlock);
    for (std::size_t i = block * kCurvesPerBlock; i < last; ++i) {
      cells.clear();
      const Polyline& curve = curves[i];
      const auto at = [&](const Point& v) {
        return Point{(v.x - lattice.origin_x) * scale, (v.y - lattice.origin_y) * scale};
      };
      for (std::size_t k = 0; k < curve.size(); ++k) {
        const Point a = at(curve[k]);
        walk(a, k + 1 < curve.size() ? at(curve[k + 1]) : a, lattice, cells);
      }
      std::sort(cells.begin(), cells.end());
      cells.erase(std::unique(cells.begin(), cells.end()), cells.end());
      // Sums of whole numbers: the same in any order.
      for (const std::uint64_t cell : cells) {
        std::atomic_ref<float>(counts[cell]).fetch_add(1.0F, std::memory_order_relaxed);
      }
    }
  });
  return counts;
}

}  // namespace linetopo
