// Stitching the tiles' core pieces into one result: cut ends paired across borders, the pieces
// made one graph, stubs left by the cuts dropped, and the graph cut into chains again.
#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <map>
#include <string>
#include <tuple>
#include <unordered_map>

#include "geometry/keys.hpp"
#include "graph/graph.hpp"
#include "tiles/tiles.hpp"

namespace linetopo {
namespace {

struct PointKey {
  std::uint64_t x = 0;
  std::uint64_t y = 0;
  friend bool operator==(const PointKey&, const PointKey&) = default;
};

struct PointKeyHash {
  std::size_t operator()(const PointKey& k) const noexcept {
    return std::hash<std::uint64_t>()(k.x * 0x9e3779b97f4a7c15ULL ^ k.y);
  }
};

PointKey key_of(const Point& p) {
  return {std::bit_cast<std::uint64_t>(p.x), std::bit_cast<std::uint64_t>(p.y)};
}

// A cut end of a piece, on a border line: axis 0 is the vertical line x = origin + line * size.
struct CutEnd {
  std::size_t piece = 0;
  bool at_end = false;
  int side = 0;        // 0: the piece lies before the line, 1: after it
  double along = 0.0;  // the coordinate along the line
};

// Pairs the cut ends on each border line across it, nearest first, and moves both ends of a pair
// to their midpoint; returns the cut ends left unpaired.
std::vector<Point> pair_cut_ends(std::vector<CorePiece>& pieces, const TileGrid& grid,
                                 double tolerance) {
  const auto line_of = [&](double v, double origin) -> std::optional<std::int64_t> {
    const double k = std::round((v - origin) / grid.size);
    if (!std::isfinite(k) || origin + k * grid.size != v) return std::nullopt;
    return static_cast<std::int64_t>(k);
  };
  // Cut ends by border line: (axis, line index); ordered, so that nothing depends on hashing.
  std::map<std::pair<int, std::int64_t>, std::vector<CutEnd>> lines;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    const CorePiece& piece = pieces[i];
    for (const bool at_end : {false, true}) {
      if (!(at_end ? piece.end_cut : piece.start_cut)) continue;
      const Point& p = at_end ? piece.points.back() : piece.points.front();
      const Point& next = at_end ? piece.points[piece.points.size() - 2] : piece.points[1];
      if (const auto k = line_of(p.x, grid.origin_x); k && next.x != p.x) {
        lines[{0, *k}].push_back({i, at_end, next.x > p.x ? 1 : 0, p.y});
      } else if (const auto k2 = line_of(p.y, grid.origin_y); k2 && next.y != p.y) {
        lines[{1, *k2}].push_back({i, at_end, next.y > p.y ? 1 : 0, p.x});
      }
    }
  }
  const auto point_of = [&](const CutEnd& c) -> Point& {
    return c.at_end ? pieces[c.piece].points.back() : pieces[c.piece].points.front();
  };
  const auto width_of = [&](const CutEnd& c) -> double* {
    std::vector<double>& w = pieces[c.piece].widths;
    if (w.empty()) return nullptr;
    return c.at_end ? &w.back() : &w.front();
  };
  std::vector<Point> loose;
  for (auto& [line, ends] : lines) {
    std::stable_sort(ends.begin(), ends.end(),
                     [](const CutEnd& a, const CutEnd& b) { return a.along < b.along; });
    std::vector<std::tuple<double, std::size_t, std::size_t>> pairs;
    for (std::size_t a = 0; a < ends.size(); ++a) {
      for (std::size_t b = a + 1; b < ends.size() && ends[b].along - ends[a].along <= tolerance;
           ++b) {
        if (ends[a].side != ends[b].side) pairs.emplace_back(ends[b].along - ends[a].along, a, b);
      }
    }
    std::sort(pairs.begin(), pairs.end());
    std::vector<char> paired(ends.size(), 0);
    for (const auto& [gap, a, b] : pairs) {
      if (paired[a] || paired[b]) continue;
      paired[a] = paired[b] = 1;
      Point& pa = point_of(ends[a]);
      Point& pb = point_of(ends[b]);
      pa = pb = Point{(pa.x + pb.x) * 0.5, (pa.y + pb.y) * 0.5};
      double* wa = width_of(ends[a]);
      double* wb = width_of(ends[b]);
      if (wa && wb) *wa = *wb = (*wa + *wb) * 0.5;
    }
    for (std::size_t a = 0; a < ends.size(); ++a) {
      if (!paired[a]) loose.push_back(point_of(ends[a]));
    }
  }
  return loose;
}

// The pieces as a graph whose nodes are their distinct points: points of one tile that meet are
// equal to the bit, and paired cut ends were made equal.
Graph exact_graph(const std::vector<CorePiece>& pieces) {
  Graph graph;
  std::unordered_map<PointKey, std::size_t, PointKeyHash> node_at;  // looked up only
  FlatSet<IndexPair> seen;                                          // looked up only
  const auto node = [&](const Point& p) {
    const auto [it, inserted] = node_at.try_emplace(key_of(p), graph.nodes.size());
    if (inserted) graph.nodes.push_back(p);
    return it->second;
  };
  for (const CorePiece& piece : pieces) {
    for (std::size_t k = 0; k + 1 < piece.points.size(); ++k) {
      const std::size_t a = node(piece.points[k]);
      const std::size_t b = node(piece.points[k + 1]);
      if (a == b) continue;
      const IndexPair e = index_pair(a, b);
      if (seen.insert(e)) graph.edges.emplace_back(a, b);
    }
  }
  return graph;
}

// Drops the path from each loose point of degree 1 to the next node of another degree than 2
// when it is not longer than max_length.
Graph drop_stubs(const Graph& graph, const std::vector<Point>& loose, double max_length) {
  std::unordered_map<PointKey, std::size_t, PointKeyHash> node_at;  // looked up only
  for (std::size_t v = 0; v < graph.nodes.size(); ++v) node_at.emplace(key_of(graph.nodes[v]), v);
  std::vector<std::vector<std::size_t>> incident(graph.nodes.size());
  for (std::size_t e = 0; e < graph.edges.size(); ++e) {
    incident[check_index(graph.edges[e].first, graph.nodes.size(), "stitch node")].push_back(e);
    incident[check_index(graph.edges[e].second, graph.nodes.size(), "stitch node")].push_back(e);
  }
  std::vector<char> dead(graph.edges.size(), 0);
  std::vector<std::size_t> walk;
  for (const Point& p : loose) {
    const auto it = node_at.find(key_of(p));
    if (it == node_at.end() || incident[it->second].size() != 1) continue;
    walk.clear();
    double length = 0.0;
    std::size_t cur = it->second;
    std::size_t via = incident[cur].front();
    while (walk.size() <= graph.edges.size()) {
      walk.push_back(via);
      const auto [a, b] = graph.edges[via];
      const std::size_t next = a == cur ? b : a;
      length += dist(graph.nodes[cur], graph.nodes[next]);
      if (incident[next].size() != 2) break;
      via = incident[next][0] == via ? incident[next][1] : incident[next][0];
      cur = next;
    }
    if (length <= max_length) {
      for (const std::size_t e : walk) dead[e] = 1;
    }
  }
  Graph out;
  out.nodes = graph.nodes;
  for (std::size_t e = 0; e < graph.edges.size(); ++e) {
    if (!dead[e]) out.edges.push_back(graph.edges[e]);
  }
  return out;
}

}  // namespace

