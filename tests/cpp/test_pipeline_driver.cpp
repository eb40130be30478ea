// The topologize driver end to end, the retry of rejected polygons and the batch runner.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <numbers>
#include <random>
#include <string>
#include <thread>

#include "boundary/boundary.hpp"
#include "pipeline/driver_detail.hpp"
#include "pipeline/pipeline.hpp"
#include "skeleton_cdt/skeleton_cdt.hpp"
#include "support/welding.hpp"

namespace linetopo {
namespace {

TopologizeParams params_of(double buffer_distance, double feature_size) {
  TopologizeParams p;
  p.buffer_distance = buffer_distance;
  p.feature_size = feature_size;
  return p;
}

// A polyline through `corners`, each leg cut into `pieces` equal steps.
Polyline stroke(const std::vector<Point>& corners, int pieces) {
  Polyline out{corners.front()};
  for (std::size_t c = 1; c < corners.size(); ++c) {
    const Point a = corners[c - 1], b = corners[c];
    for (int i = 1; i <= pieces; ++i) {
      const double t = static_cast<double>(i) / pieces;
      out.push_back({a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t});
    }
  }
  return out;
}

std::vector<Polyline> cross() {
  return {stroke({{-10, 0}, {10, 0}}, 20), stroke({{0, -10}, {0, 10}}, 20)};
}

std::string failure_of(const std::vector<Polyline>& curves, const TopologizeParams& p) {
  try {
    topologize_inner(curves, p);
  } catch (const InputError& e) {
    return e.what();
  }
  return "";
}

// Every chain starts and ends exactly at the node positions its ids name.
void expect_consistent(const TopologyResult& r) {
  ASSERT_EQ(r.chains.size(), r.chain_node_ids.size());
  for (std::size_t i = 0; i < r.chains.size(); ++i) {
    const auto [s, e] = r.chain_node_ids[i];
    ASSERT_LT(s, r.nodes.size());
    ASSERT_LT(e, r.nodes.size());
    ASSERT_GE(r.chains[i].size(), 2u);
    EXPECT_EQ(r.chains[i].front(), r.nodes[s]);
    EXPECT_EQ(r.chains[i].back(), r.nodes[e]);
  }
}

void expect_same(const TopologyResult& a, const TopologyResult& b) {
  EXPECT_EQ(a.chains, b.chains);
  EXPECT_EQ(a.nodes, b.nodes);
  EXPECT_EQ(a.chain_node_ids, b.chain_node_ids);
  EXPECT_EQ(a.widths, b.widths);
}

TEST(Driver, NoSkeletonGivesEmptyResult) {
  TopologizeParams p = params_of(1.0, 1.0);
  p.max_nodes = 0;
  p.compute_widths = true;
  for (const std::vector<Polyline>& curves :
       {std::vector<Polyline>{}, std::vector<Polyline>{{}, {{3, 3}}}}) {
    const TopologyResult r = topologize_inner(curves, p);
    EXPECT_TRUE(r.chains.empty());
    EXPECT_TRUE(r.nodes.empty());
    EXPECT_TRUE(r.chain_node_ids.empty());
    EXPECT_TRUE(r.widths.empty());
    EXPECT_TRUE(triangulate_curves(curves, p).empty());
  }
}

TEST(Driver, CrossSharesOneJunctionNode) {
  const TopologyResult r = topologize_inner(cross(), params_of(1.0, 1.0));
  expect_consistent(r);
  ASSERT_EQ(r.chains.size(), 4u);
  ASSERT_EQ(r.nodes.size(), 5u);
  std::vector<int> uses(r.nodes.size(), 0);
  for (const auto& [s, e] : r.chain_node_ids) {
    ++uses[s];
    ++uses[e];
  }
  const auto hub = std::max_element(uses.begin(), uses.end()) - uses.begin();
  EXPECT_EQ(uses[hub], 4);
  EXPECT_LT(std::hypot(r.nodes[hub].x, r.nodes[hub].y), 1.0);
  // Output node ids count up in order of first appearance.
  EXPECT_EQ(r.chain_node_ids.front().first, 0u);
  EXPECT_EQ(r.chain_node_ids.front().second, 1u);
  expect_same(r, topologize_inner(cross(), params_of(1.0, 1.0)));
}

TEST(Driver, ClosedStrokeGivesLoopChain) {
  const Polyline square = stroke({{0, 0}, {10, 0}, {10, 10}, {0, 10}, {0, 0}}, 10);
  const TopologyResult r = topologize_inner({square}, params_of(1.0, 1.0));
  expect_consistent(r);
  ASSERT_EQ(r.chains.size(), 1u);
  EXPECT_EQ(r.nodes.size(), 1u);
  EXPECT_EQ(r.chain_node_ids[0], (std::pair<std::size_t, std::size_t>{0, 0}));
}

TEST(Driver, TracedRingsThatThinningMakesMeetStillGiveTheirCenterline) {
  // At fs 24 the rings are thinned to 1.2: the outer ring's dip below the hole's tip goes, and
  // the chord left passes above the tip.
  const Ring outer{{0, 0.4}, {9, 0.4}, {9.6, 0.2}, {10.4, 0.4}, {200, 0.4}, {200, 60}, {0, 60}};
  const Ring hole{{9.6, 0.3}, {9, 1}, {9, 30}, {30, 30}, {30, 1}, {10.4, 1}};
  const TopologyResult r = topologize_rings({outer, hole}, params_of(12.0, 24.0));
  expect_consistent(r);
  double length = 0.0;
  for (const Polyline& c : r.chains) {
    for (std::size_t k = 1; k < c.size(); ++k) length += dist(c[k - 1], c[k]);
  }
  EXPECT_GT(length, 150.0);
}

TEST(Driver, WidthsOfStraightBandAreAboutTwiceRadius) {
  TopologizeParams p = params_of(1.0, 1.0);
  p.compute_widths = true;
  const TopologyResult r = topologize_inner({stroke({{0, 0}, {40, 0}}, 40)}, p);
  expect_consistent(r);
  ASSERT_EQ(r.chains.size(), 1u);
  ASSERT_EQ(r.widths.size(), 1u);
  ASSERT_EQ(r.widths[0].size(), r.chains[0].size());
  for (std::size_t i = 0; i < r.chains[0].size(); ++i) {
    const double x = r.chains[0][i].x;
    if (x > 6 && x < 34) {
      EXPECT_NEAR(r.widths[0][i], 2.0, 0.15) << x;
    }
  }
  p.compute_widths = false;
  const TopologyResult plain = topologize_inner({stroke({{0, 0}, {40, 0}}, 40)}, p);
  EXPECT_TRUE(plain.widths.empty());
  EXPECT_EQ(plain.chains, r.chains);
}

TEST(Driver, StageSwitches) {
  const TopologizeParams base = params_of(1.0, 1.0);
  TopologizeParams raw = base;
  raw.simplification = 0.0;
  std::size_t base_points = 0, raw_points = 0;
  for (const auto& c : topologize_inner(cross(), base).chains) base_points += c.size();
  for (const auto& c : topologize_inner(cross(), raw).chains) raw_points += c.size();
  EXPECT_GT(raw_points, base_points);
  // Without pruning and merging the skeleton keeps at least as many chains.
  TopologizeParams keep = base;
  keep.min_tip_fraction = std::nan("");
  keep.junction_merge_fraction = 0.0;
  EXPECT_GE(topologize_inner(cross(), keep).chains.size(), 4u);
}

TEST(Driver, NodeLimitCountsGraphAsBuilt) {
  const std::vector<Polyline> curves = {stroke({{0, 0}, {30, 5}}, 30),
                                        stroke({{15, -8}, {15, 12}}, 20)};
  TopologizeParams p = params_of(1.0, 1.0);
  p.max_nodes = 0;
  const std::string zero = failure_of(curves, p);
  const std::string prefix = "skeleton has ";
  ASSERT_EQ(zero.substr(0, prefix.size()), prefix);
  const std::size_t count = std::stoul(zero.substr(prefix.size()));
  ASSERT_GT(count, 10u);
  EXPECT_EQ(zero, prefix + std::to_string(count) + " nodes, exceeding max_nodes limit of 0");
  p.max_nodes = count;
  EXPECT_EQ(failure_of(curves, p), "");
  EXPECT_LT(topologize_inner(curves, p).nodes.size(), count);
  p.max_nodes = count - 1;
  EXPECT_EQ(failure_of(curves, p), "skeleton has " + std::to_string(count) +
                                       " nodes, exceeding max_nodes limit of " +
                                       std::to_string(count - 1));
}

TEST(Driver, WidthsCheckRunsFirst) {
  TopologizeParams p = params_of(1.0, 1.0);
  p.per_curve_widths = Widths{{1.0, 1.0}};
  EXPECT_EQ(failure_of({stroke({{0, 0}, {5, 0}}, 5)}, p),
            "per_curve_widths[0] has 2 entries but curve 0 has 6 points; they must match (or pass "
            "an empty list to use the uniform buffer)");
  p.per_curve_widths = Widths{std::vector<double>(6, 0.5)};
  EXPECT_EQ(topologize_inner({stroke({{0, 0}, {5, 0}}, 5)}, p).chains.size(), 1u);
}

// Resampling finer than the floor resamples at the floor: a straight stroke stays one chain (one
// shorter than the pruning length gives none), with the nodes of a coarse spacing.
TEST(Driver, FineResampleGivesTheCoarseResult) {
  for (const double length : {10.0, 1.0}) {
    SCOPED_TRACE(length);
    const std::vector<Polyline> line{{{0, 0}, {length, 0}}};
    TopologizeParams p = params_of(0.5, 1.0);
    p.resample = 0.1;
    const TopologyResult coarse = topologize_inner(line, p);
    ASSERT_EQ(coarse.chains.size(), length > 2.0 ? 1u : 0u);
    p.resample = defaults::kMinResampleFraction * p.feature_size;
    const TopologyResult floor = topologize_inner(line, p);
    for (const double fine : {2e-5, 2e-7}) {
      p.resample = fine;
      const TopologyResult r = topologize_inner(line, p);
      expect_same(r, floor);
      ASSERT_EQ(r.nodes.size(), coarse.nodes.size());
      for (const Point& node : r.nodes) {
        const auto near = [&node](const Point& q) { return dist(q, node) < 0.1; };
        EXPECT_TRUE(std::any_of(coarse.nodes.begin(), coarse.nodes.end(), near));
      }
    }
  }
}

// Every setting the options leave to resolve, as the documentation states it, at fs = 2 and a
// buffer of 0.5: written out as numbers, so that a changed default fails here.
TEST(Driver, ResolveDerivesTheDocumentedSettings) {
  const Settings s = resolve(params_of(0.5, 2.0));
  EXPECT_DOUBLE_EQ(s.merge_tolerance, 0.02);
  EXPECT_DOUBLE_EQ(s.decimation_spacing, 0.3);
  EXPECT_DOUBLE_EQ(s.inflation.arc_tolerance, 0.4);
  EXPECT_DOUBLE_EQ(s.inflation.min_hole_area, 0.4);
  EXPECT_DOUBLE_EQ(s.boundary.tolerance, 0.1);
  EXPECT_NEAR(s.boundary.corner_angle, std::numbers::pi / 3, 1e-12);
  EXPECT_DOUBLE_EQ(s.boundary.max_edge, 3.0);
  EXPECT_DOUBLE_EQ(*s.boundary.ratio, 0.5);
  EXPECT_FALSE(s.boundary.spacing);
  EXPECT_DOUBLE_EQ(s.weld_tolerance, 0.1);
  EXPECT_DOUBLE_EQ(s.tip_length, 4.0);
  EXPECT_DOUBLE_EQ(s.junction_merge_distance, 3.0);
  EXPECT_DOUBLE_EQ(s.simplification, 0.2);
  EXPECT_FALSE(s.max_nodes);
  EXPECT_FALSE(s.compute_widths);
  TopologizeParams tiny = params_of(0.5, 2.0);
  tiny.subdivision_ratio = 1e-9;
  tiny.resample = 1e-9;
  const Settings floors = resolve(tiny);
  EXPECT_DOUBLE_EQ(*floors.boundary.ratio, 0.01);
  EXPECT_DOUBLE_EQ(*floors.boundary.spacing, 0.02);
}

// The boundary point limit grows with the input above its floor; the environment sets it instead.
TEST(Driver, PointLimitFollowsTheInputOrTheEnvironment) {
  unsetenv(kMaxPointsVariable);
  const struct Unset {
    ~Unset() { unsetenv(kMaxPointsVariable); }
  } unset;
  const std::size_t per = defaults::kBoundaryPointsPerInputPoint;
  const std::size_t most = std::numeric_limits<std::size_t>::max();
  EXPECT_EQ(boundary_point_limit(0), kPointBudgetFloor);
  EXPECT_EQ(boundary_point_limit(kPointBudgetFloor / per), kPointBudgetFloor);
  EXPECT_EQ(boundary_point_limit(1'000'000), 1'000'000 * per);
  EXPECT_EQ(boundary_point_limit(most / 2), most);
  const std::size_t per_curve = defaults::kBoundaryPointsPerCurve;
  EXPECT_EQ(boundary_point_limit(1'000'000, 500'000), 1'000'000 * per + 500'000 * per_curve);
  EXPECT_EQ(boundary_point_limit(most / 2, most / 2), most);
  const TopologizeParams p = params_of(1.0, 1.0);
  EXPECT_EQ(resolve(p, cross()).boundary.max_points, kPointBudgetFloor);

  setenv(kMaxPointsVariable, "10", 1);
  EXPECT_EQ(boundary_point_limit(1'000'000, 1'000'000), 10u);
  const std::string refused = failure_of(cross(), p);
  EXPECT_EQ(refused.find("feature_size is too small: boundary preparation would create at least "),
            0u);
  const std::string tail = ", more than the limit of 10; set LINETOPO_MAX_POINTS to allow more";
  EXPECT_TRUE(refused.ends_with(tail)) << refused;
  EXPECT_THROW(triangulate_curves(cross(), p), InputError);
  setenv(kMaxPointsVariable, "1000000", 1);
  EXPECT_EQ(failure_of(cross(), p), "");
  for (const std::string text :
       {"", "0", "-5", "+5", " 5", "12abc", "1e6", "99999999999999999999"}) {
    setenv(kMaxPointsVariable, text.c_str(), 1);
    EXPECT_EQ(failure_of(cross(), p),
              "LINETOPO_MAX_POINTS must be a positive integer, got '" + text + "'");
  }
  setenv(kMaxPointsVariable, "\xff\t9", 1);  // shown as valid text
  EXPECT_EQ(failure_of(cross(), p), "LINETOPO_MAX_POINTS must be a positive integer, got '??9'");
}

std::vector<Polyline> scribble(std::mt19937_64& rng, int strokes, int points, double step) {
  std::uniform_real_distribution<double> turn(-2.5, 2.5);
  std::uniform_real_distribution<double> start(0.0, 30.0);
  std::vector<Polyline> curves;
  for (int s = 0; s < strokes; ++s) {
    Point p{start(rng), start(rng)};
    double heading = turn(rng);
    Polyline c{p};
    for (int i = 0; i < points; ++i) {
      heading += turn(rng);
      p = {p.x + step * std::cos(heading), p.y + step * std::sin(heading)};
      c.push_back(p);
    }
    curves.push_back(std::move(c));
  }
  return curves;
}

std::size_t point_count(const BufferPolygon& p) {
  std::size_t n = p.outer.size();
  for (const Ring& h : p.holes) n += h.size();
  return n;
}

// Coarse boundary simplification makes rings cross. The rings that meet are prepared again
// unsimplified before triangulating; a polygon still rejected is retried with those, or else all
// rings, unsimplified, and a recovered polygon keeps the rings it tried.
TEST(Driver, RejectedPolygonsAreRecovered) {
  std::mt19937_64 rng(7);
  detail::RejectionCount skeleton_count, triangle_count;
  std::size_t kept_simplified = 0;
  for (int trial = 0; trial < 150; ++trial) {
    TopologizeParams p = params_of(0.6, 1.0);
    p.boundary_simplification = 0.8;
    const auto curves = scribble(rng, 3, 60, 0.8);
    const auto inflated = build_buffer_polygons(curves, p);
    const BoundarySettings boundary = resolve(p).boundary;
    auto prepared = preprocess_boundaries(inflated, boundary);
    auto for_triangles = prepared;
    BoundarySettings unsimplified = boundary;
    unsimplified.tolerance = 0.0;
    const auto full = preprocess_boundaries(inflated, unsimplified);
    const std::size_t before = skeleton_count.recovered + skeleton_count.crossed;
    const auto original = prepared;
    detail::polygon_skeletons(prepared, inflated, boundary, &skeleton_count);
    detail::polygon_triangles(for_triangles, inflated, boundary, &triangle_count);
    std::size_t changed = 0;
    for (std::size_t k = 0; k < prepared.size(); ++k) {
      if (prepared[k].outer == original[k].outer && prepared[k].holes == original[k].holes) {
        continue;
      }
      ++changed;
      ASSERT_EQ(prepared[k].holes.size(), full[k].holes.size());
      EXPECT_LE(point_count(prepared[k]), point_count(full[k]));
      if (point_count(prepared[k]) < point_count(full[k])) ++kept_simplified;
      EXPECT_FALSE(try_skeleton(prepared[k].outer, prepared[k].holes)->segments.empty());
    }
    EXPECT_EQ(changed, skeleton_count.recovered + skeleton_count.crossed - before);
  }
  EXPECT_GT(kept_simplified, 0u);
  // Mostly found before triangulating; the floating-point check may miss a near touch.
  EXPECT_GT(skeleton_count.crossed, 0u);
  EXPECT_GE(skeleton_count.crossed, skeleton_count.rejected);
  EXPECT_EQ(skeleton_count.recovered, skeleton_count.rejected);
  EXPECT_EQ(triangle_count.crossed, skeleton_count.crossed);
  EXPECT_EQ(triangle_count.rejected, skeleton_count.rejected);
  EXPECT_EQ(triangle_count.recovered, triangle_count.rejected);
}

// A run asks its CancelCheck inside every long stage, not only between stages: a dense input's
// offsets, strips, triangulation and graph stages each ask it many times, and a stop asked for
// at any of those points ends the run with Cancelled. The pool stays usable after.
TEST(Driver, CancelledInsideEveryLongStage) {
  std::mt19937_64 rng(3);
  std::vector<Polyline> curves;
  for (int k = 0; k < 24; ++k) {  // 24 x 30 strokes of 50 points, fused as ink on paper
    for (Polyline& c : scribble(rng, 30, 50, 0.5)) {
      for (Point& q : c) q = {q.x + 30.0 * (k % 6), q.y + 30.0 * (k / 6)};
      curves.push_back(std::move(c));
    }
  }
  const TopologizeParams p = params_of(0.6, 1.2);
  std::atomic<std::size_t> asked{0};
  const TopologyResult whole = topologize_inner(curves, p, [&] {
    ++asked;
    return false;
  });
  ASSERT_FALSE(whole.chains.empty());
  const std::size_t total = asked.load();
  EXPECT_GT(total, 200u);  // between stages alone: a handful of times
  for (const std::size_t stop_at : {total / 10, total / 3, total * 2 / 3, total - 2}) {
    std::atomic<std::size_t> seen{0};
    EXPECT_THROW(topologize_inner(curves, p, [&] { return ++seen > stop_at; }), Cancelled)
        << "stop at " << stop_at << " of " << total;
  }
  EXPECT_EQ(topologize_inner(curves, p).chains, whole.chains);
}

// Several callers at once share the pool, and each gets the single-run results in job order.
// A jittered n x n lattice from `origin` with random edges, as one polygon's skeleton; parts of a
// lattice's edges run in both directions, and some points are repeated under another index.
Skeleton lattice_skeleton(std::mt19937& rng, Point origin, int n) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  Skeleton k;
  for (int i = 0; i < n * n; ++i) {
    k.points.push_back({origin.x + i % n + 0.2 * unit(rng), origin.y + i / n + 0.2 * unit(rng)});
  }
  const auto add = [&](std::size_t u, std::size_t v) {
    if (unit(rng) < 0.3) return;
    if (unit(rng) < 0.1) {
      k.points.push_back(k.points[v]);
      v = k.points.size() - 1;
    }
    k.segments.push_back(rng() % 2 ? std::pair{u, v} : std::pair{v, u});
  };
  for (int i = 0; i < n * n; ++i) {
    const auto u = static_cast<std::size_t>(i);
    if (i % n + 1 < n) add(u, u + 1);
    if (i / n + 1 < n) add(u, u + static_cast<std::size_t>(n));
  }
  // Points in the order the segments first reach them, as skeletons list them.
  Skeleton out;
  std::vector<std::size_t> index(k.points.size(), k.points.size());
  const auto renumber = [&](std::size_t v) {
    if (index[v] == k.points.size()) {
      index[v] = out.points.size();
      out.points.push_back(k.points[v]);
    }
    return index[v];
  };
  for (const auto& [a, b] : k.segments) {
    const std::size_t na = renumber(a);
    out.segments.emplace_back(na, renumber(b));
  }
  return out;
}

// Polygons whose skeletons come within a weld cell of each other are welded as one graph, the
// others each alone on the pool; either way the chains are those of one graph of all segments.
TEST(Driver, SkeletonsCleanedApartGiveTheChainsOfOneGraph) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  int apart = 0;
  for (int trial = 0; trial < 60; ++trial) {
    Settings s = resolve(params_of(0.3, 1.0));
    s.weld_tolerance = trial % 2 ? 0.05 : 0.05 + 0.6 * unit(rng);
    s.tip_length = 2.5 * unit(rng);
    s.junction_merge_distance = 1.5 * unit(rng);
    std::vector<Skeleton> parts;
    std::vector<Segment> all;
    double x = 0.0;
    double y = 0.0;
    for (int part = 0; part < 2 + trial % 4; ++part) {
      const int n = 2 + static_cast<int>(rng() % 4);
      parts.push_back(lattice_skeleton(rng, {x, y}, n));
      for (const auto& [a, b] : parts.back().segments) {
        all.push_back({parts.back().points[a], parts.back().points[b]});
      }
      // The next lattice starts well clear, or in line with this one and a jitter away.
      const bool close = unit(rng) < 0.2;
      x += n - 1 + (close ? 0.1 : 1.0);
      y = close ? y : 3.0 * unit(rng);
    }
    apart += weld_neighbours(parts, s.weld_tolerance).apart ? 1 : 0;
    const std::vector<Chain> got = detail::skeleton_chains(parts, s, {});
    Graph g = segments_to_graph(all, s.weld_tolerance);
    g = merge_close_junctions(prune_short_tips(g, s.tip_length), s.junction_merge_distance);
    const std::vector<Chain> want = extract_chains(g);
    ASSERT_EQ(got.size(), want.size()) << "trial " << trial;
    for (std::size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].points, want[i].points) << "trial " << trial << " chain " << i;
      EXPECT_EQ(std::pair(got[i].start, got[i].end), std::pair(want[i].start, want[i].end));
      EXPECT_EQ(std::pair(got[i].start_is_tip, got[i].end_is_tip),
                std::pair(want[i].start_is_tip, want[i].end_is_tip));
    }
  }
  EXPECT_GT(apart, 10);
  EXPECT_LT(apart, 50);
}

