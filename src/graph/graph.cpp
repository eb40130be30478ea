// Welds skeleton segments into a graph, cleans it (tip pruning, junction merging) and cuts it into
// chains.
#include "graph/graph.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>

#include "geometry/keys.hpp"
#include "parallel/parallel.hpp"

namespace linetopo {
namespace {

constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();

using CellIndex = FlatMap<CellKey, std::size_t, CellBlockHash>;
using PairSet = FlatSet<IndexPair>;

// Steps a cell coordinate by -1, 0 or +1, holding at the int64 limits instead of wrapping, so a
// saturated far cell never probes the opposite end of the range.
std::int64_t step_saturating(std::int64_t v, int step) {
  if (step > 0 && v == std::numeric_limits<std::int64_t>::max()) return v;
  if (step < 0 && v == std::numeric_limits<std::int64_t>::min()) return v;
  return v + step;
}

// Resolves a point to a node: its own cell, else the first recorded cell of the 3x3 block in probe
// order, else a new node at exactly this point. The resolved cell is always recorded.
// A point's weld cell, saturating at the int64 limits.
CellKey weld_cell(const Point& p, double cell_size) {
  return {round_half_away_i64(p.x / cell_size), round_half_away_i64(p.y / cell_size)};
}

std::size_t weld_point(const Point& p, double cell_size, CellIndex& cells,
                       std::vector<Point>& nodes) {
  const CellKey own = weld_cell(p, cell_size);
  if (!cells.empty()) {
    if (const std::size_t* found = cells.find(own)) return *found;
    for (int di = -1; di <= 1; ++di) {
      for (int dj = -1; dj <= 1; ++dj) {
        if (di == 0 && dj == 0) continue;  // the own cell was looked up first
        const std::size_t* found =
            cells.find({step_saturating(own.x, di), step_saturating(own.y, dj)});
        if (found != nullptr) {
          const std::size_t node = *found;  // copied before the insert may rehash
          cells.try_emplace(own, node);
          return node;
        }
      }
    }
  }
  nodes.push_back(p);
  cells.try_emplace(own, nodes.size() - 1);
  return nodes.size() - 1;
}

void check_edges(const Graph& graph) {
  const std::size_t n = graph.nodes.size();
  for (const auto& [a, b] : graph.edges) {
    check_index(a, n, "graph edge node");
    check_index(b, n, "graph edge node");
  }
}

// Flat adjacency lists: node v's entries are items[offset[v]] .. items[offset[v + 1] - 1].
struct Adjacency {
  std::vector<std::size_t> offset;
  std::vector<std::size_t> items;