TopologyResult stitch_pieces(std::vector<CorePiece> pieces, const TileGrid& grid,
                             double tolerance) {
  const std::vector<Point> loose = pair_cut_ends(pieces, grid, tolerance);
  bool with_widths = false;
  std::unordered_map<PointKey, double, PointKeyHash> width_at;  // looked up only
  for (const CorePiece& piece : pieces) {
    with_widths = with_widths || !piece.widths.empty();
    for (std::size_t k = 0; k < piece.widths.size() && k < piece.points.size(); ++k) {
      width_at.emplace(key_of(piece.points[k]), piece.widths[k]);
    }
  }
  Graph graph = drop_stubs(exact_graph(pieces), loose, 2.0 * tolerance);
  graph = merge_close_junctions(graph, tolerance);
  const std::vector<Chain> chains = extract_chains(graph);

  TopologyResult out;
  NodeNumbering output_node(out.nodes, 2 * chains.size());
  for (const Chain& chain : chains) {
    if (chain.points.size() < 2) throw InternalError("internal error: stitched chain too short");
    out.chain_node_ids.emplace_back(output_node(chain.start, chain.points.front()),
                                    output_node(chain.end, chain.points.back()));
    if (with_widths) {
      // A merged junction moved off every tile's point: it takes its neighbour's width.
      std::vector<double> w(chain.points.size(), std::numeric_limits<double>::quiet_NaN());
      for (std::size_t k = 0; k < w.size(); ++k) {
        const auto it = width_at.find(key_of(chain.points[k]));
        if (it != width_at.end()) w[k] = it->second;
      }
      for (std::size_t k = 1; k < w.size(); ++k) {
        if (std::isnan(w[k])) w[k] = w[k - 1];
      }
      for (std::size_t k = w.size() - 1; k-- > 0;) {
        if (std::isnan(w[k])) w[k] = w[k + 1];
      }
      if (std::isnan(w.front())) {
        // Every point moved with merged junctions: the nearest tile point's width.
        double best = std::numeric_limits<double>::infinity();
        double nearest = std::numeric_limits<double>::quiet_NaN();
        for (const CorePiece& piece : pieces) {
          for (std::size_t k = 0; k < piece.widths.size() && k < piece.points.size(); ++k) {
            const double d = dist2(piece.points[k], chain.points.front());
            if (d < best) {
              best = d;
              nearest = piece.widths[k];
            }
          }
        }
        std::fill(w.begin(), w.end(), nearest);
      }
      out.widths.push_back(std::move(w));
    }
    out.chains.push_back(chain.points);
  }
  return out;
}

}  // namespace linetopo
