// Offsets every curve with Clipper2, unites the shapes and sorts the rings into buffer polygons.
#include "inflate/inflate.hpp"

#include <clipper2/clipper.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>
#include <optional>
#include <string>
#include <tuple>
#include <utility>

#include "geometry/keys.hpp"
#include "geometry/segments.hpp"
#include "parallel/parallel.hpp"

namespace linetopo {
namespace {

namespace c2 = Clipper2Lib;

constexpr double kIntegerScale = 1e6;  // every offset and union works in integer micro-units
constexpr double kArcToleranceFactor = 0.2;
constexpr double kUniformMiterLimit = 0.0;
constexpr double kVariableMiterLimit = 2.0;
constexpr double kRepeatDist2 = 1e-10;
constexpr double kMinHoleAreaFactor = 0.1;
// Uniform curves of more than twice this many points are offset in pieces of this many. A
// long curve's own clean-up sweep costs grow with the width of its extent, and short pieces
// are compact, so the spatial union tree meets each place's pieces together early.
constexpr std::size_t kPieceVertices = 32;
// Shapes united per call at each level of the union tree.
constexpr std::size_t kTreeFanout = 4;

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

bool has_radii(const std::optional<Widths>& widths, std::size_t i) {
  return widths && i < widths->size() && !(*widths)[i].empty();
}

c2::Path64 to_grid(const Polyline& pts) {
  c2::Path64 path;
  path.reserve(pts.size());
  for (const Point& p : pts) {
    path.emplace_back(round_half_away_i64(p.x * kIntegerScale),
                      round_half_away_i64(p.y * kIntegerScale));
  }
  return path;
}

c2::Paths64 offset_variable(const c2::Path64& path, const std::vector<double>& widths,
                            double arc_tolerance) {
  c2::ClipperOffset offsetter(kVariableMiterLimit, arc_tolerance * kIntegerScale, false, false);
  offsetter.AddPath(path, c2::JoinType::Square, c2::EndType::Square);
  if (widths.size() != path.size()) {
    throw InternalError("internal error: inflate_curve_variable got " +
                        std::to_string(widths.size()) + " radii for " +
                        std::to_string(path.size()) + " points");
  }
  // The offsetter passes indices into its own copy of the path, which has repeats removed and
  // so is never longer than the radii.
  c2::DeltaCallback64 delta = [radii = widths](const c2::Path64&, const c2::PathD&,
                                               std::size_t curr, std::size_t) {
    return radii[check_index(curr, radii.size(), "inflate_curve_variable vertex")] * kIntegerScale;
  };
  c2::Paths64 solution;
  offsetter.Execute(delta, solution);
  return solution;
}

c2::Paths64 offset_uniform(const c2::Path64& path, double delta, double arc_tolerance,
                           c2::EndType ends) {
  c2::ClipperOffset offsetter(kUniformMiterLimit, arc_tolerance * kIntegerScale);
  offsetter.AddPath(path, c2::JoinType::Square, ends);
  c2::Paths64 solution;
  offsetter.Execute(delta * kIntegerScale, solution);
  return solution;
}

// The square cap beyond `end`, away from `next`: the rectangle of width 2 delta and depth delta
// that a square end adds to an open offset, counter-clockwise.
c2::Path64 square_cap(const c2::Point64& end, const c2::Point64& next, double delta) {
  const double ux = static_cast<double>(end.x - next.x);
  const double uy = static_cast<double>(end.y - next.y);
  const double len = std::hypot(ux, uy);
  const double d = std::fabs(delta) * kIntegerScale;
  const double ax = ux / len * d;  // along, away from the curve
  const double ay = uy / len * d;
  const double nx = -ay;  // to the left of `along`
  const double ny = ax;
  const double x = static_cast<double>(end.x);
  const double y = static_cast<double>(end.y);
  const auto pt = [](double px, double py) {
    return c2::Point64(round_half_away_i64(px), round_half_away_i64(py));
  };
  // Right-back, right-front, left-front, left-back: counter-clockwise.
  return {pt(x - nx, y - ny), pt(x - nx + ax, y - ny + ay), pt(x + nx + ax, y + ny + ay),
          pt(x + nx, y + ny)};
}

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
Piece leaf(c2::Paths64 paths) {
  Piece piece;
  piece.box = c2::GetBounds(paths);
  for (c2::Path64& p : paths) piece.rings.push_back({std::move(p), -1});
  return piece;
}

// The vertex ranges [first, last] of the pieces of a long curve of n vertices: consecutive
// pieces share one segment.
using Spans = std::vector<std::pair<std::size_t, std::size_t>>;

Spans piece_spans(std::size_t n) {
  Spans spans;
  for (std::size_t first = 0;;) {
    const std::size_t last = std::min(n - 1, first + kPieceVertices);
    spans.emplace_back(first, last);
    if (last == n - 1) break;
    first = last - 1;
  }
  return spans;
}

// The uniform offset of one long curve as pieces whose union is the curve's offset: consecutive
// pieces share one segment and end flat (butt), so every join is made by a piece that holds
// both of its segments and every segment's band by a piece that holds it; the two real ends
// get the square caps the whole curve would get.
std::vector<c2::Paths64> offset_in_pieces(const c2::Path64& path, const Spans& spans, double delta,
                                          double arc_tolerance) {
  std::vector<c2::Paths64> pieces(spans.size());
  parallel_for(spans.size(), [&](std::size_t i) {
    const c2::Path64 piece(path.begin() + static_cast<std::ptrdiff_t>(spans[i].first),
                           path.begin() + static_cast<std::ptrdiff_t>(spans[i].second) + 1);
    pieces[i] = offset_uniform(piece, delta, arc_tolerance, c2::EndType::Butt);
  });
  const std::size_t n = path.size();
  pieces.front().push_back(square_cap(path[0], path[1], delta));
  pieces.back().push_back(square_cap(path[n - 1], path[n - 2], delta));
  return pieces;
}

c2::Path64 without_grid_repeats(const c2::Path64& path) {
  c2::Path64 out;
  out.reserve(path.size());
  for (const c2::Point64& p : path) {
    if (out.empty() || out.back() != p) out.push_back(p);
  }
  return out;
}

using Wide = __int128;

Wide cross(const c2::Point64& o, const c2::Point64& a, const c2::Point64& b) {
  return static_cast<Wide>(a.x - o.x) * (b.y - o.y) - static_cast<Wide>(a.y - o.y) * (b.x - o.x);
}

// Twice the signed area, exactly.
Wide doubled_area(const c2::Path64& p) {
  Wide a = 0;
  for (std::size_t i = 0, j = p.size() - 1; i < p.size(); j = i++) {
    a += static_cast<Wide>(p[j].x) * p[i].y - static_cast<Wide>(p[i].x) * p[j].y;
  }
  return a;
}

// Whether no two edges of the ring meet except neighbours at their shared vertex. Edges are
// listed per cell of a grid of about one edge length, sorted by cell on the pool, and each
// cell's pairs are tested on the pool, a pair only in the first cell the two share; so the
// test costs about the ring's size.
bool is_simple(const c2::Path64& r) {
  const std::size_t n = r.size();
  if (n < 3 || n >= std::numeric_limits<std::uint32_t>::max()) return false;
  double total = 0.0;
  c2::Rect64 box = c2::GetBounds(r);
  for (std::size_t i = 0; i < n; ++i) {
    const c2::Point64& a = r[i];
    const c2::Point64& b = r[(i + 1) % n];
    total += std::hypot(static_cast<double>(b.x - a.x), static_cast<double>(b.y - a.y));
  }
  const double h = std::max(1.0, total / static_cast<double>(n));
  // Cells counted from the box's corner, so that a cell packs into one key.
  const auto cell = [&](std::int64_t v, std::int64_t origin) {
    return static_cast<std::uint64_t>(std::floor(static_cast<double>(v - origin) / h));
  };
  constexpr double kMaxCells = 2147483647.0;
  if (static_cast<double>(box.right - box.left) / h >= kMaxCells ||
      static_cast<double>(box.bottom - box.top) / h >= kMaxCells) {
    return false;  // not worth it: sweep instead
  }
  struct Span {
    std::uint64_t lo_x, lo_y, hi_x, hi_y;
  };
  std::vector<Span> span(n);
  std::vector<std::size_t> first(n + 1, 0);
  for (std::size_t i = 0; i < n; ++i) {
    const c2::Point64& a = r[i];
    const c2::Point64& b = r[(i + 1) % n];
    span[i] = {cell(std::min(a.x, b.x), box.left), cell(std::min(a.y, b.y), box.top),
               cell(std::max(a.x, b.x), box.left), cell(std::max(a.y, b.y), box.top)};
    const std::uint64_t cells =
        (span[i].hi_x - span[i].lo_x + 1) * (span[i].hi_y - span[i].lo_y + 1);
    if (cells > 4096) return false;  // not worth it: sweep instead
    first[i + 1] = first[i] + cells;
  }
  struct Entry {
    std::uint64_t key;
    std::uint32_t edge;
  };
  std::vector<Entry> entries(first[n]);
  parallel_for(n, [&](std::size_t i) {
    std::size_t k = first[i];
    for (std::uint64_t y = span[i].lo_y; y <= span[i].hi_y; ++y) {
      for (std::uint64_t x = span[i].lo_x; x <= span[i].hi_x; ++x) {
        entries[k++] = {(y << 32) | x, static_cast<std::uint32_t>(i)};
      }
    }
  });
  parallel_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
    return a.key < b.key || (a.key == b.key && a.edge < b.edge);
  });
  std::vector<std::size_t> runs;  // where each cell's entries start, and the end
  for (std::size_t k = 0; k < entries.size(); ++k) {
    if (k == 0 || entries[k].key != entries[k - 1].key) runs.push_back(k);
  }
  runs.push_back(entries.size());
  std::atomic<bool> meet{false};
  parallel_for(runs.size() - 1, [&](std::size_t c) {
    if (meet.load(std::memory_order_relaxed)) return;
    const std::uint64_t x = entries[runs[c]].key & 0xffffffffU;
    const std::uint64_t y = entries[runs[c]].key >> 32;
    for (std::size_t u = runs[c]; u < runs[c + 1]; ++u) {
      for (std::size_t v = u + 1; v < runs[c + 1]; ++v) {
        const std::size_t i = entries[u].edge;
        const std::size_t j = entries[v].edge;               // i < j
        if (j == i + 1 || (i == 0 && j == n - 1)) continue;  // neighbours share a vertex
        if (std::max(span[i].lo_x, span[j].lo_x) != x ||
            std::max(span[i].lo_y, span[j].lo_y) != y) {
          continue;  // tested in the first cell both reach
        }
        if (segments_meet(r[i], r[(i + 1) % n], r[j], r[(j + 1) % n], cross)) {  // exact
          meet.store(true, std::memory_order_relaxed);
          return;
        }
      }
    }
  });
  return !meet.load();
}

