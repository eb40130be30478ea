// Offsets of single curves with Clipper2: whole, or long uniform curves in pieces joined again.
#include "inflate/offsets.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <utility>

#include "geometry/cell_grid.hpp"
#include "geometry/keys.hpp"
#include "geometry/segments.hpp"
#include "parallel/parallel.hpp"

namespace linetopo::inflate_parts {
namespace {

constexpr double kUniformMiterLimit = 0.0;
constexpr double kVariableMiterLimit = 2.0;
// Uniform curves of more than twice this many points are offset in pieces of this many. A
// long curve's own clean-up sweep costs grow with the width of its extent, and short pieces
// are compact, so the spatial union tree meets each place's pieces together early.
constexpr std::size_t kPieceVertices = 32;

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

// Whether the ring is known to be simple: no two edges meet except neighbours at their shared
// vertex. Edges are listed per cell of a grid of about one edge length, and each cell's pairs are
// tested on the pool, a pair only in the first cell the two share; so the test costs about the
// ring's size. False also where that grid would not pay (edges spanning thousands of cells): the
// caller then takes the way that needs no simple ring.
bool known_simple(const c2::Path64& r) {
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
  // Cells counted from the box's corner. A ring's box is at most half its length high, so the
  // rows number at most about half its edges.
  const auto cell = [&](std::int64_t v, std::int64_t origin) {
    return static_cast<std::uint32_t>(std::floor(static_cast<double>(v - origin) / h));
  };
  constexpr double kMaxCells = 2147483647.0;
  if (static_cast<double>(box.right - box.left) / h >= kMaxCells ||
      static_cast<double>(box.bottom - box.top) / h >= kMaxCells) {
    return false;  // not worth it: sweep instead
  }
  std::vector<CellSpan> span(n);
  for (std::size_t i = 0; i < n; ++i) {
    const c2::Point64& a = r[i];
    const c2::Point64& b = r[(i + 1) % n];
    span[i] = {cell(std::min(a.x, b.x), box.left), cell(std::min(a.y, b.y), box.top),
               cell(std::max(a.x, b.x), box.left), cell(std::max(a.y, b.y), box.top)};
    const std::uint64_t cells = std::uint64_t{span[i].hi_x - span[i].lo_x + 1} *
                                (span[i].hi_y - span[i].lo_y + 1);
    if (cells > 4096) return false;  // not worth it: sweep instead
  }
  const CellRuns grid = cell_runs(span, cell(box.bottom, box.top) + 1);
  std::atomic<bool> meet{false};
  parallel_for(grid.runs.size() - 1, [&](std::size_t c) {
    if (meet.load(std::memory_order_relaxed)) return;
    const auto& first = grid.entries[grid.runs[c]];
    for (std::size_t u = grid.runs[c]; u < grid.runs[c + 1]; ++u) {
      for (std::size_t v = u + 1; v < grid.runs[c + 1]; ++v) {
        const std::size_t i = grid.entries[u].item;
        const std::size_t j = grid.entries[v].item;          // i < j
        if (j == i + 1 || (i == 0 && j == n - 1)) continue;  // neighbours share a vertex
        if (!first_shared_cell(span[i], span[j], first.x, first.y)) continue;
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
  if (static_cast<double>(gap) > slack || !known_simple(out)) return std::nullopt;
  return out;
}

}  // namespace

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
    throw InternalError("internal error: offset_variable got " +
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

}  // namespace linetopo::inflate_parts
