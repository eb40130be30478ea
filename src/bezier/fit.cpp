// Fits a chain with cubic Bézier pieces: least squares on chord-length parameters refined by
// Newton steps over the chain with points added along its long segments, split at the worst point
// (or in two where two pieces fit) until every piece keeps to the polyline, tangent-continuous
// except at corners.
#include "bezier/fit.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "bezier/parts.hpp"

namespace linetopo {
namespace {

using namespace bezier_parts;  // this stage's own parts

// A vertex where the chain turns by more than this is a drawn corner: its pieces meet there with
// independent tangents. Smooth curves sampled as the chains are turn far less at a vertex.
constexpr double kCornerDegrees = 60.0;
// Directions and tangents look this many tolerances along the chain (at least to the next
// vertex): noise well below the tolerance barely tilts them, and only a bend tighter than about
// the reach reads as a corner.
constexpr double kReachTolerances = 2.0;
// On a closed chain a direction looks at most this fraction of its length away, so that the two
// sides of a point never overlap.
constexpr double kLoopReachFraction = 0.25;
// A span missing by at most this many tolerances looks for a split into two pieces that fit,
// among this many points (all of them on shorter spans): the worst point is often near an end,
// and splitting there leaves a long rest that needs two more.
constexpr double kTwoPieceErrorTolerances = 16.0;
constexpr std::size_t kSplitCandidates = 16;
// Segments longer than this many tolerances get points along them before fitting, so that the
// least squares hold the curve to the polyline between its points too (a sparse simplified chain
// has long straight runs), and a piece over one segment stays near it.
constexpr double kDenseSpacingTolerances = 2.0;
// ... but no more than this many on one segment: time and memory stay linear in the chain.
constexpr double kMaxAddedPerSegment = 32.0;

// The chain with points along its long segments, and where each of its own points went.
std::pair<Polyline, std::vector<std::size_t>> densified(const Polyline& points, double tolerance) {
  Polyline out{points.front()};
  std::vector<std::size_t> index{0};
  for (std::size_t k = 1; k < points.size(); ++k) {
    const Point& a = points[k - 1];
    const Point& b = points[k];
    const double pieces =
        std::min(std::ceil(dist(a, b) / (kDenseSpacingTolerances * tolerance)),
                 kMaxAddedPerSegment + 1.0);
    if (pieces > 1.0) {  // NaN too, from coordinates whose differences overflow
      const auto n = static_cast<std::size_t>(pieces);
      for (std::size_t j = 1; j < n; ++j) {
        out.push_back(a + (static_cast<double>(j) / pieces) * (b - a));
      }
    }
    index.push_back(out.size());
    out.push_back(b);
  }
  return {std::move(out), std::move(index)};
}

// Vertices no smooth curve can round within the tolerance without a piece of its own: the arc
// tangent to both legs at their middles passes the vertex at half the shorter leg x tan(turn / 4)
// off. Such a vertex of a sparse chain is a corner; a smooth chain sampled densely has none.
std::vector<std::size_t> unroundable(const Polyline& points, double tolerance) {
  const std::size_t n = points.size();
  const bool closed = n >= 3 && points.front() == points.back();
  std::vector<std::size_t> out;
  for (std::size_t v = closed ? 0 : 1; v + 1 < n; ++v) {
    const Point& before = points[v == 0 ? n - 2 : v - 1];
    const Point& after = points[v + 1];
    const Point in = points[v] - before;
    const Point out_leg = after - points[v];
    const double turn = std::atan2(std::abs(cross(in, out_leg)), dot(in, out_leg));
    if (0.5 * std::min(norm(in), norm(out_leg)) * std::tan(0.25 * turn) > tolerance) {
      out.push_back(v);
    }
  }
  return out;
}

// The chain as fitted: `own` holds the indices of the chain's own points among the dense ones.
Chain make_chain(const Polyline& points, const std::vector<std::size_t>& own, double tolerance) {
  Chain c;
  c.n = points.size();
  c.closed = c.n >= 3 && points.front() == points.back();
  const std::size_t laps = c.closed ? 3 : 1;
  c.p = points;
  c.p.reserve(laps * c.n);
  for (std::size_t lap = 1; lap < laps; ++lap) {
    c.p.insert(c.p.end(), points.begin() + 1, points.end());
  }
  c.s.assign(c.p.size(), 0.0);
  for (std::size_t k = 1; k < c.p.size(); ++k) c.s[k] = c.s[k - 1] + dist(c.p[k - 1], c.p[k]);
  c.laps_offset = c.closed ? c.n - 1 : 0;
  std::vector<char> is_own(c.p.size(), 0);
  for (std::size_t lap = 0; lap < laps; ++lap) {
    for (const std::size_t k : own) is_own[lap * (c.n - 1) + k] = 1;
  }
  c.prev_own.resize(c.p.size());
  c.next_own.resize(c.p.size());
  for (std::size_t k = 0; k < c.p.size(); ++k) {
    c.prev_own[k] = is_own[k] || k == 0 ? k : c.prev_own[k - 1];
  }
  for (std::size_t k = c.p.size(); k-- > 0;) {
    c.next_own[k] = is_own[k] || k + 1 == c.p.size() ? k : c.next_own[k + 1];
  }
  straight_runs(c, tolerance);
  c.reach = kReachTolerances * tolerance;
  if (c.closed) c.reach = std::min(c.reach, kLoopReachFraction * c.s[c.n - 1]);
  return c;
}

// Directions look at the chain's own vertices (or at lo and hi), not at the points added along
// its segments, which would turn the tangent at a vertex towards the chords.

// The farthest own vertex before k, down to lo, within arc r of k; else the nearest before k.
std::size_t back_vertex(const Chain& c, std::size_t k, std::size_t lo, double r) {
  if (lo >= k || k >= c.p.size()) throw InternalError("internal error: no vertex before a point");
  const auto first = c.s.begin() + static_cast<std::ptrdiff_t>(lo);
  const auto last = c.s.begin() + static_cast<std::ptrdiff_t>(k);
  const auto j = static_cast<std::size_t>(std::lower_bound(first, last, c.s[k] - r) - c.s.begin());
  if (j < k && c.next_own[j] < k) return c.next_own[j];
  return std::max(c.prev_own[k - 1], lo);
}

// The farthest own vertex after k, up to hi, within arc r of k; else the nearest after k.
std::size_t forward_vertex(const Chain& c, std::size_t k, std::size_t hi, double r) {
  if (k >= hi || hi >= c.p.size()) throw InternalError("internal error: no vertex after a point");
  const auto first = c.s.begin() + static_cast<std::ptrdiff_t>(k + 1);
  const auto last = c.s.begin() + static_cast<std::ptrdiff_t>(hi + 1);
  const auto j = static_cast<std::size_t>(std::upper_bound(first, last, c.s[k] + r) - c.s.begin());
  if (j > k + 1 && c.prev_own[j - 1] > k) return c.prev_own[j - 1];
  return std::min(c.next_own[k + 1], hi);
}

// Tangent at k through the vertices a reach before and after it, weighted as the parabola through
// the three points, so that uneven spacing does not tilt it; {0, 0} where the chain doubles back.
Point through_tangent(const Chain& c, std::size_t k, std::size_t lo, std::size_t hi) {
  const double r = std::min({c.reach, c.s[k] - c.s[lo], c.s[hi] - c.s[k]});
  const Point& before = c.p[back_vertex(c, k, lo, r)];
  const Point& after = c.p[forward_vertex(c, k, hi, r)];
  const Point& p = c.p[k];
  const Point t = unit(dist(p, after) * unit(p - before) + dist(before, p) * unit(after - p));
  return t == Point{} ? unit(after - before) : t;
}

// Angle between the directions into and out of a chain vertex over the reach, wrapping round a
// closed chain; 0 at the ends of an open one.
double turn_at(const Chain& c, std::size_t vertex) {
  if (!c.closed && (vertex == 0 || vertex + 1 >= c.n)) return 0.0;
  const std::size_t k = c.laps_offset + vertex;
  const Point& p = c.p[k];
  const Point in = unit(p - c.p[back_vertex(c, k, 0, c.reach)]);
  const Point out = unit(c.p[forward_vertex(c, k, c.p.size() - 1, c.reach)] - p);
  if (in == Point{} || out == Point{}) return 0.0;
  return std::atan2(std::abs(cross(in, out)), dot(in, out));
}

// Corner vertices in increasing order: the forced ones, then the sharpest turns first, each
// keeping the vertices within a reach of it (round the seam of a closed chain) from being corners
// too, since a corner blurred over a few vertices turns sharply at each of them.
std::vector<std::size_t> find_corners(const Chain& c, const std::vector<std::size_t>& forced) {
  const std::size_t vertices = c.closed ? c.n - 1 : c.n;
  std::vector<std::pair<double, std::size_t>> candidates;
  for (std::size_t v = 0; v < vertices; ++v) {
    const double turn = turn_at(c, v);
    if (turn > kCornerDegrees * kPi / 180.0) candidates.emplace_back(-turn, v);
  }
  std::sort(candidates.begin(), candidates.end());
  const double lap = c.s[c.n - 1];
  const auto apart = [&](std::size_t a, std::size_t b) {
    const double gap = std::abs(c.s[a] - c.s[b]);
    return (c.closed ? std::min(gap, lap - gap) : gap) > c.reach;
  };
  std::set<std::size_t> corners(forced.begin(), forced.end());
  for (const auto& [turn, v] : candidates) {
    const auto next = corners.lower_bound(v);
    // Past the last corner the next one round a closed chain is the first, and the other way.
    const bool clear_after =
        next != corners.end() ? apart(v, *next) : corners.empty() || apart(v, *corners.begin());
    const bool clear_before = next != corners.begin()
                                  ? apart(v, *std::prev(next))
                                  : corners.empty() || apart(v, *corners.rbegin());
    if (clear_after && clear_before) corners.insert(v);
  }
  return {corners.begin(), corners.end()};
}

// Free end tangents: towards the farthest vertex within a reach and half the span.
Point end_estimate(const Chain& c, std::size_t first, std::size_t last, bool at_last) {
  const double r = std::min(c.reach, 0.5 * (c.s[last] - c.s[first]));
  const std::size_t k = at_last ? last : first;
  const std::size_t j =
      at_last ? back_vertex(c, last, first, r) : forward_vertex(c, first, last, r);
  return unit(c.p[j] - c.p[k]);
}


// Spans between corners (and the chain ends); the seam of a closed chain that is no corner gets
// one tangent through it.
std::vector<Span> corner_spans(const Chain& c, const std::vector<std::size_t>& forced) {
  const std::vector<std::size_t> corners = find_corners(c, forced);
  std::vector<std::size_t> cuts{0};
  for (const std::size_t v : corners) {
    if (v != 0) cuts.push_back(v);
  }
  cuts.push_back(c.n - 1);
  std::vector<Span> spans;
  for (std::size_t k = 0; k + 1 < cuts.size(); ++k) {
    Span sp{cuts[k], cuts[k + 1], {}, {}};
    sp.start.tangent = end_estimate(c, sp.first, sp.last, false);
    sp.end.tangent = end_estimate(c, sp.first, sp.last, true);
    spans.push_back(sp);
  }
  const bool seam_corner = !corners.empty() && corners.front() == 0;
  if (c.closed && !seam_corner) {
    const Point t = through_tangent(c, c.laps_offset, 0, c.p.size() - 1);
    if (t != Point{}) {
      spans.front().start = {t, true};
      spans.back().end = {-1.0 * t, true};
    }
  }
  return spans;
}

// The two halves of a span split at w, sharing the tangent through w (or meeting as at a corner
// where the chain doubles back at w and there is none).
std::pair<Span, Span> split_at(const Chain& c, const Span& sp, std::size_t w) {
  if (w <= sp.first || w >= sp.last) throw InternalError("internal error: split at a span end");
  const Point t = through_tangent(c, w, sp.first, sp.last);
  const End left_end =
      t == Point{} ? End{end_estimate(c, sp.first, w, true), false} : End{-1.0 * t, true};
  const End right_start =
      t == Point{} ? End{end_estimate(c, w, sp.last, false), false} : End{t, true};
  return {{sp.first, w, sp.start, left_end}, {w, sp.last, right_start, sp.end}};
}

// The chain's own vertex inside the span nearest to w, or w itself where the span holds none:
// pieces then meet on the chain's points, where the tangents are read best.
std::size_t own_split(const Chain& c, const Span& sp, std::size_t w) {
  const std::size_t before = c.prev_own[w];
  const std::size_t after = c.next_own[w];
  const bool has_before = before > sp.first;
  const bool has_after = after < sp.last;
  if (has_before && has_after) return c.s[w] - c.s[before] <= c.s[after] - c.s[w] ? before : after;
  if (has_before) return before;
  if (has_after) return after;
  return w;
}

// The split of a span into two pieces within the tolerance that leaves the most room, among
// kSplitCandidates points spread over the span and its worst point; nullopt when none fits.
std::optional<std::pair<Fit, Fit>> split_in_two(const Chain& c, const Span& sp,
                                                std::size_t worst, double tolerance) {
  const std::size_t inner = sp.last - sp.first - 1;
  std::vector<std::size_t> candidates;
  if (inner <= kSplitCandidates) {
    for (std::size_t w = sp.first + 1; w < sp.last; ++w) candidates.push_back(w);
  } else {
    for (std::size_t j = 0; j < kSplitCandidates; ++j) {
      const std::size_t w = sp.first + 1 + j * (inner - 1) / (kSplitCandidates - 1);
      candidates.push_back(own_split(c, sp, w));
    }
    candidates.push_back(own_split(c, sp, worst));
    std::sort(candidates.begin(), candidates.end());
    candidates.erase(std::unique(candidates.begin(), candidates.end()), candidates.end());
  }
  std::optional<std::pair<Fit, Fit>> best;
  double room = tolerance;
  for (const std::size_t w : candidates) {
    const auto [left, right] = split_at(c, sp, w);
    const Fit a = best_fit(c, left, tolerance);
    if (!(a.error <= room)) continue;  // NaN too, from coordinates whose differences overflow
    const Fit b = best_fit(c, right, tolerance);
    if (!(b.error <= room)) continue;
    room = std::max(a.error, b.error);
    best = {a, b};
  }
  return best;
}

// Fits each span, splitting at its worst point until every piece is within the tolerance, but
// in two at once where two pieces do. A work stack instead of recursion: every split shortens a
// span, and two points always fit.
void fit_spans(const Chain& c, const std::vector<Span>& spans, double tolerance,
               std::vector<CubicPiece>& out, const CancelCheck& cancelled) {
  std::vector<Span> stack(spans.rbegin(), spans.rend());
  while (!stack.empty()) {
    throw_if_cancelled(cancelled);
    const Span sp = stack.back();
    stack.pop_back();
    const Fit fit = best_fit(c, sp, tolerance);
    if (fit.error <= tolerance) {
      out.push_back(fit.piece);
      continue;
    }
    if (fit.error <= kTwoPieceErrorTolerances * tolerance) {
      if (const auto two = split_in_two(c, sp, fit.worst, tolerance)) {
        out.push_back(two->first.piece);
        out.push_back(two->second.piece);
        continue;
      }
    }
    const auto [left, right] = split_at(c, sp, own_split(c, sp, fit.worst));
    stack.push_back(right);
    stack.push_back(left);
  }
}

}  // namespace

std::vector<CubicPiece> fit_curves(const Polyline& chain, double tolerance,
                                   const CancelCheck& cancelled) {
  if (!(tolerance > 0.0) || !std::isfinite(tolerance)) {
    throw InputError("tolerance must be a positive finite number, got " + number_text(tolerance));
  }
  Polyline points;
  points.reserve(chain.size());
  for (std::size_t k = 0; k < chain.size(); ++k) {
    if (!is_finite(chain[k])) throw_not_finite(chain[k], "chain point " + std::to_string(k));
    if (points.empty() || chain[k] != points.back()) points.push_back(chain[k]);
  }
  if (points.size() < 2) return {};
  if (points.size() == 2) return {straight_piece(points[0], points[1])};
  auto [dense, index] = densified(points, tolerance);
  std::vector<std::size_t> forced;
  for (const std::size_t v : unroundable(points, tolerance)) forced.push_back(index[v]);
  const Chain c = make_chain(dense, index, tolerance);
  std::vector<CubicPiece> out;
  fit_spans(c, corner_spans(c, forced), tolerance, out, cancelled);
  return out;
}

}  // namespace linetopo