// The index k of the ring edge r[k] -> r[k + 1] whose ends are the two grid points nearest to p
// and q, in either order.
std::optional<std::size_t> edge_at(const c2::Path64& r, double px, double py, double qx,
                                   double qy) {
  constexpr double kSnap = 2.0;  // grid units: the offset's own rounding
  const auto near = [&](const c2::Point64& v, double x, double y) {
    return std::fabs(static_cast<double>(v.x) - x) <= kSnap &&
           std::fabs(static_cast<double>(v.y) - y) <= kSnap;
  };
  for (std::size_t k = 0; k < r.size(); ++k) {
    const c2::Point64& a = r[k];
    const c2::Point64& b = r[(k + 1) % r.size()];
    if ((near(a, px, py) && near(b, qx, qy)) || (near(a, qx, qy) && near(b, px, py))) return k;
  }
  return std::nullopt;
}

// Appends r[from + 1] up to r[to - 1], walking forwards round the ring.
void append_between(const c2::Path64& r, std::size_t from, std::size_t to, c2::Path64& out) {
  const std::size_t n = r.size();
  for (std::size_t k = (from + 1) % n; k != to; k = (k + 1) % n) {
    if (out.empty() || out.back() != r[k]) out.push_back(r[k]);
  }
}

// One long uniform curve's pieces joined into one outline without a sweep of the whole: where
// two pieces share a segment, their flat ends are dropped and their sides run on along the
// segment's offset lines, which is their union as long as nothing else of the curve comes near.
// That is checked after the fact: the outline must be simple and its area that of the pieces
// less the shared segments' bands. Nothing when a check fails, and the pieces go to the union.
std::optional<c2::Path64> joined_outline(const c2::Path64& path, const Spans& spans,
                                         const std::vector<c2::Paths64>& pieces, double delta) {
  const std::size_t m = pieces.size();
  if (m < 2) return std::nullopt;
  const double d = std::fabs(delta) * kIntegerScale;
  // Per piece, on the pool: its one ring, its doubled area, and where its shared segments'
  // flat ends sit in it.
  std::vector<c2::Path64> rings(m);
  std::vector<Wide> area(m, 0);
  std::vector<std::optional<std::size_t>> end_edge(m), start_edge(m);
  std::vector<char> single(m, 0);
  const auto shared_segment = [&](std::size_t i) {  // between pieces i and i + 1
    const c2::Point64& p = path[spans[i].second - 1];
    const c2::Point64& q = path[spans[i].second];
    return std::pair{p, q};
  };
  const auto flat_end = [d](const c2::Path64& ring, const c2::Point64& p, const c2::Point64& q,
                            const c2::Point64& at) -> std::optional<std::size_t> {
    const double len = std::hypot(static_cast<double>(q.x - p.x), static_cast<double>(q.y - p.y));
    if (!(len > 0.0)) return std::nullopt;
    const double nx = -static_cast<double>(q.y - p.y) / len * d;
    const double ny = static_cast<double>(q.x - p.x) / len * d;
    const auto x = static_cast<double>(at.x);
    const auto y = static_cast<double>(at.y);
    return edge_at(ring, x + nx, y + ny, x - nx, y - ny);
  };
  parallel_for(m, [&](std::size_t i) {
    // The end pieces hold their square caps as separate rectangles.
    c2::Paths64 united =
        (i == 0 || i == m - 1) ? c2::Union(pieces[i], c2::FillRule::NonZero) : pieces[i];
    if (united.size() != 1) return;
    single[i] = 1;
    rings[i] = std::move(united.front());
    area[i] = doubled_area(rings[i]);
    if (i + 1 < m) {
      const auto [p, q] = shared_segment(i);
      end_edge[i] = flat_end(rings[i], p, q, q);
    }
    if (i > 0) {
      const auto [p, q] = shared_segment(i - 1);
      start_edge[i] = flat_end(rings[i], p, q, p);
    }
  });
  if (std::count(single.begin(), single.end(), 1) != static_cast<std::ptrdiff_t>(m)) {
    return std::nullopt;
  }
  Wide expected = 0;
  double slack = 16.0 * static_cast<double>(m);
  for (const Wide a : area) expected += a;
  for (std::size_t i = 0; i + 1 < m; ++i) {
    if (!end_edge[i] || !start_edge[i + 1]) return std::nullopt;
    const auto [p, q] = shared_segment(i);
    const double len = std::hypot(static_cast<double>(q.x - p.x), static_cast<double>(q.y - p.y));
    const double band = 2.0 * len * 2.0 * d;  // doubled
    expected += area[i] > 0 ? -static_cast<Wide>(band) : static_cast<Wide>(band);
    slack += 4.0 * (len + 2.0 * d);
  }
  c2::Path64 out;
  append_between(rings[0], *end_edge[0] + 1, *end_edge[0], out);
  for (std::size_t i = 1; i + 1 < m; ++i) {
    append_between(rings[i], *start_edge[i] + 1, *end_edge[i], out);
  }
  append_between(rings[m - 1], *start_edge[m - 1] + 1, *start_edge[m - 1], out);
  for (std::size_t i = m - 2; i >= 1; --i) {
    append_between(rings[i], *end_edge[i] + 1, *start_edge[i], out);
  }
  while (out.size() > 1 && out.front() == out.back()) out.pop_back();
  const Wide got = doubled_area(out);
  const Wide gap = got > expected ? got - expected : expected - got;
  if (static_cast<double>(gap) > slack || !is_simple(out)) return std::nullopt;
  return out;
}