TEST(Driver, SkeletonsWeldApartOnlyBeyondTheNextCell) {
  const auto weld_apart = [](const std::vector<Skeleton>& parts, double cell) {
    return weld_neighbours(parts, cell).apart;
  };
  const auto two = [](Point a, Point b) {
    return std::vector<Skeleton>{{{a}, {}}, {{{-5, -5}}, {}}, {{b}, {}}};
  };
  const double c = 0.1;
  EXPECT_FALSE(weld_apart(two({0, 0}, {0.04, 0}), c));      // one cell
  EXPECT_FALSE(weld_apart(two({0, 0}, {0.14, -0.14}), c));  // diagonal neighbours
  EXPECT_FALSE(weld_apart(two({0.14, 0.14}, {0, 0}), c));
  EXPECT_FALSE(weld_apart(two({0, 0}, {-0.14, 0.06}), c));
  EXPECT_TRUE(weld_apart(two({0, 0}, {0.16, 0}), c));  // two cells
  EXPECT_TRUE(weld_apart(two({0, 0}, {0.06, 0.16}), c));
  EXPECT_TRUE(weld_apart(two({0.96, 0}, {0.06, 0.16}), c));  // a row's end is not the next row
  // Too far apart to key cells: welded together, which is never wrong.
  EXPECT_FALSE(weld_apart(two({0, 0}, {1e300, 0}), c));
  // Where weld cell numbers saturate, distinct far points share a cell: all count as crowded.
  const Point a{1e20, 0}, b{1e20 + 1e6, 0};
  const std::vector<Skeleton> far{{{a, b}, {{0, 1}}}};
  const WeldNeighbours near = weld_neighbours(far, c);
  EXPECT_EQ(near.crowded.front(), (std::vector<char>{1, 1}));
  EXPECT_EQ(weld_skeletons(far, near.crowded, c).nodes, segments_to_graph({{a, b}}, c).nodes);
}

