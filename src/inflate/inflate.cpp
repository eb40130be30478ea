// Offsets every curve with Clipper2, unites the shapes and sorts the rings into buffer polygons.
#include "inflate/inflate.hpp"

#include <clipper2/clipper.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <optional>
#include <string>
#include <utility>

#include "geometry/keys.hpp"
#include "inflate/finish.hpp"
#include "inflate/offsets.hpp"
#include "inflate/pieces.hpp"
#include "inflate/strips.hpp"
#include "inflate/union_tree.hpp"
#include "parallel/parallel.hpp"

namespace linetopo {
namespace {

using namespace inflate_parts;  // this stage's own parts

constexpr double kRepeatDist2 = 1e-10;
// In grid units: the width of the repeats above, under which a spike counts as a crack.
constexpr Wide kSpikeWidth = 10;

// Throws when v cannot be put on Clipper2's integer grid; `what()` names the value (built only
// then: the check runs for every input point).
template <class Name>
void check_value(double v, const Name& what) {
  if (!std::isfinite(v)) {
    throw InputError(what() + " is " + number_text(v) + "; it must be a finite number");
  }
  if (std::fabs(v) > kMaxInflationMagnitude) {
    throw InputError(what() + " is " + number_text(v) + "; its magnitude must be at most 1e" +
                     std::to_string(kMaxInflationExponent));
  }
}

std::string at(std::size_t curve, std::size_t point) {
  return " of curve " + std::to_string(curve) + ", point " + std::to_string(point);
}

// Each value is within range, but a wide buffer near the limit can still leave the grid.
[[noreturn]] void off_grid() {
  throw InputError(
      "the buffer around the curves reaches beyond about 2.3e12, the range of Clipper2's "
      "integer grid; coordinates plus radii must stay below it");
}

// Curve i's radii, or nullptr when it takes the uniform radius.
const std::vector<double>* radii_of(const std::optional<Widths>& widths, std::size_t i) {
  if (!widths || i >= widths->size() || (*widths)[i].empty()) return nullptr;
  return &(*widths)[i];
}

// The mean radius over every curve's points, in grid units: what sets the width of the strips.
double typical_radius(const std::vector<Polyline>& curves, const std::optional<Widths>& widths,
                      double buffer_distance) {
  double sum = 0.0;
  double count = 0.0;
  for (std::size_t i = 0; i < curves.size(); ++i) {
    if (curves[i].size() < 2) continue;
    if (const std::vector<double>* radii = radii_of(widths, i)) {
      for (const double r : *radii) sum += std::fabs(r);
      count += static_cast<double>(radii->size());
    } else {
      sum += std::fabs(buffer_distance) * static_cast<double>(curves[i].size());
      count += static_cast<double>(curves[i].size());
    }
  }
  return count > 0.0 ? sum / count * kIntegerScale : 0.0;
}

// By x, then y.
bool point_less(const c2::Point64& a, const c2::Point64& b) {
  return a.x < b.x || (a.x == b.x && a.y < b.y);
}

// Whether b is the tip of a spike: the ring runs from a to b and back to within kSpikeWidth of a
// (or straight back towards a, or stays put), enclosing next to nothing.
bool spike_tip(const c2::Point64& a, const c2::Point64& b, const c2::Point64& c) {
  const Wide ux = b.x - a.x, uy = b.y - a.y, vx = c.x - b.x, vy = c.y - b.y;
  if (ux == 0 && uy == 0) return true;
  if (ux * vx + uy * vy > 0) return false;  // no turn back
  const Wide wx = c.x - a.x, wy = c.y - a.y;
  return ux * vy - uy * vx == 0 || wx * wx + wy * wy <= kSpikeWidth * kSpikeWidth;
}

// Drops the spikes and repeated vertices a union leaves where the sides of two offset pieces of
// one curve, rounded each on its own, miss each other by a grid unit: a crack along a piece's flat
// end. It is no part of the region, and where the curve was cut into other pieces (a tile holds
// only part of it) there is none, so the same place would triangulate otherwise.
void drop_spikes(c2::Path64& p) {
  c2::Path64 kept;
  kept.reserve(p.size());
  const auto near = [](const c2::Point64& a, const c2::Point64& b) {
    const Wide dx = a.x - b.x, dy = a.y - b.y;
    return dx * dx + dy * dy <= kSpikeWidth * kSpikeWidth;
  };
  for (const c2::Point64& v : p) {
    if (!kept.empty() && near(kept.back(), v)) continue;  // a repeat, as the assembly sees it
    kept.push_back(v);
    while (kept.size() >= 3 &&
           spike_tip(kept[kept.size() - 3], kept[kept.size() - 2], kept.back())) {
      kept.erase(kept.end() - 2);
    }
  }
  // Across the closing edge: the last vertex and the first two.
  std::size_t front = 0;
  bool changed = true;
  while (changed && kept.size() - front >= 3) {
    changed = false;
    const std::size_t n = kept.size();
    if (near(kept[n - 1], kept[front]) || spike_tip(kept[n - 2], kept[n - 1], kept[front])) {
      kept.pop_back();
      changed = true;
    } else if (spike_tip(kept[n - 1], kept[front], kept[front + 1])) {
      ++front;
      changed = true;
    }
  }
  p.assign(kept.begin() + static_cast<std::ptrdiff_t>(front), kept.end());
}

// Starts a ring at its least vertex, so that rings read the same whatever way the union
// reached them.
void make_canonical(c2::Path64& p) {
  std::rotate(p.begin(), std::min_element(p.begin(), p.end(), point_less), p.end());
}

Polyline from_grid(const c2::Path64& p) {
  Polyline out;
  out.reserve(p.size());
  for (const c2::Point64& q : p) {
    out.push_back(
        {static_cast<double>(q.x) / kIntegerScale, static_cast<double>(q.y) / kIntegerScale});
  }
  return out;
}

Ring without_repeats(const Polyline& p) {
  Ring r;
  r.reserve(p.size());
  for (const Point& q : p) {
    if (r.empty() || dist2(r.back(), q) > kRepeatDist2) r.push_back(q);
  }
  return r;
}

double open_length(const Ring& r) {
  double len = 0.0;
  for (std::size_t k = 1; k < r.size(); ++k) len += dist(r[k - 1], r[k]);
  return len;
}

struct OuterCandidate {
  Ring ring;
  double length = 0.0;
  double area = 0.0;
  std::size_t source = 0;  // index into the union's rings
};

// Sorts the rings into polygons: outer rings in ascending order of open length, each hole (at
// least the minimum area) with the outer ring that directly encloses it in the union's nesting.
std::vector<BufferPolygon> assemble(const std::vector<UnionRing>& rings, double min_hole_area,
                                    double min_hole_width) {
  std::vector<OuterCandidate> outers;
  std::vector<std::pair<Ring, double>> holes(rings.size());
  std::vector<bool> is_hole(rings.size(), false);
  for (std::size_t i = 0; i < rings.size(); ++i) {
    if (rings[i].path.size() < 2) continue;
    const Polyline p = from_grid(rings[i].path);
    Ring r = without_repeats(p);
    if (r.size() < 3) continue;
    const double a = signed_area(p);
    if (a > 0.0) {
      const double len = open_length(r);
      outers.push_back({std::move(r), len, a, i});
    } else if (min_hole_area <= -a &&
               (min_hole_width <= 0.0 || min_hole_width * ring_length(r) <= -2.0 * a)) {
      holes[i] = {std::move(r), -a};
      is_hole[i] = true;
    }
  }
  std::stable_sort(
      outers.begin(), outers.end(),
      [](const OuterCandidate& a, const OuterCandidate& b) { return a.length < b.length; });

  constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  std::vector<std::size_t> rank(rings.size(), kNone);  // ring index to sorted outer position
  for (std::size_t k = 0; k < outers.size(); ++k) rank[outers[k].source] = k;
  std::vector<BufferPolygon> polygons(outers.size());
  for (std::size_t i = 0; i < rings.size(); ++i) {
    if (!is_hole[i]) continue;
    // The nearest enclosing outer ring that was kept: a hole given to an outer further out
    // would fill the island between them.
    std::size_t best = kNone;
    for (std::ptrdiff_t a = rings[i].parent; a >= 0 && best == kNone;
         a = rings[static_cast<std::size_t>(a)].parent) {
      const std::size_t k = rank[static_cast<std::size_t>(a)];
      if (k != kNone && holes[i].second < outers[k].area) best = k;
    }
    if (best != kNone) polygons[best].holes.push_back(std::move(holes[i].first));
  }
  for (std::size_t k = 0; k < outers.size(); ++k) polygons[k].outer = std::move(outers[k].ring);
  return polygons;
}

}  // namespace

void check_inflation_input(const std::vector<Polyline>& curves, const std::optional<Widths>& widths,
                           double buffer_distance) {
  bool uses_buffer_distance = false;
  for (std::size_t i = 0; i < curves.size(); ++i) {
    const Polyline& curve = curves[i];
    if (curve.size() < 2) continue;
    for (std::size_t k = 0; k < curve.size(); ++k) {
      check_value(curve[k].x, [&] { return "x coordinate" + at(i, k); });
      check_value(curve[k].y, [&] { return "y coordinate" + at(i, k); });
    }
    if (const std::vector<double>* given = radii_of(widths, i)) {
      const std::vector<double>& radii = *given;
      for (std::size_t k = 0; k < radii.size(); ++k) {
        check_value(radii[k], [&] { return "radius" + at(i, k); });
      }
    } else {
      uses_buffer_distance = true;
    }
  }
  if (uses_buffer_distance) {
    check_value(buffer_distance, [] { return std::string("buffer_distance"); });
  }
}

void check_polygon_input(const std::vector<BufferPolygon>& polygons) {
  for (std::size_t i = 0; i < polygons.size(); ++i) {
    const auto check_ring = [&](const Ring& ring, const std::string& name) {
      for (std::size_t k = 0; k < ring.size(); ++k) {
        const auto where = [&] {
          return " of polygon " + std::to_string(i) + ", " + name + ", point " +
                 std::to_string(k);
        };
        check_value(ring[k].x, [&] { return "x coordinate" + where(); });
        check_value(ring[k].y, [&] { return "y coordinate" + where(); });
      }
    };
    check_ring(polygons[i].outer, "outer ring");
    for (std::size_t h = 0; h < polygons[i].holes.size(); ++h) {
      check_ring(polygons[i].holes[h], "hole " + std::to_string(h));
    }
  }
}

namespace {

// inflate on the plain grid, for shapes the grid holds as they are.
std::vector<BufferPolygon> inflate_on_grid(const std::vector<Polyline>& curves,
                                           const std::optional<Widths>& widths,
                                           double buffer_distance,
                                           const InflateSettings& settings,
                                           const CancelCheck& cancelled) {
  const double arc_tolerance = settings.arc_tolerance;
  std::vector<UnionRing> rings;
  try {
    std::vector<Pieces> per_curve(curves.size());
    bool bare_curve = false;  // a zero buffer left some curve as it is
    for (std::size_t i = 0; i < curves.size(); ++i) {
      bare_curve = bare_curve ||
                   (buffer_distance == 0.0 && curves[i].size() >= 2 && !radii_of(widths, i));
    }
    parallel_for(curves.size(), [&](std::size_t i) {
      if (curves[i].size() < 2) return;
      throw_if_cancelled(cancelled);
      per_curve[i] = offset_curve(curves[i], radii_of(widths, i), buffer_distance, arc_tolerance);
    });
    Pieces leaves;
    for (Pieces& shapes : per_curve) {
      for (Piece& shape : shapes) {
        if (shape.rings.empty()) continue;
        leaves.push_back(std::move(shape));
        const c2::Rect64& box = leaves.back().box;
        if (box.left < c2::MIN_COORD || box.top < c2::MIN_COORD || box.right > c2::MAX_COORD ||
            box.bottom > c2::MAX_COORD) {
          off_grid();
        }
      }
    }
    if (leaves.empty()) return {};
    if (bare_curve) {
      // A bare curve's winding only counts together with all others: one flat union.
      c2::Paths64 all;
      for (Piece& piece : leaves) {
        for (UnionRing& r : piece.rings) all.push_back(std::move(r.path));
      }
      Pieces united = unite(std::move(all));
      append_rings(united, rings);
    } else {
      Pieces united = fuses(leaves)
                          ? unite_in_strips(std::move(leaves),
                                            typical_radius(curves, widths, buffer_distance),
                                            cancelled)
                          : unite_in_tree(std::move(leaves), cancelled);
      append_rings(united, rings);
    }
  } catch (const c2::Clipper2Exception&) {
    off_grid();
  }
  return polygons_of(std::move(rings), settings.min_hole_area);
}

}  // namespace

std::vector<BufferPolygon> inflate(const std::vector<Polyline>& curves,
                                   const std::optional<Widths>& widths, double buffer_distance,
                                   const InflateSettings& settings,
                                   const CancelCheck& cancelled) {
  std::vector<const Polyline*> lines;
  for (const Polyline& c : curves) {
    if (c.size() >= 2) lines.push_back(&c);
  }
  const GridFrame frame = grid_frame(lines, settings);
  if (frame.plain()) return inflate_on_grid(curves, widths, buffer_distance, settings, cancelled);
  std::vector<Polyline> local(curves.size());
  for (std::size_t i = 0; i < curves.size(); ++i) {
    if (curves[i].size() >= 2) local[i] = frame.to_local(curves[i]);
  }
  std::optional<Widths> local_widths = widths;
  if (local_widths) {
    for (std::vector<double>& radii : *local_widths) {
      for (double& r : radii) r *= frame.scale;
    }
  }
  std::vector<BufferPolygon> polygons =
      inflate_on_grid(local, local_widths, buffer_distance * frame.scale,
                      frame.local_settings(settings), cancelled);
  frame.to_world(polygons);
  return polygons;
}

GridFrame inflate_parts::grid_frame(const std::vector<const Polyline*>& lines,
                                    const InflateSettings& settings) {
  constexpr double inf = std::numeric_limits<double>::infinity();
  double lo_x = inf, lo_y = inf, hi_x = -inf, hi_y = -inf;
  for (const Polyline* line : lines) {
    for (const Point& p : *line) {
      if (!is_finite(p)) continue;  // on a curve inflation skips, unchecked
      lo_x = std::min(lo_x, p.x), hi_x = std::max(hi_x, p.x);
      lo_y = std::min(lo_y, p.y), hi_y = std::max(hi_y, p.y);
    }
  }
  GridFrame frame;
  if (!(lo_x <= hi_x && lo_y <= hi_y)) return frame;
  // Powers of two scale exactly.
  const double extent = std::max({hi_x - lo_x, hi_y - lo_y, kLengthEpsilon});
  const double tolerance = settings.arc_tolerance;
  while (tolerance > 0.0 && tolerance * frame.scale < kMinArcTolerance &&
         extent * frame.scale < kMaxScaledExtent) {
    frame.scale *= 2.0;
  }
  if (frame.scale > 1.0) frame.origin = {0.5 * (lo_x + hi_x), 0.5 * (lo_y + hi_y)};
  return frame;
}

Polyline GridFrame::to_local(const Polyline& line) const {
  Polyline out;
  out.reserve(line.size());
  for (const Point& p : line) out.push_back({(p.x - origin.x) * scale, (p.y - origin.y) * scale});
  return out;
}

InflateSettings GridFrame::local_settings(const InflateSettings& settings) const {
  return {.arc_tolerance = settings.arc_tolerance * scale,
          .min_hole_area = settings.min_hole_area * scale * scale,
          .min_hole_width = settings.min_hole_width * scale};
}

void GridFrame::to_world(std::vector<BufferPolygon>& polygons) const {
  if (plain()) return;
  const auto back = [&](Ring& ring) {
    for (Point& p : ring) p = {p.x / scale + origin.x, p.y / scale + origin.y};
  };
  for (BufferPolygon& polygon : polygons) {
    back(polygon.outer);
    for (Ring& hole : polygon.holes) back(hole);
  }
}

std::vector<BufferPolygon> inflate_parts::polygons_of(std::vector<UnionRing> rings,
                                                      double min_hole_area,
                                                      double min_hole_width) {
  for (UnionRing& r : rings) {
    drop_spikes(r.path);
    make_canonical(r.path);
  }

  // Each ring starts at its least vertex; list them by that vertex so that the order is the
  // geometry's, not the union's. Parents are re-pointed through the permutation.
  std::vector<std::size_t> order(rings.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return std::lexicographical_compare(rings[a].path.begin(), rings[a].path.end(),
                                        rings[b].path.begin(), rings[b].path.end(), point_less);
  });
  std::vector<std::ptrdiff_t> position(rings.size());
  for (std::size_t k = 0; k < order.size(); ++k)
    position[order[k]] = static_cast<std::ptrdiff_t>(k);
  std::vector<UnionRing> sorted;
  sorted.reserve(rings.size());
  for (std::size_t i : order) {
    const std::ptrdiff_t parent = rings[i].parent;
    sorted.push_back(
        {std::move(rings[i].path), parent < 0 ? -1 : position[static_cast<std::size_t>(parent)]});
  }
  return assemble(sorted, min_hole_area, min_hole_width);
}

}  // namespace linetopo