// The offset shapes of one curve as leaves of the union tree: one, or one per piece of a long
// uniform curve, or the pieces already joined into one clean outline when the curve's buffer
// never reaches back onto itself. A zero buffer leaves the curve itself as a path.
Pieces offset_curve(const Polyline& curve, const std::vector<double>* radii, double buffer_distance,
                    double arc_tolerance) {
  const c2::Path64 path = to_grid(curve);
  if (radii != nullptr) return {leaf(offset_variable(path, *radii, arc_tolerance))};
  if (buffer_distance == 0.0) return {leaf(c2::Paths64{path})};
  if (path.size() > 2 * kPieceVertices) {
    const c2::Path64 distinct = without_grid_repeats(path);
    if (distinct.size() > 2 * kPieceVertices) {
      const auto spans = piece_spans(distinct.size());
      std::vector<c2::Paths64> pieces =
          offset_in_pieces(distinct, spans, buffer_distance, arc_tolerance);
      if (auto outline = joined_outline(distinct, spans, pieces, buffer_distance)) {
        Piece joined = leaf(c2::Paths64{std::move(*outline)});
        joined.clean = true;
        return {std::move(joined)};
      }
      Pieces out;
      for (c2::Paths64& p : pieces) out.push_back(leaf(std::move(p)));
      return out;
    }
  }
  return {leaf(offset_uniform(path, buffer_distance, arc_tolerance, c2::EndType::Square))};
}