  std::size_t degree(std::size_t v) const { return offset[v + 1] - offset[v]; }
  std::size_t at(std::size_t v, std::size_t k) const { return items[offset[v] + k]; }
};

// Lists over n nodes from for_each_entry(emit), which calls emit(node, item) for every entry in
// order; it runs twice, once to count and once to fill.
template <typename ForEachEntry>
void build_lists(std::size_t n, const ForEachEntry& for_each_entry, Adjacency& lists) {
  lists.offset.assign(n + 1, 0);
  for_each_entry([&](std::size_t v, std::size_t) { ++lists.offset[v + 1]; });
  for (std::size_t v = 0; v < n; ++v) lists.offset[v + 1] += lists.offset[v];
  lists.items.resize(lists.offset[n]);
  std::vector<std::size_t> cursor(lists.offset.begin(), lists.offset.end() - 1);
  for_each_entry([&](std::size_t v, std::size_t item) { lists.items[cursor[v]++] = item; });
}

// Neighbours in edge-list order: an edge (a, b) appends b to a's list and a to b's list (a
// self-edge thus appears twice in its node's list). Edges must already be checked.
Adjacency build_neighbours(const Graph& graph) {
  Adjacency adj;
  build_lists(
      graph.nodes.size(),
      [&](const auto& emit) {
        for (const auto& [a, b] : graph.edges) {
          emit(a, b);
          emit(b, a);
        }
      },
      adj);
  return adj;
}

// The edge ids in the layout of build_neighbours: entry k of node v's list is the edge that
// build_neighbours' entry k of v comes from.
Adjacency build_edge_ids(const Graph& graph) {
  Adjacency ids;
  build_lists(
      graph.nodes.size(),
      [&](const auto& emit) {
        for (std::size_t id = 0; id < graph.edges.size(); ++id) {
          emit(graph.edges[id].first, id);
          emit(graph.edges[id].second, id);
        }
      },
      ids);
  return ids;
}

// The ids of the alive edges at each node, ascending, so that a scan meets them in edge-list
// order; a self-edge appears once.
void build_incidence(const Graph& graph, const std::vector<char>& alive, Adjacency& incidence) {
  build_lists(
      graph.nodes.size(),
      [&](const auto& emit) {
        for (std::size_t id = 0; id < graph.edges.size(); ++id) {
          if (!alive[id]) continue;
          const auto [a, b] = graph.edges[id];
          emit(a, id);
          if (b != a) emit(b, id);
        }
      },
      incidence);
}

// The alive edges from tip t up to the first node whose degree is not 2, into walk; returns
// their length.
double walk_tip(const Graph& graph, const Adjacency& incidence, const std::vector<char>& alive,
                const std::vector<std::size_t>& degree, std::size_t t,
                std::vector<std::size_t>& walk) {
  const std::vector<Point>& pos = graph.nodes;
  walk.clear();
  double length = 0.0;
  std::size_t prev = kNone;
  std::size_t cur = t;
  while (true) {
    std::size_t found = kNone;
    std::size_t other = kNone;
    for (std::size_t k = 0; k < incidence.degree(cur); ++k) {
      const std::size_t id = incidence.at(cur, k);
      if (!alive[id]) continue;
      const auto [a, b] = graph.edges[id];
      if (a == cur && b != prev) {
        found = id;
        other = b;
        break;
      }
      if (b == cur && a != prev) {
        found = id;
        other = a;
        break;
      }
    }
    if (found == kNone) break;
    walk.push_back(found);
    if (walk.size() > graph.edges.size()) throw InternalError("internal error: tip walk cycles");
    length += dist(pos[graph.edges[found].first], pos[graph.edges[found].second]);
    if (degree[other] != 2) break;
    prev = cur;
    cur = other;
  }
  return length;
}

struct JunctionPath {
  double length = 0.0;
  std::size_t start = 0;
  std::size_t end = 0;
  std::vector<std::size_t> nodes;  // start .. end, both included
};

// Roots never change under path halving, so the merge result is that of a plain parent walk.
std::size_t find_root(std::vector<std::size_t>& parent, std::size_t v) {
  while (parent[v] != v) {
    parent[v] = parent[parent[v]];
    v = parent[v];
  }
  return v;
}

// Every path of degree-2 nodes between two junctions (degree 3 or more) no longer than
// merge_distance, once per junction pair, in the order the walks from each junction find them.
std::vector<JunctionPath> close_junction_paths(const Graph& graph, double merge_distance) {
  const std::size_t n = graph.nodes.size();
  const std::vector<Point>& pos = graph.nodes;
  const Adjacency adj = build_neighbours(graph);
  // Every walk step consumes a distinct (previous, current) adjacency entry.
  const std::size_t max_walk = 2 * graph.edges.size() + 2;
  std::vector<JunctionPath> candidates;
  PairSet seen;
  std::vector<std::size_t> path;
  for (std::size_t i = 0; i < n; ++i) {
    if (adj.degree(i) < 3) continue;
    for (std::size_t k = 0; k < adj.degree(i); ++k) {
      const std::size_t first = adj.at(i, k);
      path.assign({i, first});
      double length = dist(pos[i], pos[first]);
      while (adj.degree(path.back()) == 2) {
        const std::size_t cur = path.back();
        const std::size_t prev = path[path.size() - 2];
        std::size_t next = adj.at(cur, 0);
        if (next == prev) next = adj.at(cur, 1);
        if (next == prev) break;
        length += dist(pos[cur], pos[next]);
        path.push_back(next);
        if (path.size() > max_walk) throw InternalError("internal error: junction walk cycles");
      }
      const std::size_t e = path.back();
      if (adj.degree(e) >= 3 && length <= merge_distance && seen.insert(index_pair(i, e))) {
        candidates.push_back({length, i, e, path});
      }
    }
  }
  for (const JunctionPath& c : candidates) {
    if (std::isnan(c.length)) throw InternalError("internal error: NaN junction path length");
  }
  return candidates;
}

// The outcome of merging junctions: each node's representative and position, and the inner
// nodes of merged paths, which go.
struct Merged {
  std::vector<std::size_t> root;
  std::vector<Point> position;  // meaningful at roots
  std::vector<char> removed;
};

// Merges the two ends of every candidate, shortest first, unless they are already one.
Merged merge_paths(const Graph& graph, const std::vector<JunctionPath>& candidates) {
  const std::size_t n = graph.nodes.size();
  std::vector<std::size_t> parent(n);
  for (std::size_t v = 0; v < n; ++v) parent[v] = v;
  Merged m{{}, graph.nodes, std::vector<char>(n, 0)};
  for (const JunctionPath& c : candidates) {
    const std::size_t ra = find_root(parent, c.start);
    const std::size_t rb = find_root(parent, c.end);
    if (ra == rb) continue;
    // Running pairwise midpoint: a node merged several times is not the mean of its members.
    m.position[ra] = Point{(m.position[ra].x + m.position[rb].x) * 0.5,
                           (m.position[ra].y + m.position[rb].y) * 0.5};
    parent[rb] = ra;
    for (std::size_t k = 1; k + 1 < c.nodes.size(); ++k) m.removed[c.nodes[k]] = 1;
  }
  m.root.resize(n);
  for (std::size_t v = 0; v < n; ++v) m.root[v] = find_root(parent, v);
  return m;
}

// The merged graph: nodes reached by a surviving edge keep their relative order; the rest
// disappear, and so do edges that fall inside one merged node or repeat another.
Graph compact(const Graph& graph, const Merged& m) {
  const std::size_t n = graph.nodes.size();
  const std::vector<std::size_t>& root = m.root;
  std::vector<char> survives(n, 0);
  for (const auto& [a, b] : graph.edges) {
    if (m.removed[a] || m.removed[b]) continue;
    survives[root[a]] = 1;
    survives[root[b]] = 1;
  }
  Graph out;
  std::vector<std::size_t> new_index(n, kNone);
  for (std::size_t v = 0; v < n; ++v) {
    if (!survives[v]) continue;
    new_index[v] = out.nodes.size();
    out.nodes.push_back(m.position[v]);
  }
  // Only an edge at a merged node can repeat another: input edges are distinct.
  std::vector<char> merged(n, 0);
  for (std::size_t v = 0; v < n; ++v) {
    if (root[v] != v) merged[v] = merged[root[v]] = 1;
  }
  PairSet produced;
  for (const auto& [a, b] : graph.edges) {
    if (m.removed[a] || m.removed[b]) continue;
    const std::size_t ra = root[a];
    const std::size_t rb = root[b];
    if (ra == rb) continue;
    const std::size_t na = new_index[ra];
    const std::size_t nb = new_index[rb];
    if (na == kNone || nb == kNone) {
      throw InternalError("internal error: merged root " + std::to_string(na == kNone ? ra : rb) +
                          " has no new index");
    }
    if ((!merged[a] && !merged[b]) || produced.insert(index_pair(na, nb))) {
      out.edges.emplace_back(na, nb);
    }
  }
  return out;
}

}  // namespace

Graph weld_skeletons(std::span<const Skeleton> skeletons,
                     std::span<const std::vector<char>> crowded, double cell_size) {
  if (crowded.size() != skeletons.size()) {
    throw InternalError("internal error: weld neighbour flags out of step");
  }
  std::size_t points = 0;
  std::size_t segments = 0;
  for (std::size_t i = 0; i < skeletons.size(); ++i) {
    if (crowded[i].size() != skeletons[i].points.size()) {
      throw InternalError("internal error: weld neighbour flags out of step");
    }
    points += static_cast<std::size_t>(std::count(crowded[i].begin(), crowded[i].end(), 1));
    segments += skeletons[i].segments.size();
  }
  Graph graph;
  CellIndex cells(points);
  PairSet seen(segments);
  std::vector<std::size_t> node;
  for (std::size_t i = 0; i < skeletons.size(); ++i) {
    const Skeleton& s = skeletons[i];
    // Welding a point again only finds its own cell, so each point is welded once, in the order
    // the segments first reach it. A point with no other point in or next to its cell would
    // find nothing and leave its cell where nothing looks: it becomes a node of its own.
    node.resize(s.points.size());
    for (std::size_t k = 0; k < s.points.size(); ++k) {
      if (crowded[i][k]) {
        node[k] = weld_point(s.points[k], cell_size, cells, graph.nodes);
      } else {
        graph.nodes.push_back(s.points[k]);
        node[k] = graph.nodes.size() - 1;
      }
    }
    // A skeleton names each segment once, and a point that is not crowded has a node of its
    // own: only a segment with a welded end can repeat an edge already made.
    for (const auto& [pa, pb] : s.segments) {
      const std::size_t a = node[check_index(pa, node.size(), "skeleton point")];
      const std::size_t b = node[check_index(pb, node.size(), "skeleton point")];
      if (a == b) continue;
      if ((crowded[i][pa] || crowded[i][pb]) && !seen.insert(index_pair(a, b))) continue;
      graph.edges.emplace_back(a, b);
    }
  }
  return graph;
}

WeldNeighbours weld_neighbours(std::span<const Skeleton> skeletons, double cell_size) {
  WeldNeighbours out;
  out.crowded.resize(skeletons.size());
  std::size_t count = 0;
  for (std::size_t i = 0; i < skeletons.size(); ++i) {
    out.crowded[i].assign(skeletons[i].points.size(), 1);
    count += skeletons[i].points.size();
  }
  out.apart = skeletons.size() < 2;
  // Every point's weld cell, counted from the least cell of all, in rows of at most 2^32 - 2
  // cells so that a key's left neighbour is the key less one. Beyond that, or with too many
  // points to number, every point counts as crowded and the skeletons as close: always right.
  std::int64_t lo_x = std::numeric_limits<std::int64_t>::max();
  std::int64_t lo_y = lo_x;
  std::int64_t hi_x = std::numeric_limits<std::int64_t>::lowest();
  std::int64_t hi_y = hi_x;
  for (const Skeleton& s : skeletons) {
    for (const Point& p : s.points) {
      const CellKey c = weld_cell(p, cell_size);
      lo_x = std::min(lo_x, c.x);
      lo_y = std::min(lo_y, c.y);
      hi_x = std::max(hi_x, c.x);
      hi_y = std::max(hi_y, c.y);
    }
  }
  // Unsigned differences, which cannot overflow.
  const auto offset = [](std::int64_t v, std::int64_t lo) {
    return static_cast<std::uint64_t>(v) - static_cast<std::uint64_t>(lo);
  };
  constexpr std::uint64_t kMaxSpan = 4294967294U;
  if (count == 0 || count >= UINT32_MAX || skeletons.size() >= UINT32_MAX ||
      offset(hi_x, lo_x) >= kMaxSpan || offset(hi_y, lo_y) >= kMaxSpan) {
    return out;
  }
  struct Entry {
    std::uint64_t key;
    std::uint32_t skeleton;
    std::uint32_t point;
  };
  std::vector<Entry> entries;
  entries.reserve(count);
  for (std::size_t i = 0; i < skeletons.size(); ++i) {
    const std::vector<Point>& points = skeletons[i].points;
    for (std::size_t k = 0; k < points.size(); ++k) {
      const CellKey c = weld_cell(points[k], cell_size);
      entries.push_back({(offset(c.y, lo_y) << 32) | offset(c.x, lo_x),
                         static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(k)});
    }
  }
  parallel_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
    return a.key < b.key || (a.key == b.key && (a.skeleton < b.skeleton ||
                                                (a.skeleton == b.skeleton && a.point < b.point)));
  });
  // The occupied cells: where each one's entries start, and whether they are of one skeleton.
  std::vector<std::size_t> start;
  std::vector<char> mixed;
  for (std::size_t k = 0; k < entries.size(); ++k) {
    if (k == 0 || entries[k].key != entries[k - 1].key) {
      start.push_back(k);
      mixed.push_back(0);
    } else if (entries[k].skeleton != entries[k - 1].skeleton) {
      mixed.back() = 1;
    }
  }
  const std::size_t cells = start.size();
  start.push_back(entries.size());
  std::vector<char> crowded(cells, 0);
  bool apart = true;
  const auto meet = [&](std::size_t a, std::size_t b) {
    crowded[a] = crowded[b] = 1;
    if (mixed[a] || mixed[b] || entries[start[a]].skeleton != entries[start[b]].skeleton) {
      apart = false;
    }
  };
  // Each cell against the occupied cells before it in its 3 x 3 block: its left neighbour, and
  // three cells in the row above.
  constexpr std::uint64_t kRow = std::uint64_t{1} << 32;
  std::size_t above = 0;
  for (std::size_t c = 0; c < cells; ++c) {
    const std::uint64_t key = entries[start[c]].key;
    if (start[c + 1] - start[c] > 1) meet(c, c);
    if (c > 0 && entries[start[c - 1]].key + 1 == key) meet(c - 1, c);
    if (key < kRow) continue;
    const std::uint64_t first = key - kRow - ((key & (kRow - 1)) > 0 ? 1 : 0);
    const std::uint64_t last = key - kRow + 1;
    while (above < c && entries[start[above]].key < first) ++above;
    for (std::size_t a = above; a < c && entries[start[a]].key <= last; ++a) meet(a, c);
  }
  for (std::size_t c = 0; c < cells; ++c) {
    if (crowded[c]) continue;
    const Entry& e = entries[start[c]];  // alone in its cell
    out.crowded[e.skeleton][e.point] = 0;
  }
  out.apart = apart;
  return out;
}