TEST(Batch, ConcurrentCallersGetSingleRunResultsInJobOrder) {
  EXPECT_TRUE(run_batch({}).empty());
  std::mt19937_64 rng(11);
  std::vector<BatchJob> jobs;
  // The first job is the heaviest, so it finishes last when the pool has several threads.
  jobs.push_back({scribble(rng, 6, 400, 0.5), params_of(0.5, 1.0)});
  jobs.push_back({{}, params_of(1.0, 1.0)});
  for (int i = 0; i < 6; ++i) {
    jobs.push_back({scribble(rng, 1 + i % 3, 30, 0.7), params_of(0.4, 0.8)});
  }
  jobs[3].params.simplification = 0.0;
  jobs[4].params.junction_merge_fraction = 0.0;
  std::vector<std::vector<TopologyResult>> got(3);
  std::vector<std::thread> callers;
  for (auto& slot : got) callers.emplace_back([&jobs, &slot] { slot = run_batch(jobs); });
  for (auto& t : callers) t.join();
  for (const auto& results : got) {
    ASSERT_EQ(results.size(), jobs.size());
    for (std::size_t i = 0; i < jobs.size(); ++i) {
      expect_same(results[i], topologize_inner(jobs[i].curves, jobs[i].params));
    }
    EXPECT_TRUE(results[1].chains.empty());
    EXPECT_FALSE(results[0].chains.empty());
  }
}

TEST(Batch, FailureNamesTheJob) {
  std::vector<BatchJob> jobs(4, {{stroke({{0, 0}, {10, 3}}, 10)}, params_of(1.0, 1.0)});
  jobs[2].params.max_nodes = 1;
  const std::string inner = failure_of(jobs[2].curves, jobs[2].params);
  ASSERT_FALSE(inner.empty());
  try {
    run_batch(jobs);
    ADD_FAILURE() << "batch did not fail";
  } catch (const InputError& e) {
    EXPECT_EQ(std::string(e.what()), "topologize_batch job 2 failed: " + inner);
  }
}

}  // namespace
}  // namespace linetopo