// The ring directly around each ring of a union's answer, or -1. The answer's rings neither
// cross nor overlap, so a point on one ring (away from the others) lies inside exactly the rings
// around it: a ray from it to the left crosses each of those an odd number of times, and the
// one of least area holds the ring. Each ray looks only at the edges of one horizontal band.
// Clipper2's own nesting (its PolyTree) tests each hole against its outer ring's every vertex,
// which on a street grid's one big outer ring cost more than the union itself.
std::vector<std::ptrdiff_t> nesting(const c2::Paths64& rings) {
  struct Edge {
    c2::Point64 a, b;
    std::size_t ring;
  };
  std::vector<std::ptrdiff_t> parent(rings.size(), -1);
  if (rings.size() < 2) return parent;
  // Outer rings nest only inside holes, and the ring of largest area, an outer one, tells the
  // outer sense. With one outer ring, every hole is its own; otherwise only a ring that some
  // hole's box holds (holes included) can have a parent.
  std::vector<double> area(rings.size());
  std::size_t largest = 0;
  for (std::size_t i = 0; i < rings.size(); ++i) {
    area[i] = c2::Area(rings[i]);
    if (std::fabs(area[i]) > std::fabs(area[largest])) largest = i;
  }
  const bool outer_positive = area[largest] > 0.0;
  std::vector<c2::Rect64> hole_boxes;
  std::size_t outers = 0;
  for (std::size_t i = 0; i < rings.size(); ++i) {
    if ((area[i] > 0.0) == outer_positive) {
      ++outers;
    } else {
      hole_boxes.push_back(c2::GetBounds(rings[i]));
    }
  }
  if (hole_boxes.empty()) return parent;
  if (outers == 1) {
    for (std::size_t i = 0; i < rings.size(); ++i) {
      if (i != largest) parent[i] = static_cast<std::ptrdiff_t>(largest);
    }
    return parent;
  }
  for (double& a : area) a = std::fabs(a);
  constexpr std::size_t kBoxChecks = std::size_t{1} << 22;
  std::vector<char> asks(rings.size(), 1);
  if (hole_boxes.size() * rings.size() <= kBoxChecks) {
    for (std::size_t i = 0; i < rings.size(); ++i) {
      const c2::Rect64 box = c2::GetBounds(rings[i]);
      asks[i] = std::any_of(hole_boxes.begin(), hole_boxes.end(), [&](const c2::Rect64& h) {
        return h.left <= box.left && box.right <= h.right && h.top <= box.top &&
               box.bottom <= h.bottom;
      });
    }
  }
  std::size_t edges = 0;
  std::int64_t ymin = std::numeric_limits<std::int64_t>::max();
  std::int64_t ymax = std::numeric_limits<std::int64_t>::lowest();
  for (const c2::Path64& r : rings) {
    edges += r.size();
    for (const c2::Point64& q : r) {
      ymin = std::min(ymin, q.y);
      ymax = std::max(ymax, q.y);
    }
  }

  // Bands about as high as an edge runs on average, so that an edge lies in one or two; laid
  // out as one array with an offset per band.
  double rise = 0.0;
  for (const c2::Path64& r : rings) {
    for (std::size_t k = 0; k < r.size(); ++k) {
      rise += std::fabs(static_cast<double>(r[(k + 1) % r.size()].y) - static_cast<double>(r[k].y));
    }
  }
  const double y0 = static_cast<double>(ymin);
  const double extent = static_cast<double>(ymax) - y0 + 1.0;
  const double bands_by_rise = extent / std::max(1.0, rise / static_cast<double>(edges));
  const auto bands =
      static_cast<std::size_t>(std::clamp(bands_by_rise, 1.0, static_cast<double>(edges / 2 + 1)));
  const double height = extent / static_cast<double>(bands);
  const auto band_of = [&](double y) {
    const double b = std::floor((y - y0) / height);
    return static_cast<std::size_t>(std::clamp(b, 0.0, static_cast<double>(bands - 1)));
  };
  const auto for_each_edge = [&](auto&& visit) {
    for (std::size_t i = 0; i < rings.size(); ++i) {
      const c2::Path64& r = rings[i];
      for (std::size_t k = 0; k < r.size(); ++k) {
        const c2::Point64& a = r[k];
        const c2::Point64& b = r[(k + 1) % r.size()];
        const std::size_t last = band_of(static_cast<double>(std::max(a.y, b.y)));
        for (std::size_t j = band_of(static_cast<double>(std::min(a.y, b.y))); j <= last; ++j) {
          visit(j, Edge{a, b, i});
        }
      }
    }
  };
  std::vector<std::size_t> start(bands + 1, 0);
  for_each_edge([&](std::size_t j, const Edge&) { ++start[j + 1]; });
  std::partial_sum(start.begin(), start.end(), start.begin());
  std::vector<Edge> banded(start.back());
  std::vector<std::size_t> fill(start.begin(), start.end() - 1);
  for_each_edge([&](std::size_t j, const Edge& e) { banded[fill[j]++] = e; });

  std::vector<char> odd(rings.size(), 0);
  std::vector<std::size_t> crossed;
  for (std::size_t i = 0; i < rings.size(); ++i) {
    if (!asks[i]) continue;
    const c2::Path64& r = rings[i];
    // The midpoint of one of the ring's edges, in doubled coordinates to stay on the grid;
    // tried again at the next edge when it lies on another ring (rings may touch).
    for (std::size_t k = 0; k < r.size(); ++k) {
      const Wide px = Wide{r[k].x} + r[(k + 1) % r.size()].x;
      const Wide py = Wide{r[k].y} + r[(k + 1) % r.size()].y;
      bool on_edge = false;
      crossed.clear();
      const std::size_t j = band_of(static_cast<double>(py) / 2.0);
      for (std::size_t m = start[j]; m < start[j + 1]; ++m) {
        const Edge& e = banded[m];
        if (e.ring == i) continue;
        const Wide ax = 2 * Wide{e.a.x}, ay = 2 * Wide{e.a.y};
        const Wide bx = 2 * Wide{e.b.x}, by = 2 * Wide{e.b.y};
        const Wide turn = (bx - ax) * (py - ay) - (by - ay) * (px - ax);
        if (turn == 0 && std::min(ax, bx) <= px && px <= std::max(ax, bx) &&
            std::min(ay, by) <= py && py <= std::max(ay, by)) {
          on_edge = true;
          break;
        }
        if ((ay > py) == (by > py)) continue;
        // The crossing lies left of the point when the point is right of the edge as it runs.
        if ((by > ay) ? turn < 0 : turn > 0) {
          if (!odd[e.ring]) crossed.push_back(e.ring);
          odd[e.ring] ^= 1;
        }
      }
      std::ptrdiff_t holder = -1;
      for (std::size_t c : crossed) {
        if (odd[c] && (holder < 0 || area[c] < area[static_cast<std::size_t>(holder)])) {
          holder = static_cast<std::ptrdiff_t>(c);
        }
        odd[c] = 0;
      }
      parent[i] = holder;
      if (!on_edge) break;
    }
  }
  return parent;
}