Graph segments_to_graph(const std::vector<Segment>& segments, double cell_size) {
  // Each end its own point, in segment order, every one welded through the table.
  Skeleton all;
  all.points.reserve(2 * segments.size());
  all.segments.reserve(segments.size());
  for (const Segment& s : segments) {
    all.points.push_back(s.a);
    all.points.push_back(s.b);
    all.segments.emplace_back(all.points.size() - 2, all.points.size() - 1);
  }
  const std::vector<char> crowded(all.points.size(), 1);
  return weld_skeletons(std::span(&all, 1), std::span(&crowded, 1), cell_size);
}

Graph merge_close_junctions(const Graph& graph, double merge_distance) {
  check_edges(graph);
  if (graph.nodes.empty()) return {};
  std::vector<JunctionPath> candidates = close_junction_paths(graph, merge_distance);
  const auto shorter = [](const JunctionPath& l, const JunctionPath& r) {
    return l.length < r.length;
  };
  std::stable_sort(candidates.begin(), candidates.end(), shorter);
  return compact(graph, merge_paths(graph, candidates));
}

Graph prune_short_tips(const Graph& graph, double min_tip_length) {
  check_edges(graph);
  const std::size_t n = graph.nodes.size();
  const std::size_t m = graph.edges.size();
  std::vector<char> alive(m, 1);
  std::vector<std::size_t> degree(n);
  Adjacency incidence;
  std::vector<std::size_t> walk;

  bool changed = true;
  while (changed) {
    changed = false;
    // Degrees and incidence are fixed for the pass; edges removed during it are skipped by flag.
    std::fill(degree.begin(), degree.end(), 0);
    for (std::size_t id = 0; id < m; ++id) {
      if (!alive[id]) continue;
      ++degree[graph.edges[id].first];
      ++degree[graph.edges[id].second];
    }
    build_incidence(graph, alive, incidence);
    for (std::size_t t = 0; t < n; ++t) {
      if (degree[t] != 1) continue;
      const double length = walk_tip(graph, incidence, alive, degree, t, walk);
      if (!walk.empty() && length < min_tip_length) {
        for (const std::size_t id : walk) alive[id] = 0;
        changed = true;
      }
    }
  }

  Graph out;
  out.nodes = graph.nodes;
  for (std::size_t id = 0; id < m; ++id) {
    if (alive[id]) out.edges.push_back(graph.edges[id]);
  }
  return out;
}

