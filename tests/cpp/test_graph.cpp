// Tests for segment welding, junction merging, tip pruning and chain extraction.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <random>
#include <string>

#include "graph/graph.hpp"
#include "support/welding.hpp"

namespace linetopo {
namespace {

using Edges = std::vector<Edge>;
using Points = std::vector<Point>;

// Appends nodes at pts as a path hanging from node `from`; returns the last node.
std::size_t add_path(Graph& g, std::size_t from, const Points& pts) {
  for (const Point& p : pts) {
    g.nodes.push_back(p);
    g.edges.emplace_back(from, g.nodes.size() - 1);
    from = g.nodes.size() - 1;
  }
  return from;
}

void expect_graph(const Graph& g, const Points& nodes, const Edges& edges) {
  EXPECT_EQ(g.nodes, nodes);
  EXPECT_EQ(g.edges, edges);
}

class WeldCells : public ::testing::TestWithParam<double> {};

TEST_P(WeldCells, CellBoundaryCases) {
  const double s = GetParam();
  const auto weld = [s](const std::vector<Segment>& segs) { return segments_to_graph(segs, s); };
  // Neighbouring cells join and the first point keeps the node's position; cells 0 and 3 don't.
  Graph g = weld({{{0.49 * s, 0}, {0.51 * s, 0}}, {{0.51 * s, 0}, {2.6 * s, 0}}});
  expect_graph(g, {{0.49 * s, 0}, {2.6 * s, 0}}, {{0, 1}});
  // Halves round away from zero: cells -1 and 1 are out of reach of each other.
  EXPECT_EQ(weld({{{-0.5 * s, 0}, {0.5 * s, 0}}}).edges, (Edges{{0, 1}}));
  // A resolved cell is recorded, so reach carries from cell 1 to cell 2.
  g = weld({{{0, 0}, {s, 0}}, {{2 * s, 0}, {5 * s, 0}}});
  EXPECT_EQ(g.nodes, (Points{{0, 0}, {5 * s, 0}}));
  // Probe order, not node age: cell (-1, 1) is probed before (1, -1) around (0, 0).
  EXPECT_EQ(weld({{{s, -s}, {-s, s}}, {{0, 0}, {10 * s, 10 * s}}}).edges, (Edges{{0, 1}, {1, 2}}));
  // Bit-identical ends share a node.
  const Point a{0.1 + 0.2, 1.0 / 3.0}, b{7.0 / 3.0 * s, -2.5 * s}, c{-1e-7, 12.5 * s};
  expect_graph(weld({{a, b}, {b, c}, {c, a}}), {a, b, c}, {{0, 1}, {1, 2}, {2, 0}});
}

INSTANTIATE_TEST_SUITE_P(Sizes, WeldCells, ::testing::Values(1e-3, 0.05, 1.0, 3.7, 1e4));

TEST(SegmentsToGraph, SkipsSelfAndDuplicateEdgesAndFarCellsNeverWrap) {
  const Point p{0, 0}, q{1, 0}, r{0, 1}, p_near{0.001, 0};
  expect_graph(segments_to_graph({{p, q}, {q, p}, {p, q}, {r, r}, {p, p_near}, {r, q}}, 0.01),
               {p, q, r}, {{0, 1}, {2, 1}});
  EXPECT_TRUE(segments_to_graph({}, 1.0).nodes.empty());
  // Opposite saturated corners would weld if a probe wrapped around the int64 range.
  const double inf = std::numeric_limits<double>::infinity();
  expect_graph(
      segments_to_graph(
          {{{-1e300, -1e300}, {1e300, 1e300}}, {{1e300, 0}, {inf, 0}}, {{inf, 0}, {-inf, 0}}}, 1.0),
      {{-1e300, -1e300}, {1e300, 1e300}, {1e300, 0}, {-inf, 0}}, {{0, 1}, {2, 3}});
}

TEST(MergeCloseJunctions, Cases) {
  // Junctions (0, 0) and (1, 0) joined through (0.25, 0) and (0.5, 0): length exactly 1.
  const Graph g{{{0, 0}, {1, 0}, {0.25, 0}, {0.5, 0}, {-1, 1}, {-1, -1}, {2, 1}, {2, -1}},
                {{0, 2}, {2, 3}, {3, 1}, {0, 4}, {0, 5}, {1, 6}, {1, 7}}};
  expect_graph(merge_close_junctions(g, 1.0), {{0.5, 0}, {-1, 1}, {-1, -1}, {2, 1}, {2, -1}},
               {{0, 1}, {0, 2}, {0, 3}, {0, 4}});
  expect_graph(merge_close_junctions(g, std::nextafter(1.0, 0.0)), g.nodes, g.edges);
  // Triangle of junctions with pendants; the shortest pair (1, 2) is found last but merged first.
  const Point p0{0, 0}, p1{1, 0}, p2{1, 0.2}, mid{(p1.x + p2.x) * 0.5, (p1.y + p2.y) * 0.5};
  expect_graph(merge_close_junctions({{p0, p1, p2, {-1, 0}, {2, 0}, {1, 1}},
                                      {{0, 1}, {0, 2}, {1, 2}, {0, 3}, {1, 4}, {2, 5}}},
                                     2.0),
               {{(p0.x + mid.x) * 0.5, (p0.y + mid.y) * 0.5}, {-1, 0}, {2, 0}, {1, 1}},
               {{0, 1}, {0, 2}, {0, 3}});
  // Equal lengths keep search order: A(0,0)-B(1,0) merges before B-C(2,0). C would then join at
  // 1.25, out of reach of A, so it stays; with reach 1.25 it joins.
  const Graph run{{{0, 0}, {1, 0}, {2, 0}, {0, 1}, {0, -1}, {1, 1}, {2, 1}, {2, -1}},
                  {{0, 1}, {1, 2}, {0, 3}, {0, 4}, {1, 5}, {2, 6}, {2, 7}}};
  expect_graph(merge_close_junctions(run, 1.0),
               {{0.5, 0}, {2, 0}, {0, 1}, {0, -1}, {1, 1}, {2, 1}, {2, -1}},
               {{0, 1}, {0, 2}, {0, 3}, {0, 4}, {1, 5}, {1, 6}});
  expect_graph(merge_close_junctions(run, 1.25),
               {{1.25, 0}, {0, 1}, {0, -1}, {1, 1}, {2, 1}, {2, -1}},
               {{0, 1}, {0, 2}, {0, 3}, {0, 4}, {0, 5}});
  // A second path between merged junctions through one node would hang off the merged node as
  // a doubled edge: a spur, so it goes.
  expect_graph(merge_close_junctions({{{0, 0}, {1, 0}, {0.5, 0.3}, {-1, 1}, {-1, -1}, {2, 1},
                                       {2, -1}},
                                      {{0, 1}, {0, 2}, {2, 1}, {0, 3}, {0, 4}, {1, 5}, {1, 6}}},
                                     1.0),
               {{0.5, 0}, {-1, 1}, {-1, -1}, {2, 1}, {2, -1}}, {{0, 1}, {0, 2}, {0, 3}, {0, 4}});
  // A junction path back to itself changes nothing.
  const Graph back{{{0, 0}, {0.1, 0.1}, {0.2, 0}, {-1, 0}, {0, -1}},
                   {{0, 1}, {1, 2}, {2, 0}, {0, 3}, {0, 4}}};
  expect_graph(merge_close_junctions(back, 10.0), back.nodes, back.edges);
  // Nodes without edges disappear; the rest are renumbered in order.
  expect_graph(merge_close_junctions({{{0, 0}, {1, 1}, {2, 2}, {3, 3}}, {{3, 1}}}, 1.0),
               {{1, 1}, {3, 3}}, {{1, 0}});
}

TEST(PruneShortTips, Cases) {
  // Length exactly 1: kept at L = 1, removed at 0.9 L and just above 1.
  Graph g{{{0, 0}, {0.25, 0}, {0.5, 0}, {1, 0}}, {{0, 1}, {1, 2}, {2, 3}}};
  for (const auto& [min_len, kept] :
       {std::pair{1.0, true}, {1.0 / 0.9, false}, {std::nextafter(1.0, 2.0), false}}) {
    const Graph p = prune_short_tips(g, min_len);
    EXPECT_EQ(p.nodes, g.nodes);
    EXPECT_EQ(p.edges, kept ? g.edges : Edges{}) << min_len;
  }
  // A junction with three tips.
  g = {{{0, 0}}, {}};
  add_path(g, 0, {{0.25, 0}, {0.5, 0}});
  add_path(g, 0, {{-0.25, 0}, {-0.5, 0}});
  add_path(g, 0, {{0, 5}, {0, 10}});
  // The short tips go in one pass; the long one is left as one chain with both ends tips.
  const Graph p = prune_short_tips(g, 1.0);
  EXPECT_EQ(p.edges, (Edges{{0, 5}, {5, 6}}));
  const std::vector<Chain> chains = extract_chains(p);
  ASSERT_EQ(chains.size(), 1u);
  EXPECT_EQ(chains[0].points, (Points{{0, 0}, {0, 5}, {0, 10}}));
  EXPECT_TRUE(chains[0].start_is_tip && chains[0].end_is_tip);
  expect_graph(prune_short_tips(g, 20.0), g.nodes, {});
  // J (0) has two 0.5 tips and a 0.6 edge to junction K (5), which has two long tips. With
  // degrees fixed per pass the second tip cannot run on through J to K (1.1 >= L).
  g = {{{0, 0}}, {}};
  add_path(g, 0, {{0, 0.25}, {0, 0.5}});
  add_path(g, 0, {{0, -0.25}, {0, -0.5}});
  const std::size_t k = add_path(g, 0, {{0.6, 0}});
  add_path(g, k, {{0.6, 10}});
  add_path(g, k, {{0.6, -10}});
  EXPECT_EQ(prune_short_tips(g, 1.0).edges, (Edges{{5, 6}, {5, 7}}));
}

TEST(PruneShortTips, KeepingComponentsLeavesEachItsLongestPath) {
  // A short isolated path, a small star of three tips (0.5, 0.25 and 0.4 long) and a junction
  // with two long tips and a short one: short tips pruned at L = 1, whole components too unless
  // components are kept.
  Graph g{{{0, 0}, {0.3, 0}, {0.6, 0}}, {{0, 1}, {1, 2}}};
  const std::size_t star = g.nodes.size();
  g.nodes.push_back({10, 0});
  add_path(g, star, {{10.25, 0}, {10.5, 0}});
  add_path(g, star, {{10, 0.25}});
  add_path(g, star, {{9.7, 0}, {9.6, 0}});
  const std::size_t j = g.nodes.size();
  g.nodes.push_back({20, 0});
  add_path(g, j, {{20, 5}});
  add_path(g, j, {{20, -5}});
  add_path(g, j, {{20.5, 0}});
  const Edges long_tips{{j, j + 1}, {j, j + 2}};
  EXPECT_EQ(prune_short_tips(g, 1.0).edges, long_tips);
  const Graph kept = prune_short_tips(g, 1.0, true);
  EXPECT_EQ(kept.edges, (Edges{{0, 1}, {1, 2}, {star, star + 1}, {star + 1, star + 2},
                               {star, star + 4}, {star + 4, star + 5}, {j, j + 1}, {j, j + 2}}));
  // Off, nothing changes: an isolated path below L still goes.
  EXPECT_TRUE(prune_short_tips({{{0, 0}, {0.9, 0}}, {{0, 1}}}, 1.0).edges.empty());
}

TEST(PruneShortTips, ByProtrusionATipIsMeasuredFromTheStrokesEdge) {
  // A junction with two long tips and one of 1.5, pruned at L = 1 only when the stroke there
  // is more than 1 wide (a reach of more than 0.5): 1.5 - 0.6 < 1, 1.5 - 0.4 >= 1.
  Graph g{{{0, 0}}, {}};
  add_path(g, 0, {{0, 5}});
  add_path(g, 0, {{0, -5}});
  add_path(g, 0, {{0.75, 0}, {1.5, 0}});
  EXPECT_EQ(prune_short_tips(g, 1.0).edges.size(), 4U);
  const auto reach = [](double r) {
    return [r](const Point& p) { return p == Point{0, 0} ? r : 100.0; };
  };
  EXPECT_EQ(prune_short_tips(g, 1.0, false, reach(0.4)).edges.size(), 4U);
  EXPECT_EQ(prune_short_tips(g, 1.0, false, reach(0.6)).edges, (Edges{{0, 1}, {0, 2}}));
  // A tip of 2 kept in the first pass is walked again once its junction J loses a short tip: it
  // runs on through J to K, 1 further, where the stroke reaches 2.5: 3 - 2.5 < 1.
  Graph c{{{0, 0}}, {}};
  add_path(c, 0, {{-2, 0}});
  add_path(c, 0, {{0, 0.5}});
  const std::size_t k = add_path(c, 0, {{1, 0}});
  add_path(c, k, {{1, 10}});
  add_path(c, k, {{1, -10}});
  const auto wide_at_k = [](const Point& p) { return p == Point{1, 0} ? 2.5 : 0.0; };
  EXPECT_EQ(prune_short_tips(c, 1.0, false, wide_at_k).edges, (Edges{{k, k + 1}, {k, k + 2}}));
  // The same once J loses its short branch only in the second pass, after the branch's own two
  // short tips: the tip kept in the first pass is still walked again.
  Graph d{{{0, 0}}, {}};
  add_path(d, 0, {{-2, 0}});
  const std::size_t q = add_path(d, 0, {{0, 0.5}});
  add_path(d, q, {{-0.1, 0.6}});
  add_path(d, q, {{0.1, 0.6}});
  const std::size_t kd = add_path(d, 0, {{1, 0}});
  add_path(d, kd, {{1, 10}});
  add_path(d, kd, {{1, -10}});
  EXPECT_EQ(prune_short_tips(d, 1.0, false, wide_at_k).edges, (Edges{{kd, kd + 1}, {kd, kd + 2}}));
}

TEST(ExtractChains, LoopsAndPathsStartWhereExpected) {
  // A square loop starts at its lowest node, heading to that node's first neighbour.
  const Points sq{{0, 0}, {1, 0}, {1, 1}, {0, 1}};
  std::vector<Chain> c = extract_chains({sq, {{2, 3}, {3, 0}, {0, 1}, {1, 2}}});
  ASSERT_EQ(c.size(), 1u);
  EXPECT_EQ(c[0].points, (Points{sq[0], sq[3], sq[2], sq[1], sq[0]}));
  EXPECT_TRUE(c[0].start == 0 && c[0].end == 0);
  EXPECT_FALSE(c[0].start_is_tip || c[0].end_is_tip);
  // Figure-eight around node 2: two loops through it.
  const Points f{{-1, 1}, {-1, -1}, {0, 0}, {1, 1}, {1, -1}};
  c = extract_chains({f, {{2, 0}, {0, 1}, {1, 2}, {2, 3}, {3, 4}, {4, 2}}});
  ASSERT_EQ(c.size(), 2u);
  EXPECT_EQ(c[0].points, (Points{f[2], f[0], f[1], f[2]}));
  EXPECT_EQ(c[1].points, (Points{f[2], f[3], f[4], f[2]}));
  EXPECT_TRUE(c[0].start == 2 && c[0].end == 2 && c[1].start == 2 && c[1].end == 2);
  // Three-node path with its middle node first: runs from end node 1 to end node 2.
  const Points p{{1, 0}, {2, 0}, {0, 0}};
  c = extract_chains({p, {{2, 0}, {0, 1}}});
  ASSERT_EQ(c.size(), 1u);
  EXPECT_EQ(c[0].points, (Points{p[1], p[0], p[2]}));
  EXPECT_TRUE(c[0].start == 1 && c[0].end == 2);
  EXPECT_TRUE(c[0].start_is_tip && c[0].end_is_tip);
  EXPECT_TRUE(extract_chains({{{0, 0}, {1, 1}}, {}}).empty());
}

TEST(GraphStages, EdgeNamingAMissingNodeIsAnInternalError) {
  const Graph bad{{{0, 0}, {1, 0}}, {{0, 1}, {1, 2}}};
  EXPECT_THROW(merge_close_junctions(bad, 1.0), InternalError);
  EXPECT_THROW(prune_short_tips(bad, 1.0), InternalError);
  EXPECT_THROW(extract_chains(bad), InternalError);
}

// Simple graph with valid indices, and chains covering every edge exactly once.
void expect_graph_and_chains_sound(const Graph& g) {
  std::map<std::pair<double, double>, std::size_t> node_at;  // jittered positions are distinct
  for (std::size_t v = 0; v < g.nodes.size(); ++v) node_at[{g.nodes[v].x, g.nodes[v].y}] = v;
  ASSERT_EQ(node_at.size(), g.nodes.size());
  std::map<std::pair<std::size_t, std::size_t>, int> cover;
  std::vector<std::size_t> deg(g.nodes.size(), 0);
  for (const auto& [a, b] : g.edges) {
    ASSERT_TRUE(a < g.nodes.size() && b < g.nodes.size() && a != b);
    ASSERT_TRUE(cover.emplace(std::pair(std::min(a, b), std::max(a, b)), 0).second);
    ++deg[a], ++deg[b];
  }
  for (const Chain& c : extract_chains(g)) {
    ASSERT_GE(c.points.size(), c.start == c.end ? 4u : 2u);
    std::vector<std::size_t> ids;
    for (const Point& p : c.points) ids.push_back(node_at.at({p.x, p.y}));
    EXPECT_TRUE(ids.front() == c.start && ids.back() == c.end);
    EXPECT_TRUE(c.start_is_tip == (deg[c.start] == 1) && c.end_is_tip == (deg[c.end] == 1));
    for (std::size_t k = 1; k + 1 < ids.size(); ++k) EXPECT_EQ(deg[ids[k]], 2u);
    for (std::size_t k = 0; k + 1 < ids.size(); ++k) {
      ++cover.at({std::min(ids[k], ids[k + 1]), std::max(ids[k], ids[k + 1])});
    }
    if (deg[c.start] == 2) {
      EXPECT_EQ(c.start, *std::min_element(ids.begin(), ids.end()));
    } else if (c.start != c.end) {
      EXPECT_LT(c.start, c.end);
    }
  }
  for (const auto& [edge, count] : cover) EXPECT_EQ(count, 1) << edge.first << "-" << edge.second;
}

TEST(GraphStages, RandomLatticeInvariants) {
  std::mt19937 rng(12345);
  std::uniform_real_distribution<double> jitter(-0.2, 0.2), unit(0.0, 1.0);
  for (int trial = 0; trial < 200; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    const int n = 3 + static_cast<int>(rng() % 6);
    Points lattice;
    for (int i = 0; i < n * n; ++i) lattice.push_back({i % n + jitter(rng), i / n + jitter(rng)});
    // Random lattice and diagonal edges in random orientation, with repeats and degenerates.
    std::vector<Segment> segs;
    const double keep = 0.4 + 0.5 * unit(rng);
    const auto add = [&](int u, int v) {
      if (unit(rng) >= keep) return;
      segs.push_back(rng() % 2 ? Segment{lattice[u], lattice[v]} : Segment{lattice[v], lattice[u]});
      if (unit(rng) < 0.1) segs.push_back({lattice[v], lattice[u]});
      if (unit(rng) < 0.05) segs.push_back({lattice[u], lattice[u]});
    };
    for (int i = 0; i < n * n; ++i) {
      if (i % n + 1 < n) add(i, i + 1);
      if (i / n + 1 < n) add(i, i + n);
      if (i % n + 1 < n && i / n + 1 < n && unit(rng) < 0.2) add(i, i + n + 1);
    }
    const Graph g = segments_to_graph(segs, 0.01);
    expect_graph_and_chains_sound(g);
    const Graph p = prune_short_tips(g, 3.0 * unit(rng));
    EXPECT_EQ(p.nodes, g.nodes);
    expect_graph_and_chains_sound(p);
    // Pruning keeps a subsequence of the input edges.
    auto next = g.edges.begin();
    for (const Edge& e : p.edges) {
      next = std::find(next, g.edges.end(), e);
      ASSERT_NE(next, g.edges.end());
      ++next;
    }
    expect_graph_and_chains_sound(merge_close_junctions(p, 2.0 * unit(rng)));
  }
}

}  // namespace
}  // namespace linetopo