// The pieces of a union's answer, one per top-level ring with the rings nested in it.
Pieces pieces_of(c2::Paths64 rings) {
  const std::vector<std::ptrdiff_t> parent = nesting(rings);
  std::vector<std::vector<std::size_t>> inside(rings.size());
  for (std::size_t i = 0; i < rings.size(); ++i) {
    if (parent[i] >= 0) inside[static_cast<std::size_t>(parent[i])].push_back(i);
  }
  Pieces out;
  std::vector<std::pair<std::size_t, std::ptrdiff_t>> stack;  // ring, its parent in the piece
  for (std::size_t top = 0; top < rings.size(); ++top) {
    if (parent[top] >= 0) continue;
    Piece piece;
    piece.box = c2::GetBounds(rings[top]);
    piece.clean = true;
    stack.assign(1, {top, -1});
    while (!stack.empty()) {
      const auto [i, up] = stack.back();
      stack.pop_back();
      piece.rings.push_back({std::move(rings[i]), up});
      const auto here = static_cast<std::ptrdiff_t>(piece.rings.size()) - 1;
      for (auto k = inside[i].rbegin(); k != inside[i].rend(); ++k) stack.emplace_back(*k, here);
    }
    out.push_back(std::move(piece));
  }
  return out;
}

Pieces unite(const c2::Paths64& subjects) {
  c2::Clipper64 clipper;
  clipper.AddSubject(subjects);
  c2::Paths64 answer;
  clipper.Execute(c2::ClipType::Union, c2::FillRule::NonZero, answer);
  return pieces_of(std::move(answer));
}

