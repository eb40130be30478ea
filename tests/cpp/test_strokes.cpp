// Tests for joining chains into strokes through their nodes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <numbers>
#include <numeric>
#include <optional>
#include <random>
#include <string>
#include <tuple>

#include "strokes/strokes.hpp"

namespace linetopo {

void PrintTo(const Point& p, std::ostream* os) { *os << "(" << p.x << ", " << p.y << ")"; }

namespace {

using Lines = std::vector<Polyline>;
using Walks = std::vector<std::vector<StrokeChain>>;
using Ids = std::vector<std::pair<std::size_t, std::size_t>>;

struct Input {
  Lines chains;
  std::vector<Point> nodes;
  Ids ids;
};

// The chains with a node at every distinct end point, numbered in order of appearance.
Input topology(const Lines& chains) {
  Input in{chains, {}, {}};
  const auto node = [&](const Point& p) {
    const auto it = std::find(in.nodes.begin(), in.nodes.end(), p);
    if (it != in.nodes.end()) return static_cast<std::size_t>(it - in.nodes.begin());
    in.nodes.push_back(p);
    return in.nodes.size() - 1;
  };
  for (const Polyline& c : chains) in.ids.emplace_back(node(c.front()), node(c.back()));
  return in;
}

// Every chain in exactly one stroke, each stroke its chains joined at shared nodes (one point per
// joint), strokes ordered by their lowest chain.
void expect_sound(const Input& in, const Strokes& out) {
  ASSERT_EQ(out.strokes.size(), out.stroke_chains.size());
  std::vector<int> seen(in.chains.size(), 0);
  std::size_t previous_lowest = 0;
  for (std::size_t i = 0; i < out.strokes.size(); ++i) {
    const std::vector<StrokeChain>& walk = out.stroke_chains[i];
    ASSERT_FALSE(walk.empty());
    Polyline joined;
    std::size_t lowest = walk[0].chain, node = 0;
    for (const StrokeChain& s : walk) {
      ASSERT_LT(s.chain, in.chains.size());
      ++seen[s.chain];
      lowest = std::min(lowest, s.chain);
      Polyline pts = in.chains[s.chain];
      auto [from, to] = in.ids[s.chain];
      if (s.reversed) std::reverse(pts.begin(), pts.end()), std::swap(from, to);
      if (!joined.empty()) {
        EXPECT_EQ(from, node) << "stroke " << i;
      }
      joined.insert(joined.end(), pts.begin() + (joined.empty() ? 0 : 1), pts.end());
      node = to;
    }
    EXPECT_EQ(out.strokes[i], joined) << "stroke " << i;
    if (i > 0) {
      EXPECT_LT(previous_lowest, lowest);
    }
    previous_lowest = lowest;
  }
  for (std::size_t c = 0; c < seen.size(); ++c) {
    EXPECT_EQ(seen[c], 1) << "chain " << c;
  }
}

Strokes run(const Input& in, StrokeSettings settings = {}) {
  Strokes out = build_strokes(in.chains, in.nodes, in.ids, settings);
  expect_sound(in, out);
  return out;
}

bool line_less(const Polyline& a, const Polyline& b) {
  return std::lexicographical_compare(
      a.begin(), a.end(), b.begin(), b.end(),
      [](const Point& p, const Point& q) { return p.x < q.x || (p.x == q.x && p.y < q.y); });
}

Polyline ray(double degrees, const std::vector<double>& radii) {
  const double a = degrees * std::numbers::pi / 180.0;
  Polyline pts{{0, 0}};
  for (const double r : radii) pts.push_back({r * std::cos(a), r * std::sin(a)});
  return pts;
}

TEST(Strokes, CrossingTeeAndPlus) {
  Strokes s =
      run(topology({{{0, 0}, {1, 1}}, {{0, 0}, {-1, 1}}, {{0, 0}, {-1, -1}}, {{0, 0}, {1, -1}}}));
  EXPECT_EQ(s.strokes, (Lines{{{-1, -1}, {0, 0}, {1, 1}}, {{-1, 1}, {0, 0}, {1, -1}}}));
  EXPECT_EQ(s.stroke_chains, (Walks{{{2, true}, {0, false}}, {{1, true}, {3, false}}}));
  // T: the stem ends where the bar goes straight on.
  s = run(topology({{{0, 0}, {0, -1.5}}, {{0, 0}, {-2, 0}}, {{0, 0}, {2, 0}}}));
  EXPECT_EQ(s.strokes, (Lines{{{0, -1.5}, {0, 0}}, {{-2, 0}, {0, 0}, {2, 0}}}));
  EXPECT_EQ(s.stroke_chains, (Walks{{{0, true}}, {{1, true}, {2, false}}}));
  // Plus whose east arm kinks north right at the junction; over the reach it still heads east.
  s = run(topology({{{0, 0}, {0.05, 0.2}, {1, 0}, {2, 0}},
                    {{0, 0}, {0, 1}, {0, 2}},
                    {{0, 0}, {-2, 0}},
                    {{0, 0}, {0, -2}}}));
  EXPECT_EQ(s.stroke_chains, (Walks{{{2, true}, {0, false}}, {{3, true}, {1, false}}}));
}

TEST(Strokes, ReachIsMeasuredAlongTheChain) {
  // Unit segments (the repeated point adds none): the default reach, 3, finds the east arm at
  // (2, 1), 26.57 degrees up; a reach of 2.5 at (2, 0.5), 14.04 degrees; 1.5 straight east.
  const Input bend = topology({{{0, 0}, {1, 0}, {2, 0}, {2, 1}, {2, 2}, {2, 3}},
                               {{0, 0}, {-1, 0}, {-1, 0}, {-2, 0}, {-3, 0}},
                               {{0, 0}, {0, -1}, {0, -2}}});
  const auto joined = [&](double max_turn, std::optional<double> reach) {
    return run(bend, {max_turn, reach}).strokes.size() == 2;
  };
  EXPECT_TRUE(joined(27.0, {}));
  EXPECT_FALSE(joined(26.0, {}));
  EXPECT_TRUE(joined(15.0, 2.5));
  EXPECT_FALSE(joined(14.0, 2.5));
  EXPECT_TRUE(joined(0.0, 1.5));
  // Where the reach lands back on the node, the first step off it counts.
  const Input back =
      topology({{{0, 0}, {1, 0}, {0, 0}, {0, -3}}, {{0, 0}, {-1, 0}}, {{0, 0}, {0, 1}}});
  EXPECT_EQ(run(back, {1.0, 2.0}).strokes.size(), 2u);
}

TEST(Strokes, TurnLimitAndTies) {
  // Y at 120 degrees: every turn is 60.
  const Input y = topology({ray(90, {1, 2}), ray(210, {1, 2}), ray(330, {1, 2})});
  for (const auto& [max_turn, count] : {std::pair{45.0, 3u}, {59.0, 3u}, {61.0, 2u}}) {
    EXPECT_EQ(run(y, {max_turn, {}}).strokes.size(), count);
  }
  // The stem turns exactly 45 degrees onto either arm: the lower chain index wins.
  const Polyline stem{{0, 0}, {0, -1}}, right{{0, 0}, {1, 1}}, left{{0, 0}, {-1, 1}};
  EXPECT_EQ(run(topology({stem, right, left}), {50.0, {}}).stroke_chains,
            (Walks{{{0, true}, {1, false}}, {{2, true}}}));
  EXPECT_EQ(run(topology({stem, left, right}), {50.0, {}}).stroke_chains,
            (Walks{{{1, true}, {0, false}}, {{2, false}}}));
  EXPECT_EQ(run(topology({stem, left, right}), {44.0, {}}).strokes.size(), 3u);
  EXPECT_TRUE(run({}).strokes.empty());
}

// Lemniscate of Bernoulli: one pen movement through the origin (t = pi / 2 and 3 pi / 2), the
// lobes' far points at t = 0 and pi.
Polyline lemniscate(double t0, double t1, int steps) {
  Polyline pts;
  for (int k = 0; k <= steps; ++k) {
    const double t = k == steps ? t1 : t0 + (t1 - t0) * k / steps;  // shared ends exactly
    const double s = std::sin(t), d = 1.0 + s * s;
    pts.push_back({std::cos(t) / d, s * std::cos(t) / d});
  }
  const auto at_origin = [](double t) { return std::fabs(std::cos(t)) < 1e-9; };
  if (at_origin(t0)) pts.front() = {0, 0};
  if (at_origin(t1)) pts.back() = {0, 0};
  return pts;
}

TEST(Strokes, ClosedStrokes) {
  constexpr double pi = std::numbers::pi;
  const Polyline right = lemniscate(-pi / 2, pi / 2, 24), left = lemniscate(pi / 2, 3 * pi / 2, 24);
  // Figure 8 as two loops at the crossing, in either order: one closed stroke.
  for (const Lines& eight : {Lines{right, left}, Lines{left, right}}) {
    const Strokes s = run(topology(eight));
    EXPECT_EQ(s.stroke_chains, (Walks{{{0, false}, {1, false}}}));
    EXPECT_EQ(s.strokes[0].front(), s.strokes[0].back());
  }
  // The same in four chains, one given backwards; the far points are nodes of degree 2.
  Polyline r2 = lemniscate(0, pi / 2, 12);
  std::reverse(r2.begin(), r2.end());
  const Lines four{lemniscate(pi / 2, pi, 12), r2, lemniscate(-pi / 2, 0, 12),
                   lemniscate(pi, 3 * pi / 2, 12)};
  Strokes s = run(topology(four));
  EXPECT_EQ(s.stroke_chains, (Walks{{{0, false}, {3, false}, {2, false}, {1, true}}}));
  EXPECT_EQ(s.strokes[0].front(), s.strokes[0].back());
  // Degree 2 joins whatever the turn: a triangle of three chains starting at its lowest chain.
  const Input triangle = topology({{{1, 0}, {0, 1}}, {{0, 0}, {1, 0}}, {{0, 0}, {0, 1}}});
  s = run(triangle, {0.0, {}});
  EXPECT_EQ(s.strokes, (Lines{{{1, 0}, {0, 1}, {0, 0}, {1, 0}}}));
  EXPECT_EQ(s.stroke_chains, (Walks{{{0, false}, {2, true}, {1, false}}}));
  // A loop with a tail: the loop goes straight through its own node and closes on itself.
  Polyline loop;
  for (int k = 0; k <= 48; ++k) loop.push_back({std::sin(k * pi / 24), 1 - std::cos(k * pi / 24)});
  loop.front() = loop.back() = {0, 0};
  s = run(topology({{{0, 0}, {0, -1}}, loop}));
  EXPECT_EQ(s.strokes, (Lines{{{0, -1}, {0, 0}}, loop}));
  // A coarse loop, measured a quarter of the way round from each end, turns 90 degrees through
  // its node: closed when that is allowed, else open and read the lesser way round.
  const Input diamond = topology({{{0, 0}, {1, 1}, {0, 2}, {-1, 1}, {0, 0}}, {{0, 0}, {0, 0.5}}});
  EXPECT_EQ(run(diamond, {91.0, {}}).stroke_chains, (Walks{{{0, false}}, {{1, false}}}));
  EXPECT_EQ(run(diamond, {89.0, {}}).stroke_chains, (Walks{{{0, true}}, {{1, false}}}));
}

TEST(Strokes, StarIsTheSameWhateverTheChainOrder) {
  Lines star;
  for (int k = 0; k < 10; ++k) star.push_back(ray(36.0 * k, {0.4 + 0.1 * k, 1.5 + 0.2 * (k % 5)}));
  Strokes base = run(topology(star));
  ASSERT_EQ(base.strokes.size(), 5u);
  for (const Polyline& p : base.strokes) {
    ASSERT_EQ(p.size(), 5u);
    EXPECT_NEAR(p[0].x + p[4].x, 0.0, 1e-12);  // tip to opposite tip
    EXPECT_NEAR(p[0].y + p[4].y, 0.0, 1e-12);
  }
  std::sort(base.strokes.begin(), base.strokes.end(), line_less);
  std::mt19937 rng(7);
  for (int trial = 0; trial < 20; ++trial) {
    Lines shuffled = star;
    std::shuffle(shuffled.begin(), shuffled.end(), rng);
    for (Polyline& c : shuffled) {
      if (rng() % 2) std::reverse(c.begin(), c.end());
    }
    Strokes s = run(topology(shuffled));
    std::sort(s.strokes.begin(), s.strokes.end(), line_less);
    EXPECT_EQ(s.strokes, base.strokes) << "trial " << trial;
  }
}

// Unit direction from a chain end to the first point off it: what the strokes measure when the
// reach is shorter than every segment.
Point first_step(const Polyline& c, bool last) {
  const Point& e = last ? c.back() : c.front();
  for (std::size_t k = 1; k < c.size(); ++k) {
    const Point& p = c[last ? c.size() - 1 - k : k];
    const double n = std::hypot(p.x - e.x, p.y - e.y);
    if (n > 0) return {(p.x - e.x) / n, (p.y - e.y) / n};
  }
  return {0, 0};
}

double turn(const Point& u, const Point& v) {
  return std::acos(std::clamp(-(u.x * v.x + u.y * v.y), -1.0, 1.0)) * 180.0 / std::numbers::pi;
}

// A stroke as drawn: an open one as given, one that ends where it starts from its least rotation
// either way round.
Polyline as_drawn(Polyline p) {
  if (p.front() != p.back()) return p;
  p.pop_back();
  Polyline best = p;
  for (int side = 0; side < 2; ++side, std::reverse(p.begin(), p.end())) {
    for (std::size_t k = 0; k < p.size(); ++k, std::rotate(p.begin(), p.begin() + 1, p.end())) {
      best = std::min(best, p, line_less);
    }
  }
  return best;
}

TEST(Strokes, RandomGraphProperties) {
  std::mt19937 rng(2024);
  std::uniform_real_distribution<double> coord(0.0, 10.0);
  constexpr double kTol = 1e-5;  // degrees
  constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
  for (int trial = 0; trial < 300; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    Input in;
    for (int v = 3 + rng() % 6; v > 0; --v) in.nodes.push_back({coord(rng), coord(rng)});
    for (int c = 2 + rng() % 11; c > 0; --c) {
      const std::size_t a = rng() % in.nodes.size(), b = rng() % in.nodes.size();
      Polyline pts{in.nodes[a]};
      for (int k = rng() % 4 + (a == b && rng() % 8 ? 2 : 0); k > 0; --k) {
        pts.push_back({coord(rng), coord(rng)});
        if (rng() % 8 == 0) pts.push_back(pts.back());  // a repeated point
      }
      pts.push_back(in.nodes[b]);
      in.chains.push_back(pts);
      in.ids.emplace_back(a, b);
    }
    const StrokeSettings settings{180.0 * (rng() % 7) / 6.0, 1e-9};
    const Strokes out = run(in, settings);
    // Ends numbered 2 c (first point) and 2 c + 1; the pairs read back from the walks.
    const std::size_t ends = 2 * in.chains.size();
    const auto node_of = [&](std::size_t e) {
      return e % 2 ? in.ids[e / 2].second : in.ids[e / 2].first;
    };
    std::vector<Point> dir(ends);
    std::vector<int> degree(in.nodes.size(), 0);
    for (std::size_t e = 0; e < ends; ++e)
      dir[e] = first_step(in.chains[e / 2], e % 2), ++degree[node_of(e)];
    const auto has_dir = [&](std::size_t e) { return dir[e].x != 0 || dir[e].y != 0; };
    std::vector<std::size_t> partner(ends, kNone);
    for (const auto& walk : out.stroke_chains) {
      const auto entry = [&](std::size_t k) { return 2 * walk[k].chain + walk[k].reversed; };
      for (std::size_t k = 0; k < walk.size(); ++k) {
        const std::size_t exit = entry(k) ^ 1, next = entry((k + 1) % walk.size());
        // The closing pair is implied where the two ends must have joined: a degree-2 node, or
        // a turn within the limit at a junction.
        const int deg = degree[node_of(exit)];
        if (k + 1 == walk.size() &&
            (node_of(exit) != node_of(next) ||
             (deg > 2 && !(has_dir(exit) && has_dir(next) &&
                           turn(dir[exit], dir[next]) <= settings.max_turn_degrees)))) {
          continue;
        }
        partner[exit] = next, partner[next] = exit;
        if (deg > 2) {
          ASSERT_TRUE(has_dir(exit) && has_dir(next));
          EXPECT_LE(turn(dir[exit], dir[next]), settings.max_turn_degrees + kTol);
        }
      }
    }
    // Degree-2 ends always join; at junctions no two ends would both rather join each other.
    const auto partner_turn = [&](std::size_t e) {
      return partner[e] == kNone ? std::numeric_limits<double>::infinity()
                                 : turn(dir[e], dir[partner[e]]);
    };
    for (std::size_t a = 0; a < ends; ++a) {
      if (degree[node_of(a)] == 2) {
        EXPECT_NE(partner[a], kNone) << "end " << a;
      }
      if (degree[node_of(a)] < 3 || !has_dir(a)) continue;
      for (std::size_t b = a + 1; b < ends; ++b) {
        if (node_of(b) != node_of(a) || !has_dir(b) || partner[a] == b) continue;
        const double t = turn(dir[a], dir[b]);
        EXPECT_FALSE(t <= settings.max_turn_degrees - kTol && t < partner_turn(a) - kTol &&
                     t < partner_turn(b) - kTol)
            << "ends " << a << " and " << b << " turn " << t;
      }
    }
    // Another chain order, some chains backwards, other node numbers: the same strokes.
    std::vector<std::size_t> order(in.chains.size()), renumber(in.nodes.size());
    std::iota(order.begin(), order.end(), 0);
    std::iota(renumber.begin(), renumber.end(), 0);
    std::shuffle(order.begin(), order.end(), rng);
    std::shuffle(renumber.begin(), renumber.end(), rng);
    Input moved{{}, std::vector<Point>(in.nodes.size()), {}};
    for (std::size_t v = 0; v < in.nodes.size(); ++v) moved.nodes[renumber[v]] = in.nodes[v];
    for (const std::size_t c : order) {
      moved.chains.push_back(in.chains[c]);
      moved.ids.emplace_back(renumber[in.ids[c].first], renumber[in.ids[c].second]);
      if (rng() % 2) {
        std::reverse(moved.chains.back().begin(), moved.chains.back().end());
        std::swap(moved.ids.back().first, moved.ids.back().second);
      }
    }
    for (const std::optional<double> reach : {settings.tangent_reach, std::optional<double>{}}) {
      Lines a = run(in, {settings.max_turn_degrees, reach}).strokes;
      Lines b = run(moved, {settings.max_turn_degrees, reach}).strokes;
      for (Lines* l : {&a, &b}) {
        for (Polyline& p : *l) p = as_drawn(p);
        std::sort(l->begin(), l->end(), line_less);
      }
      EXPECT_EQ(a, b) << "reach " << reach.has_value();
    }
  }
}

// The turn as the strokes measure it, to the bit, so that ties fall alike.
double exact_turn(const Point& u, const Point& v) {
  return std::atan2(std::fabs(u.x * v.y - u.y * v.x), -(u.x * v.x + u.y * v.y)) *
         (180.0 / std::numbers::pi);
}

TEST(Strokes, JunctionPairsAsTryingEveryPair) {
  std::mt19937 rng(99);
  std::uniform_real_distribution<double> angle(0.0, 2 * std::numbers::pi);
  constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
  for (int trial = 0; trial < 200; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    // A star: chains from a centre at the origin, each to a tip of its own. Few distinct
    // directions, scaled by powers of 2, so that directions, steps and turns repeat exactly, and
    // some right angles apart but for rounding, so that turns also nearly tie.
    std::vector<Point> pool;
    double heading = angle(rng);
    for (int k = 1 + rng() % 12; k > 0; --k) {
      heading = rng() % 2 ? angle(rng) : heading + std::numbers::pi / 2 * (1 + rng() % 3);
      pool.push_back(rng() % 2 ? Point{std::cos(heading), std::sin(heading)}
                               : Point{double(rng() % 5) - 2, double(rng() % 5) - 2});
    }
    const auto towards = [&] {
      const Point p = pool[rng() % pool.size()];
      const double scale = std::ldexp(1.0, rng() % 4);
      return Point{scale * p.x, scale * p.y};
    };
    Input in{{}, {{0, 0}}, {}};
    for (int c = 3 + rng() % 300; c > 0; --c) {
      Polyline pts{{0, 0}};
      const Point tip = towards();
      if (tip != Point{0, 0}) {
        for (int k = rng() % 3; k > 0; --k) pts.push_back(towards());  // may be the centre again
      }
      pts.push_back(tip);
      const bool loop = tip == Point{0, 0} && rng() % 2;  // a chain of no length, both ends here
      in.chains.push_back(pts);
      if (!loop) in.nodes.push_back(pts.back());
      in.ids.emplace_back(0, loop ? 0 : in.nodes.size() - 1);
    }
    // Over a reach beyond every tip the direction is that of the tip.
    const std::size_t ends = 2 * in.chains.size();
    std::vector<Point> dir(ends), step(ends);
    for (std::size_t c = 0; c < in.chains.size(); ++c) {
      dir[2 * c] = first_step({{0, 0}, in.chains[c].back()}, false);
      step[2 * c] = first_step(in.chains[c], false);
    }
    const auto has_dir = [&](std::size_t e) { return dir[e].x != 0 || dir[e].y != 0; };
    // Often a turn that occurs, where rounding decides what lies within.
    const std::size_t e0 = 2 * (rng() % in.chains.size()), e1 = 2 * (rng() % in.chains.size());
    const double limits[] = {0.0, 45.0, 90.0, 180.0, 180.0 * angle(rng) / 7};
    const double max_turn =
        has_dir(e0) && has_dir(e1) && rng() % 2 ? exact_turn(dir[e0], dir[e1]) : limits[rng() % 5];
    std::vector<std::tuple<double, double, std::size_t, std::size_t>> pairs;
    for (std::size_t a = 0; a < ends; a += 2) {
      for (std::size_t b = a + 2; b < ends && has_dir(a); b += 2) {
        const double t = exact_turn(dir[a], dir[b]);
        if (has_dir(b) && t <= max_turn) pairs.emplace_back(t, exact_turn(step[a], step[b]), a, b);
      }
    }
    std::sort(pairs.begin(), pairs.end());
    std::vector<std::size_t> expected(ends, kNone), partner(ends, kNone);
    for (const auto& [t, step_turn, a, b] : pairs) {
      if (expected[a] == kNone && expected[b] == kNone) expected[a] = b, expected[b] = a;
    }
    for (const auto& walk : run(in, {max_turn, 1e9}).stroke_chains) {
      for (std::size_t k = 0; k + 1 < walk.size(); ++k) {
        const std::size_t exit = (2 * walk[k].chain + walk[k].reversed) ^ 1;
        const std::size_t next = 2 * walk[k + 1].chain + walk[k + 1].reversed;
        partner[exit] = next, partner[next] = exit;
      }
    }
    EXPECT_EQ(partner, expected) << in.chains.size() << " chains, max turn " << max_turn;
  }
}

TEST(Strokes, BadInputNamesTheArgument) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const Input ok = topology({{{0, 0}, {1, 0}}, {{1, 0}, {2, 1}}});
  const auto message = [&](const std::function<void(Input&, StrokeSettings&)>& spoil) {
    Input in = ok;
    StrokeSettings s;
    spoil(in, s);
    try {
      build_strokes(in.chains, in.nodes, in.ids, s);
    } catch (const InputError& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  const std::string turn = "max_turn must be a number of degrees from 0 to 180, got ";
  const std::string reach = "tangent_reach must be a positive finite number, got ";
  const std::string finite = "; coordinates must be finite numbers";
  const std::pair<std::function<void(Input&, StrokeSettings&)>, std::string> cases[] = {
      {[](Input& in, auto&) { in.chains[1].pop_back(); },
       "chains[1] has 1 point(s); every chain needs at least 2"},
      {[&](Input& in, auto&) { in.chains[0][1].x = nan; }, "chains[0][1] is (NaN, 0)" + finite},
      {[](Input& in, auto&) { in.nodes[2].y = -HUGE_VAL; }, "nodes[2] is (2, -inf)" + finite},
      {[](Input& in, auto&) { in.ids.pop_back(); },
       "chain_node_ids has 1 entries but chains has 2; there must be one (start, end) per chain"},
      {[](Input& in, auto&) { in.ids[1].second = 3; },
       "chain_node_ids[1] refers to node 3, but nodes has 3 entries"},
      {[](auto&, StrokeSettings& s) { s.max_turn_degrees = -1; }, turn + "-1"},
      {[](auto&, StrokeSettings& s) { s.max_turn_degrees = std::nextafter(180.0, 181.0); },
       turn + "180.00000000000003"},
      {[&](auto&, StrokeSettings& s) { s.max_turn_degrees = nan; }, turn + "NaN"},
      {[](auto&, StrokeSettings& s) { s.tangent_reach = 0.0; }, reach + "0"},
      {[](auto&, StrokeSettings& s) { s.tangent_reach = HUGE_VAL; }, reach + "inf"},
  };
  for (const auto& [spoil, expected] : cases) EXPECT_EQ(message(spoil), expected);
  // The limits themselves are accepted.
  EXPECT_EQ(run(ok, {0.0, 1e-300}).strokes.size(), 1u);
  EXPECT_EQ(run(ok, {180.0, {}}).strokes.size(), 1u);
}

}  // namespace
}  // namespace linetopo
