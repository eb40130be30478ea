// Cleans a graph: tips shorter than a length pruned, junctions closer than a distance merged.
#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <queue>
#include <string>
#include <utility>
#include <vector>

#include "geometry/keys.hpp"
#include "graph/adjacency.hpp"
#include "graph/graph.hpp"

namespace linetopo {
namespace {

using graph_detail::Adjacency;
using graph_detail::build_lists;
using graph_detail::build_neighbours;
using graph_detail::check_edges;
using graph_detail::kNone;
using PairSet = FlatSet<IndexPair>;

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

// The alive edges from tip t up to the first node whose degree is not 2, into walk, and that
// node into `end`; returns their length.
double walk_tip(const Graph& graph, const Adjacency& incidence, const std::vector<char>& alive,
                const std::vector<std::size_t>& degree, std::size_t t,
                std::vector<std::size_t>& walk, std::size_t& end) {
  const std::vector<Point>& pos = graph.nodes;
  walk.clear();
  double length = 0.0;
  std::size_t prev = kNone;
  std::size_t cur = t;
  end = t;
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
    end = other;
    if (degree[other] != 2) break;
    prev = cur;
    cur = other;
  }
  return length;
}

// From `from`, the length of the shortest path to each node of its component over `edges`
// (lists per node) and the edge each was reached by; the nodes reached, in the order they were
// settled, into `reached`.
void shortest_paths(const Graph& graph, const std::vector<std::vector<std::size_t>>& edges,
                    std::size_t from, std::vector<double>& length, std::vector<std::size_t>& via,
                    std::vector<std::size_t>& reached) {
  using Entry = std::pair<double, std::size_t>;
  std::priority_queue<Entry, std::vector<Entry>, std::greater<>> queue;
  length[from] = 0.0;
  queue.emplace(0.0, from);
  reached.clear();
  while (!queue.empty()) {
    const auto [d, v] = queue.top();
    queue.pop();
    if (d > length[v]) continue;
    reached.push_back(v);
    for (const std::size_t id : edges[v]) {
      const auto [a, b] = graph.edges[id];
      const std::size_t w = a == v ? b : a;
      const double next = d + dist(graph.nodes[a], graph.nodes[b]);
      if (next < length[w]) {
        length[w] = next;
        via[w] = id;
        queue.emplace(next, w);
      }
    }
  }
}

// Sets alive, in every component of the graph that pruning emptied, the edges of its longest
// path: from the node farthest from its least node, to the node farthest from that one (the
// longest path of a tree; a cycle, never pruned, needs none).
void keep_emptied_components(const Graph& graph, std::vector<char>& alive) {
  const std::size_t n = graph.nodes.size();
  std::vector<std::vector<std::size_t>> edges(n);
  std::vector<char> component_alive(n, 0);
  std::vector<std::size_t> parent(n);
  for (std::size_t v = 0; v < n; ++v) parent[v] = v;
  const auto root = [&parent](std::size_t v) {
    while (parent[v] != v) v = parent[v] = parent[parent[v]];
    return v;
  };
  for (std::size_t id = 0; id < graph.edges.size(); ++id) {
    const auto [a, b] = graph.edges[id];
    edges[a].push_back(id);
    if (b != a) edges[b].push_back(id);
    const std::size_t ra = root(a);
    const std::size_t rb = root(b);
    parent[std::max(ra, rb)] = std::min(ra, rb);
  }
  for (std::size_t id = 0; id < graph.edges.size(); ++id) {
    if (alive[id]) component_alive[root(graph.edges[id].first)] = 1;
  }
  constexpr double kFar = std::numeric_limits<double>::infinity();
  std::vector<double> length(n, kFar);
  std::vector<std::size_t> via(n, kNone);
  std::vector<std::size_t> members;
  for (std::size_t v = 0; v < n; ++v) {
    // Each emptied component once, from its least node (its root).
    if (root(v) != v || component_alive[v] || edges[v].empty()) continue;
    const auto farthest = [&](std::size_t from) {
      for (const std::size_t m : members) {
        length[m] = kFar;
        via[m] = kNone;
      }
      shortest_paths(graph, edges, from, length, via, members);
      std::size_t best = from;
      for (const std::size_t m : members) {
        if (length[m] > length[best] || (length[m] == length[best] && m < best)) best = m;
      }
      return best;
    };
    const std::size_t u = farthest(v);
    for (std::size_t w = farthest(u); w != u; ) {
      const std::size_t id = via[w];
      alive[id] = 1;
      w = graph.edges[id].first == w ? graph.edges[id].second : graph.edges[id].first;
    }
  }
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
std::vector<JunctionPath> close_junction_paths(const Graph& graph, const Adjacency& adj,
                                               double merge_distance) {
  const std::size_t n = graph.nodes.size();
  const std::vector<Point>& pos = graph.nodes;
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
      // A walk past the merge distance can only grow: it ends there.
      while (adj.degree(path.back()) == 2 && !(length > merge_distance)) {
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

// Whether every member of the group whose circular member list holds `start` lies within reach
// of `at`.
bool all_within(const std::vector<Point>& pos, const std::vector<std::size_t>& next,
                std::size_t start, const Point& at, double reach) {
  std::size_t v = start;
  do {
    if (!(dist(pos[v], at) <= reach)) return false;
    v = next[v];
  } while (v != start);
  return true;
}

// Merges the two ends of every candidate, shortest first, unless they are already one, or the
// merged node would lie farther than the merge distance from one of the junctions it stands for:
// a run of junctions each close to the next (thin holes in a wide stroke make them) would
// otherwise become one node far from most of them, its chains cut across the region.
Merged merge_paths(const Graph& graph, const Adjacency& adj,
                   const std::vector<JunctionPath>& candidates, double merge_distance) {
  const std::size_t n = graph.nodes.size();
  std::vector<std::size_t> parent(n);
  for (std::size_t v = 0; v < n; ++v) parent[v] = v;
  std::vector<std::size_t> next = parent;  // each group's members as a circular list
  Merged m{{}, graph.nodes, std::vector<char>(n, 0)};
  for (const JunctionPath& c : candidates) {
    const std::size_t ra = find_root(parent, c.start);
    const std::size_t rb = find_root(parent, c.end);
    if (ra == rb) continue;
    // Running pairwise midpoint: a node merged several times is not the mean of its members.
    const Point at{(m.position[ra].x + m.position[rb].x) * 0.5,
                   (m.position[ra].y + m.position[rb].y) * 0.5};
    if (!all_within(graph.nodes, next, ra, at, merge_distance) ||
        !all_within(graph.nodes, next, rb, at, merge_distance)) {
      continue;
    }
    std::swap(next[ra], next[rb]);  // splices the two lists into one
    m.position[ra] = at;
    parent[rb] = ra;
    for (std::size_t k = 1; k + 1 < c.nodes.size(); ++k) m.removed[c.nodes[k]] = 1;
  }
  m.root.resize(n);
  for (std::size_t v = 0; v < n; ++v) m.root[v] = find_root(parent, v);
  // A node whose two neighbours merged would hang off the merged node by its edge, doubled: a
  // small loop round a hole collapsed into a spur, which goes with the loop.
  for (std::size_t v = 0; v < n; ++v) {
    if (m.removed[v] || adj.degree(v) != 2) continue;
    const std::size_t a = adj.at(v, 0);
    const std::size_t b = adj.at(v, 1);
    if (a != b && m.root[a] == m.root[b]) m.removed[v] = 1;
  }
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

Graph merge_close_junctions(const Graph& graph, double merge_distance) {
  check_edges(graph);
  if (graph.nodes.empty()) return {};
  const Adjacency adj = build_neighbours(graph);
  std::vector<JunctionPath> candidates = close_junction_paths(graph, adj, merge_distance);
  const auto shorter = [](const JunctionPath& l, const JunctionPath& r) {
    return l.length < r.length;
  };
  std::stable_sort(candidates.begin(), candidates.end(), shorter);
  return compact(graph, merge_paths(graph, adj, candidates, merge_distance));
}

Graph prune_short_tips(const Graph& graph, double min_tip_length, bool keep_components,
                       const std::function<double(const Point&)>& junction_reach) {
  check_edges(graph);
  const std::size_t n = graph.nodes.size();
  const std::size_t m = graph.edges.size();
  std::vector<char> alive(m, 1);
  std::vector<std::size_t> degree(n, 0);
  for (const auto& [a, b] : graph.edges) {
    ++degree[a];
    ++degree[b];
  }
  // Edges removed later are skipped by flag, so the lists are built once.
  Adjacency incidence;
  build_incidence(graph, alive, incidence);
  std::vector<std::size_t> walk;
  std::size_t end = kNone;
  // A junction's reach, asked once.
  std::vector<double> reach(junction_reach ? n : 0, -1.0);

  // Passes over the tips, ascending, with the degrees of the pass's start: a tip whose walk
  // comes out shorter than the limit loses it. A pass after the first walks only the tips whose
  // walk can have changed: new tips, and kept tips whose last walk ended at a node that has since
  // lost edges; every other tip would walk as before and keep its edges again.
  std::vector<std::size_t> tips;
  for (std::size_t t = 0; t < n; ++t) {
    if (degree[t] == 1) tips.push_back(t);
  }
  std::vector<std::size_t> kept;            // tips walked and kept, each once
  std::vector<std::size_t> end_of(n, kNone);  // where a kept tip's last walk ended
  std::vector<std::size_t> removed;
  std::vector<std::size_t> lost;  // nodes that lost edges in the pass
  std::vector<char> touched(n, 0);
  while (!tips.empty()) {
    removed.clear();
    for (const std::size_t t : tips) {
      double length = walk_tip(graph, incidence, alive, degree, t, walk, end);
      if (junction_reach && degree[end] >= 3) {
        if (reach[end] < 0.0) reach[end] = std::max(0.0, junction_reach(graph.nodes[end]));
        length -= reach[end];
      }
      if (walk.empty()) continue;
      if (length < min_tip_length) {
        for (const std::size_t id : walk) alive[id] = 0;
        removed.insert(removed.end(), walk.begin(), walk.end());
      } else {
        if (end_of[t] == kNone) kept.push_back(t);
        end_of[t] = end;
      }
    }
    tips.clear();
    lost.clear();
    for (const std::size_t id : removed) {
      for (const std::size_t v : {graph.edges[id].first, graph.edges[id].second}) {
        --degree[v];
        if (!touched[v]) lost.push_back(v);
        touched[v] = 1;
      }
    }
    for (const std::size_t v : lost) {
      if (degree[v] == 1) tips.push_back(v);
    }
    for (const std::size_t t : kept) {
      if (degree[t] == 1 && touched[end_of[t]]) tips.push_back(t);
    }
    for (const std::size_t v : lost) touched[v] = 0;
    std::sort(tips.begin(), tips.end());
    tips.erase(std::unique(tips.begin(), tips.end()), tips.end());
  }

  if (keep_components) keep_emptied_components(graph, alive);
  Graph out;
  out.nodes = graph.nodes;
  for (std::size_t id = 0; id < m; ++id) {
    if (alive[id]) out.edges.push_back(graph.edges[id]);
  }
  return out;
}

}  // namespace linetopo