// Appends the rings of every piece to one list, parents re-pointed into it.
void append_rings(Pieces& pieces, std::vector<UnionRing>& rings) {
  for (Piece& piece : pieces) {
    const auto base = static_cast<std::ptrdiff_t>(rings.size());
    for (UnionRing& r : piece.rings) {
      rings.push_back({std::move(r.path), r.parent < 0 ? -1 : r.parent + base});
    }
  }
}

bool overlap(const c2::Rect64& a, const c2::Rect64& b) {
  return a.left <= b.right && b.left <= a.right && a.top <= b.bottom && b.top <= a.bottom;
}

// Unites the children of one tree node. Only pieces whose boxes meet a piece of another child
// (and pieces not yet clean) go into a union; the others pass through untouched, so a sweep
// never revisits a region that nothing new reaches. Pieces that go in are united in groups
// whose boxes chain together: a sweep's cost grows with the width of what it holds, and groups
// whose boxes never meet cannot touch.
Pieces merge_children(std::vector<Pieces>& children) {
  struct Entry {
    Piece* piece;
    std::size_t child;
  };
  std::vector<Entry> all;
  for (std::size_t c = 0; c < children.size(); ++c) {
    for (Piece& p : children[c]) all.push_back({&p, c});
  }
  std::vector<std::size_t> by_left(all.size());
  std::iota(by_left.begin(), by_left.end(), std::size_t{0});
  std::sort(by_left.begin(), by_left.end(), [&](std::size_t a, std::size_t b) {
    return all[a].piece->box.left < all[b].piece->box.left ||
           (all[a].piece->box.left == all[b].piece->box.left && a < b);
  });
  std::vector<char> take(all.size(), 0);
  for (std::size_t i = 0; i < all.size(); ++i) take[i] = all[i].piece->clean ? 0 : 1;
  std::vector<std::pair<std::size_t, std::size_t>> meeting;
  for (std::size_t k = 0; k < by_left.size(); ++k) {
    const Entry& a = all[by_left[k]];
    for (std::size_t m = k + 1; m < by_left.size(); ++m) {
      const Entry& b = all[by_left[m]];
      if (b.piece->box.left > a.piece->box.right) break;
      if (!overlap(a.piece->box, b.piece->box)) continue;
      meeting.emplace_back(by_left[k], by_left[m]);
      if (a.child != b.child) {
        take[by_left[k]] = 1;
        take[by_left[m]] = 1;
      }
    }
  }
  std::vector<std::size_t> group(all.size());
  std::iota(group.begin(), group.end(), std::size_t{0});
  const auto root = [&group](std::size_t v) {
    while (group[v] != v) v = group[v] = group[group[v]];
    return v;
  };
  for (const auto& [a, b] : meeting) {
    if (take[a] && take[b]) group[root(a)] = root(b);
  }
  // Groups in the order of their first piece, each piece's rings in piece order.
  std::vector<std::size_t> slot(all.size(), all.size());
  std::vector<c2::Paths64> subjects;
  Pieces out;
  for (std::size_t i = 0; i < all.size(); ++i) {
    if (!take[i]) {
      out.push_back(std::move(*all[i].piece));
      continue;
    }
    std::size_t& s = slot[root(i)];
    if (s == all.size()) {
      s = subjects.size();
      subjects.emplace_back();
    }
    for (UnionRing& r : all[i].piece->rings) subjects[s].push_back(std::move(r.path));
  }
  std::vector<Pieces> united(subjects.size());
  parallel_for(subjects.size(), [&](std::size_t g) { united[g] = unite(subjects[g]); });
  for (Pieces& pieces : united) {
    for (Piece& p : pieces) out.push_back(std::move(p));
  }
  return out;
}

