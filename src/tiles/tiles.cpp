// Splitting curves into tiles, clipping each tile's chains to its core, and stitching the pieces.
#include "tiles/tiles.hpp"

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

namespace linetopo {
namespace {

// The parameter range [t0, t1] of the segment p -> q inside the closed box, if any.
std::optional<std::pair<double, double>> clip_segment(const Point& p, const Point& q,
                                                      const Box& b) {
  double t0 = 0.0;
  double t1 = 1.0;
  // Keeps the part where den * t <= num.
  const auto keep = [&](double num, double den) {
    if (den == 0.0) return num >= 0.0;
    const double t = num / den;
    if (den > 0.0) {
      t1 = std::min(t1, t);
    } else {
      t0 = std::max(t0, t);
    }
    return t0 <= t1;
  };
  const double dx = q.x - p.x;
  const double dy = q.y - p.y;
  if (keep(p.x - b.x0, -dx) && keep(b.x1 - p.x, dx) && keep(p.y - b.y0, -dy) &&
      keep(b.y1 - p.y, dy)) {
    return std::make_pair(t0, t1);
  }
  return std::nullopt;
}

// The point at t, or for a cut (0 < t < 1) the point put exactly on the nearest border, so that
// later stages can tell which border it crossed.
Point at(const Point& p, const Point& q, double t, const Box& b) {
  if (t <= 0.0) return p;
  if (t >= 1.0) return q;
  Point r{p.x + (q.x - p.x) * t, p.y + (q.y - p.y) * t};
  r.x = std::clamp(r.x, b.x0, b.x1);
  r.y = std::clamp(r.y, b.y0, b.y1);
  const double gaps[] = {r.x - b.x0, b.x1 - r.x, r.y - b.y0, b.y1 - r.y};
  switch (std::min_element(std::begin(gaps), std::end(gaps)) - std::begin(gaps)) {
    case 0:
      r.x = b.x0;
      break;
    case 1:
      r.x = b.x1;
      break;
    case 2:
      r.y = b.y0;
      break;
    default:
      r.y = b.y1;
      break;
  }
  return r;
}

Box bounds(const Polyline& curve) {
  Box b{curve[0].x, curve[0].y, curve[0].x, curve[0].y};
  for (const Point& p : curve) {
    b = {std::min(b.x0, p.x), std::min(b.y0, p.y), std::max(b.x1, p.x), std::max(b.y1, p.y)};
  }
  return b;
}

Box widened(const Box& b, double by) { return {b.x0 - by, b.y0 - by, b.x1 + by, b.y1 + by}; }

double lerp(double a, double b, double t) { return a + (b - a) * t; }

// Walks the polyline's segments through a box, calling open(point, radius, is_cut) where a part
// starts and add(point, radius, is_cut) for each further point of the part.
template <typename Open, typename Add>
void clip_polyline(const Polyline& line, const std::vector<double>* radii, const Box& box,
                   const Open& open, const Add& add) {
  bool inside = false;  // the current part reaches the start of the next segment
  for (std::size_t i = 0; i + 1 < line.size(); ++i) {
    const Point& p = line[i];
    const Point& q = line[i + 1];
    const auto range = clip_segment(p, q, box);
    if (!range) {
      inside = false;
      continue;
    }
    const auto [t0, t1] = *range;
    const double rp = radii ? (*radii)[i] : 0.0;
    const double rq = radii ? (*radii)[i + 1] : 0.0;
    if (!inside || t0 > 0.0) open(at(p, q, t0, box), lerp(rp, rq, t0), t0 > 0.0);
    add(at(p, q, t1, box), lerp(rp, rq, t1), t1 < 1.0);
    inside = t1 >= 1.0;
  }
}

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

}  // namespace

Box TileGrid::core(std::int64_t col, std::int64_t row) const {
  return {origin_x + static_cast<double>(col) * size, origin_y + static_cast<double>(row) * size,
          origin_x + static_cast<double>(col + 1) * size,
          origin_y + static_cast<double>(row + 1) * size};
}

TileGrid make_grid(const std::vector<Polyline>& curves, double tile_size) {
  if (!(tile_size > 0.0) || !std::isfinite(tile_size)) {
    throw InputError("tile_size must be a positive finite number, got " +
                     number_text(tile_size, true));
  }
  double min_x = std::numeric_limits<double>::infinity();
  double min_y = min_x;
  for (const Polyline& c : curves) {
    for (const Point& p : c) {
      if (std::isfinite(p.x)) min_x = std::min(min_x, p.x);
      if (std::isfinite(p.y)) min_y = std::min(min_y, p.y);
    }
  }
  TileGrid grid;
  grid.size = tile_size;
  if (std::isfinite(min_x)) grid.origin_x = min_x - kGridOffset * tile_size;
  if (std::isfinite(min_y)) grid.origin_y = min_y - kGridOffset * tile_size;
  return grid;
}

std::vector<TileCurves> split_into_tiles(const std::vector<Polyline>& curves,
                                         const std::optional<Widths>& widths, const TileGrid& grid,
                                         double reach, double halo, bool all_tiles) {
  // Ordered by (row, col), so that the tile order never depends on hashing.
  std::map<std::pair<std::int64_t, std::int64_t>, TileCurves> tiles;
  const auto cell = [&](double v, double origin) {
    return static_cast<std::int64_t>(std::floor((v - origin) / grid.size));
  };
  // Each curve's box widened by the halo; the tiles it spans are counted first, so that tiny
  // tiles or a vast halo fail before anything is allocated.
  std::vector<Box> reach_of(curves.size());
  double points = 0.0;
  for (const Polyline& curve : curves) points += static_cast<double>(curve.size());
  const double limit =
      std::min(static_cast<double>(kMaxTileParts),
               static_cast<double>(kMinTileParts) + static_cast<double>(kTilePartsPerPoint) * points);
  double pairs = 0.0;
  for (std::size_t i = 0; i < curves.size(); ++i) {
    const Polyline& curve = curves[i];
    if (curve.size() < 2) continue;
    reach_of[i] = widened(bounds(curve), halo);
    const Box& b = reach_of[i];
    const double cols = std::floor((b.x1 - grid.origin_x) / grid.size) -
                        std::floor((b.x0 - grid.origin_x) / grid.size) + 1.0;
    const double rows = std::floor((b.y1 - grid.origin_y) / grid.size) -
                        std::floor((b.y0 - grid.origin_y) / grid.size) + 1.0;
    pairs += cols * rows;
    if (!(pairs <= limit)) {
      throw InputError("tile_size " + number_text(grid.size) + " with a halo of " +
                       number_text(halo) + " gives the curves more than " +
                       std::to_string(static_cast<std::size_t>(limit)) + " tiles to visit (the most for " +
                       std::to_string(static_cast<std::size_t>(points)) + " input points); choose larger tiles, or smaller "
                       "min_tip_fraction and junction_merge_fraction");
    }
  }
  for (std::size_t i = 0; i < curves.size(); ++i) {
    const Polyline& curve = curves[i];
    if (curve.size() < 2) continue;
    const std::vector<double>* radii =
        widths && i < widths->size() && !(*widths)[i].empty() ? &(*widths)[i] : nullptr;
    const Box& b = reach_of[i];
    for (std::int64_t row = cell(b.y0, grid.origin_y); row <= cell(b.y1, grid.origin_y); ++row) {
      for (std::int64_t col = cell(b.x0, grid.origin_x); col <= cell(b.x1, grid.origin_x); ++col) {
        const Box core = grid.core(col, row);
        const Box box = widened(core, halo);
        const Box near = widened(core, reach);
        std::vector<Polyline> parts;
        std::vector<std::vector<double>> part_radii;
        clip_polyline(
            curve, radii, box,
            [&](const Point& p, double r, bool) {
              parts.push_back({p});
              part_radii.push_back({r});
            },
            [&](const Point& p, double r, bool) {
              parts.back().push_back(p);
              part_radii.back().push_back(r);
            });
        if (parts.empty()) continue;
        TileCurves& tile = tiles[{row, col}];
        tile.col = col;
        tile.row = row;
        for (std::size_t k = 0; k + 1 < curve.size() && !tile.reached; ++k) {
          tile.reached = clip_segment(curve[k], curve[k + 1], near).has_value();
        }
        if (widths && !tile.widths) tile.widths = Widths{};
        for (std::size_t k = 0; k < parts.size(); ++k) {
          tile.curves.push_back(std::move(parts[k]));
          if (widths)
            tile.widths->push_back(radii ? std::move(part_radii[k]) : std::vector<double>{});
        }
      }
    }
  }
  std::vector<TileCurves> out;
  out.reserve(tiles.size());
  for (auto& [key, tile] : tiles) {
    if (tile.reached || all_tiles) out.push_back(std::move(tile));
  }
  return out;
}

void clip_chains_to_core(const std::vector<Polyline>& chains, const Widths& widths, const Box& core,
                         std::vector<CorePiece>& out) {
  // Cores own their lower and left borders only, so that a chain running along a border is kept
  // by one tile, not two; a cut on the open border is put back onto the border itself.
  const double below_x1 = std::nextafter(core.x1, -std::numeric_limits<double>::infinity());
  const double below_y1 = std::nextafter(core.y1, -std::numeric_limits<double>::infinity());
  const Box open{core.x0, core.y0, below_x1, below_y1};
  const auto onto_border = [&](Point& p) {
    if (p.x == below_x1) p.x = core.x1;
    if (p.y == below_y1) p.y = core.y1;
  };
  for (std::size_t i = 0; i < chains.size(); ++i) {
    const std::vector<double>* radii = i < widths.size() ? &widths[i] : nullptr;
    if (radii && radii->size() != chains[i].size()) {
      throw InternalError("internal error: chain widths out of step with the chain");
    }
    const std::size_t first = out.size();
    clip_polyline(
        chains[i], radii, open,
        [&](Point p, double w, bool cut) {
          if (cut) onto_border(p);
          out.push_back(CorePiece{{p}, {}, cut, false});
          if (radii) out.back().widths.push_back(w);
        },
        [&](Point p, double w, bool cut) {
          if (cut) onto_border(p);
          out.back().points.push_back(p);
          if (radii) out.back().widths.push_back(w);
          out.back().end_cut = cut;
        });
    // A part that only touches the core at a point carries no line.
    out.erase(std::remove_if(out.begin() + static_cast<std::ptrdiff_t>(first), out.end(),
                             [](const CorePiece& piece) {
                               return piece.points.size() < 2 ||
                                      (piece.points.size() == 2 &&
                                       piece.points.front() == piece.points.back());
                             }),
              out.end());
  }
}

namespace {

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
  std::unordered_map<std::uint64_t, char> seen;                     // looked up only
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
      if (seen.try_emplace(mix64(e.lo) ^ e.hi, 0).second) graph.edges.emplace_back(a, b);
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

StitchedResult stitch_pieces(std::vector<CorePiece> pieces, const TileGrid& grid,
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

  StitchedResult out;
  std::unordered_map<std::size_t, std::size_t> node_table;  // looked up only
  const auto output_node = [&](std::size_t graph_node, const Point& position) {
    const auto [it, inserted] = node_table.try_emplace(graph_node, out.nodes.size());
    if (inserted) out.nodes.push_back(position);
    return it->second;
  };
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