std::vector<Chain> extract_chains(const Graph& graph) {
  ChainLists lists = extract_chain_lists(graph);
  std::vector<Chain> chains = std::move(lists.open);
  chains.insert(chains.end(), std::make_move_iterator(lists.loops.begin()),
                std::make_move_iterator(lists.loops.end()));
  return chains;
}

ChainLists extract_chain_lists(const Graph& graph) {
  check_edges(graph);
  const std::size_t n = graph.nodes.size();
  const Adjacency adj = build_neighbours(graph);
  const Adjacency ids = build_edge_ids(graph);
  // By edge: edges are distinct node pairs, so this is the pair (a, b) seen either way round.
  std::vector<char> visited(graph.edges.size(), 0);
  const auto visit = [&](std::size_t v, std::size_t k) {
    char& seen = visited[ids.at(v, k)];
    return std::exchange(seen, char{1}) == 0;
  };
  ChainLists lists;
  std::vector<Chain>* chains = &lists.open;

  const auto trace = [&](std::size_t s, std::size_t k) {
    if (!visit(s, k)) return;
    const std::size_t first = adj.at(s, k);
    Chain chain;
    chain.points = {graph.nodes[s], graph.nodes[first]};
    std::size_t prev = s;
    std::size_t cur = first;
    while (adj.degree(cur) == 2) {
      const std::size_t j = adj.at(cur, 0) == prev ? 1 : 0;
      const std::size_t next = adj.at(cur, j);
      if (next == prev) break;
      // A visited edge here is the loop closing at its start.
      if (!visit(cur, j)) break;
      chain.points.push_back(graph.nodes[next]);
      prev = cur;
      cur = next;
    }
    chain.start = s;
    chain.end = cur;
    chain.start_is_tip = adj.degree(s) == 1;
    chain.end_is_tip = adj.degree(cur) == 1;
    chains->push_back(std::move(chain));
  };

  for (std::size_t s = 0; s < n; ++s) {
    if (adj.degree(s) == 0 || adj.degree(s) == 2) continue;
    for (std::size_t k = 0; k < adj.degree(s); ++k) trace(s, k);
  }
  // Only closed loops of degree-2 nodes are left; each starts at its lowest node.
  chains = &lists.loops;
  for (std::size_t s = 0; s < n; ++s) {
    for (std::size_t k = 0; k < adj.degree(s); ++k) trace(s, k);
  }
  return lists;
}

}  // namespace linetopo
