// Measures the chain end directions, pairs the ends at every node and walks the pairs into
// strokes.
#include "strokes/strokes.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <span>
#include <string>

#include "strokes/junction_pairing.hpp"

namespace linetopo {
namespace {

using strokes_detail::has_direction;
using strokes_detail::JunctionPairing;
constexpr std::size_t kNone = strokes_detail::kNoPartner;
// A loop's ends are measured over at most this fraction of its length, so that they look at two
// different points: a quarter of the way round from either side.
constexpr double kLoopReachFraction = 0.25;

// Chain ends are numbered 2 * chain for the first point and 2 * chain + 1 for the last, so that
// e ^ 1 is the other end of the same chain and end numbers order by chain, first point first.
std::size_t end_of(std::size_t chain, bool last) { return 2 * chain + (last ? 1 : 0); }

void check_point(const Point& p, const std::string& what) {
  if (!is_finite(p)) throw_not_finite(p, what);
}

void validate(const std::vector<Polyline>& chains, const std::vector<Point>& nodes,
              const std::vector<std::pair<std::size_t, std::size_t>>& ids,
              const StrokeSettings& settings) {
  const double turn = settings.max_turn_degrees;
  if (!(turn >= 0.0 && turn <= 180.0)) {
    throw InputError("max_turn must be a number of degrees from 0 to 180, got " +
                     number_text(turn));
  }
  if (settings.tangent_reach) {
    const double reach = *settings.tangent_reach;
    if (!(reach > 0.0) || !std::isfinite(reach)) {
      throw InputError("tangent_reach must be a positive finite number, got " + number_text(reach));
    }
  }
  if (ids.size() != chains.size()) {
    throw InputError("chain_node_ids has " + std::to_string(ids.size()) +
                     " entries but chains has " + std::to_string(chains.size()) +
                     "; there must be one (start, end) per chain");
  }
  for (std::size_t v = 0; v < nodes.size(); ++v) {
    check_point(nodes[v], "nodes[" + std::to_string(v) + "]");
  }
  for (std::size_t i = 0; i < chains.size(); ++i) {
    const std::string name = "chains[" + std::to_string(i) + "]";
    if (chains[i].size() < 2) {
      throw InputError(name + " has " + std::to_string(chains[i].size()) +
                       " point(s); every chain needs at least 2");
    }
    for (std::size_t k = 0; k < chains[i].size(); ++k) {
      check_point(chains[i][k], name + "[" + std::to_string(k) + "]");
    }
    for (const std::size_t v : {ids[i].first, ids[i].second}) {
      if (v >= nodes.size()) {
        throw InputError("chain_node_ids[" + std::to_string(i) + "] refers to node " +
                         std::to_string(v) + ", but nodes has " + std::to_string(nodes.size()) +
                         " entries");
      }
    }
  }
}

double segment_length(const Point& a, const Point& b) { return std::hypot(b.x - a.x, b.y - a.y); }

// Sums lengths smallest first: the same total for any order of the same lengths, so that no reach
// depends on the order or the direction in which the chains come.
double sorted_sum(std::vector<double>& lengths) {
  std::sort(lengths.begin(), lengths.end());
  double total = 0.0;
  for (const double l : lengths) total += l;
  return total;
}

double chain_length(const Polyline& points) {
  std::vector<double> lengths;
  lengths.reserve(points.size());
  for (std::size_t k = 1; k < points.size(); ++k) {
    lengths.push_back(segment_length(points[k - 1], points[k]));
  }
  return sorted_sum(lengths);
}

// kDefaultReachSegments mean segment lengths, leaving out repeated points; infinite (every end
// measured to its far end) when no segment has a length.
double default_reach(const std::vector<Polyline>& chains) {
  std::vector<double> lengths;
  for (const Polyline& chain : chains) {
    for (std::size_t k = 1; k < chain.size(); ++k) {
      const double len = segment_length(chain[k - 1], chain[k]);
      if (len > kLengthEpsilon) lengths.push_back(len);
    }
  }
  if (lengths.empty()) return std::numeric_limits<double>::infinity();
  const double reach = kDefaultReachSegments * (sorted_sum(lengths) / static_cast<double>(lengths.size()));
  return reach > 0.0 ? reach : std::numeric_limits<double>::infinity();
}

Point unit(const Point& d) {
  const double norm = std::hypot(d.x, d.y);
  if (!(norm > kLengthEpsilon) || !std::isfinite(norm)) return {0.0, 0.0};
  return {d.x / norm, d.y / norm};
}

// Unit direction from the chain's first point (its last when from_last) to the first point off
// it; {0, 0} when there is none.
Point first_step(const Polyline& points, bool from_last) {
  const std::size_t n = points.size();
  const Point& e = points[from_last ? n - 1 : 0];
  for (std::size_t k = 1; k < n; ++k) {
    const Point& p = points[from_last ? n - 1 - k : k];
    const Point d = unit({p.x - e.x, p.y - e.y});
    if (has_direction(d)) return d;
  }
  return {0.0, 0.0};
}

// Unit direction from the chain's first point (its last when from_last) towards the point at arc
// length `reach`, or its far end; first_step when that point lies on the end point.
Point reach_direction(const Polyline& points, bool from_last, double reach) {
  const std::size_t n = points.size();
  const auto at = [&](std::size_t k) -> const Point& { return points[from_last ? n - 1 - k : k]; };
  const Point& e = at(0);
  Point d{at(n - 1).x - e.x, at(n - 1).y - e.y};
  double walked = 0.0;
  for (std::size_t k = 1; k < n; ++k) {
    const Point& a = at(k - 1);
    const Point& b = at(k);
    const double len = segment_length(a, b);
    if (len > kLengthEpsilon && walked + len >= reach) {
      const double t = std::clamp((reach - walked) / len, 0.0, 1.0);
      d = {(a.x - e.x) + t * (b.x - a.x), (a.y - e.y) + t * (b.y - a.y)};
      break;
    }
    walked += len;
  }
  const Point u = unit(d);
  return has_direction(u) ? u : first_step(points, from_last);
}

// partner[e] is the end joined to end e, or kNone where a stroke ends.
std::vector<std::size_t> pair_ends(const std::vector<Polyline>& chains, std::size_t node_count,
                                   const std::vector<std::pair<std::size_t, std::size_t>>& ids,
                                   const StrokeSettings& settings) {
  const std::size_t end_count = 2 * chains.size();
  // Ends grouped by node (a counting sort), each group in increasing end number.
  std::vector<std::size_t> first(node_count + 1, 0);
  for (const auto& [a, b] : ids) ++first[a + 1], ++first[b + 1];
  for (std::size_t v = 0; v < node_count; ++v) first[v + 1] += first[v];
  std::vector<std::size_t> fill(first.begin(), first.end() - 1);
  std::vector<std::size_t> by_node(end_count);
  for (std::size_t c = 0; c < chains.size(); ++c) {
    by_node[check_index(fill[ids[c].first]++, end_count, "stroke end")] = end_of(c, false);
    by_node[check_index(fill[ids[c].second]++, end_count, "stroke end")] = end_of(c, true);
  }

  const double reach = settings.tangent_reach ? *settings.tangent_reach : default_reach(chains);
  // Measured over the reach, and over the first step for ties: two short chains to the same far
  // node head for the same point, but seldom leave the node alike.
  std::vector<Point> direction(end_count), step(end_count);
  for (std::size_t c = 0; c < chains.size(); ++c) {
    const Polyline& pts = chains[c];
    // A loop's far end is its own start, and its half-way point is the same seen from both ends.
    const double r =
        pts.front() == pts.back() ? std::min(reach, kLoopReachFraction * chain_length(pts)) : reach;
    for (const bool last : {false, true}) {
      direction[end_of(c, last)] = reach_direction(pts, last, r);
      step[end_of(c, last)] = first_step(pts, last);
    }
  }

  std::vector<std::size_t> partner(end_count, kNone);
  const auto join = [&](std::size_t a, std::size_t b) {
    partner[check_index(a, end_count, "stroke end")] = b;
    partner[check_index(b, end_count, "stroke end")] = a;
  };
  JunctionPairing junction(direction, step, settings.max_turn_degrees, partner);
  for (std::size_t v = 0; v < node_count; ++v) {
    const std::size_t lo = first[v];
    const std::size_t degree = first[v + 1] - lo;
    if (degree == 2) join(by_node[lo], by_node[lo + 1]);
    if (degree >= 3) junction.pair(std::span(by_node).subspan(lo, degree));
  }
  return partner;
}

bool point_less(const Point& a, const Point& b) { return a.x < b.x || (a.x == b.x && a.y < b.y); }

// -1 when the points read smaller forwards, 1 when backwards, 0 when both read the same.
int compare_with_reverse(const Polyline& points) {
  for (std::size_t i = 0, j = points.size() - 1; i < j; ++i, --j) {
    if (point_less(points[i], points[j])) return -1;
    if (point_less(points[j], points[i])) return 1;
  }
  return 0;
}

Polyline join_points(const std::vector<Polyline>& chains, const std::vector<StrokeChain>& walk) {
  std::size_t total = 1;
  for (const StrokeChain& s : walk) total += chains[s.chain].size() - 1;
  Polyline points;
  points.reserve(total);
  for (const StrokeChain& s : walk) {
    const Polyline& pts = chains[s.chain];
    // The joint point is already there, as the previous chain's last point.
    const std::size_t skip = points.empty() ? 0 : 1;
    if (s.reversed) {
      points.insert(points.end(), pts.rbegin() + static_cast<std::ptrdiff_t>(skip), pts.rend());
    } else {
      points.insert(points.end(), pts.begin() + static_cast<std::ptrdiff_t>(skip), pts.end());
    }
  }
  return points;
}

}  // namespace

Strokes build_strokes(const std::vector<Polyline>& chains, const std::vector<Point>& nodes,
                      const std::vector<std::pair<std::size_t, std::size_t>>& chain_node_ids,
                      const StrokeSettings& settings) {
  validate(chains, nodes, chain_node_ids, settings);
  const std::vector<std::size_t> partner =
      pair_ends(chains, nodes.size(), chain_node_ids, settings);
  const std::size_t end_count = partner.size();
  const auto joined = [&](std::size_t e) {
    return partner[check_index(e, end_count, "stroke end")];
  };

  // A walk enters each chain at one end and leaves it at the other (e ^ 1); the pairs make the
  // chains into disjoint paths and cycles, so every walk is at most chains.size() long.
  Strokes out;
  std::vector<char> taken(chains.size(), 0);
  for (std::size_t c = 0; c < chains.size(); ++c) {
    if (taken[c]) continue;
    // Back from c's first point to where the stroke begins; c is its lowest chain, since every
    // lower one is already taken.
    const std::size_t entry_c = end_of(c, false);
    std::size_t entry = entry_c;
    bool closed = false;
    for (std::size_t steps = 0;; ++steps) {
      if (steps > chains.size()) throw InternalError("internal error: stroke walk does not end");
      const std::size_t previous_exit = joined(entry);
      if (previous_exit == kNone) break;
      entry = previous_exit ^ 1;
      if (entry == entry_c) {
        closed = true;
        break;
      }
    }
    const std::size_t start = entry;
    std::vector<StrokeChain> walk;
    for (;;) {
      const std::size_t chain = check_index(entry / 2, chains.size(), "stroke chain");
      if (taken[chain]) throw InternalError("internal error: chain walked into two strokes");
      taken[chain] = 1;
      walk.push_back({chain, (entry & 1) != 0});
      const std::size_t next = joined(entry ^ 1);
      if (next == kNone || next == start) break;
      entry = next;
    }
    Polyline points = join_points(chains, walk);
    // The walk has c forwards, which settles a stroke that reads the same both ways.
    if (!closed && compare_with_reverse(points) > 0) {
      std::reverse(points.begin(), points.end());
      std::reverse(walk.begin(), walk.end());
      for (StrokeChain& s : walk) s.reversed = !s.reversed;
    }
    out.strokes.push_back(std::move(points));
    out.stroke_chains.push_back(std::move(walk));
  }
  return out;
}

}  // namespace linetopo