// Interleaves the bits of x (even positions) and y (odd positions).
std::uint64_t morton(std::uint32_t x, std::uint32_t y) {
  const auto spread = [](std::uint64_t v) {
    v = (v | (v << 16)) & 0x0000FFFF0000FFFFULL;
    v = (v | (v << 8)) & 0x00FF00FF00FF00FFULL;
    v = (v | (v << 4)) & 0x0F0F0F0F0F0F0F0FULL;
    v = (v | (v << 2)) & 0x3333333333333333ULL;
    v = (v | (v << 1)) & 0x5555555555555555ULL;
    return v;
  };
  return spread(x) | (spread(y) << 1);
}

// Orders the leaves along a Z curve through their bounding-box centres, so that each node of
// the union tree holds neighbours. Ties keep the curve order.
void sort_spatially(Pieces& leaves) {
  c2::Rect64 all = c2::InvalidRect64;
  for (const Piece& p : leaves) {
    all.left = std::min(all.left, p.box.left);
    all.top = std::min(all.top, p.box.top);
    all.right = std::max(all.right, p.box.right);
    all.bottom = std::max(all.bottom, p.box.bottom);
  }
  const double w = std::max(1.0, static_cast<double>(all.right) - static_cast<double>(all.left));
  const double h = std::max(1.0, static_cast<double>(all.bottom) - static_cast<double>(all.top));
  const auto cell = [](double offset, double extent) {
    return static_cast<std::uint32_t>(std::clamp(offset / extent, 0.0, 1.0) * 4294967295.0);
  };
  std::vector<std::pair<std::uint64_t, std::size_t>> keys(leaves.size());
  for (std::size_t i = 0; i < leaves.size(); ++i) {
    const c2::Rect64& b = leaves[i].box;
    const double cx = 0.5 * (static_cast<double>(b.left) + static_cast<double>(b.right));
    const double cy = 0.5 * (static_cast<double>(b.top) + static_cast<double>(b.bottom));
    keys[i] = {morton(cell(cx - static_cast<double>(all.left), w),
                      cell(cy - static_cast<double>(all.top), h)),
               i};
  }
  std::sort(keys.begin(), keys.end());
  Pieces sorted;
  sorted.reserve(leaves.size());
  for (const auto& [key, i] : keys) sorted.push_back(std::move(leaves[i]));
  leaves = std::move(sorted);
}

// The union of the leaves [first, first + kTreeFanout^height) that exist: a node of the union
// tree, whose children are the nodes of one height less over consecutive ranges. Children unite
// as tasks on the pool, so that a node starts once its own children are done.
Pieces unite_subtree(Pieces& leaves, std::size_t first, std::size_t height) {
  std::size_t span = 1;  // leaves under each child
  for (std::size_t h = 1; h < height; ++h) span *= kTreeFanout;
  std::vector<std::size_t> starts;
  for (std::size_t c = 0; c < kTreeFanout && first + c * span < leaves.size(); ++c) {
    starts.push_back(first + c * span);
  }
  std::vector<Pieces> children(starts.size());
  if (height == 1) {
    for (std::size_t c = 0; c < starts.size(); ++c)
      children[c].push_back(std::move(leaves[starts[c]]));
  } else {
    parallel_for(starts.size(), [&](std::size_t c) {
      children[c] = unite_subtree(leaves, starts[c], height - 1);
    });
  }
  return merge_children(children);
}

// Unites the leaves in a tree of kTreeFanout children per node, in the leaves' spatial order.
// Edges hidden inside a node's region drop out early, so each sweep sees little more than its
// answer. The tree depends only on the input, never on the thread count.
std::vector<UnionRing> unite_in_tree(Pieces leaves) {
  sort_spatially(leaves);
  std::size_t height = 1;
  for (std::size_t reach = kTreeFanout; reach < leaves.size(); reach *= kTreeFanout) ++height;
  Pieces united = unite_subtree(leaves, 0, height);
  std::vector<UnionRing> rings;
  append_rings(united, rings);
  return rings;
}

// By x, then y.
bool point_less(const c2::Point64& a, const c2::Point64& b) {
  return a.x < b.x || (a.x == b.x && a.y < b.y);
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

double signed_area(const Polyline& p) {
  double twice = 0.0;
  const std::size_t n = p.size();
  for (std::size_t k = 0; k < n; ++k) {
    const Point& a = p[k];
    const Point& b = p[(k + 1) % n];
    twice += a.x * b.y - b.x * a.y;
  }
  return 0.5 * twice;
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
std::vector<BufferPolygon> assemble(const std::vector<UnionRing>& rings, double feature_size) {
  const double min_hole_area = kMinHoleAreaFactor * feature_size * feature_size;
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
    } else if (min_hole_area <= -a) {
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
    if (has_radii(widths, i)) {
      const std::vector<double>& radii = (*widths)[i];
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

std::vector<std::vector<Point>> inflate_curve_variable(const Polyline& pts,
                                                       const std::vector<double>& widths,
                                                       double arc_tolerance) {
  std::vector<std::vector<Point>> out;
  for (const c2::Path64& s : offset_variable(to_grid(pts), widths, arc_tolerance)) {
    out.push_back(from_grid(s));
  }
  return out;
}

std::vector<BufferPolygon> inflate(const std::vector<Polyline>& curves,
                                   const std::optional<Widths>& widths, double buffer_distance,
                                   double feature_size, InputCheck check) {
  if (check == InputCheck::kRun) check_inflation_input(curves, widths, buffer_distance);
  const double arc_tolerance = kArcToleranceFactor * feature_size;

  std::vector<UnionRing> rings;
  try {
    std::vector<Pieces> per_curve(curves.size());
    bool bare_curve = false;  // a zero buffer left some curve as it is
    for (std::size_t i = 0; i < curves.size(); ++i) {
      bare_curve =
          bare_curve || (buffer_distance == 0.0 && curves[i].size() >= 2 && !has_radii(widths, i));
    }
    parallel_for(curves.size(), [&](std::size_t i) {
      if (curves[i].size() < 2) return;
      per_curve[i] = offset_curve(curves[i], has_radii(widths, i) ? &(*widths)[i] : nullptr,
                                  buffer_distance, arc_tolerance);
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
      Pieces united = unite(all);
      append_rings(united, rings);
    } else {
      rings = unite_in_tree(std::move(leaves));
    }
  } catch (const c2::Clipper2Exception&) {
    off_grid();
  }
  for (UnionRing& r : rings) make_canonical(r.path);

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
  return assemble(sorted, feature_size);
}

}  // namespace linetopo
