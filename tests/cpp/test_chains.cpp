// Chain finishing: Taubin smoothing, tip straightening, simplification and nearest-vertex widths.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

#include "chains/chains.hpp"
#include "chains/vertex_tree.hpp"
#include "geometry/rdp.hpp"

namespace linetopo {
namespace {

using Points = std::vector<Point>;

Points taubin(const Points& pts) { return smooth_chain_taubin(pts, 3, 0.5, -0.53); }

FinishedChain finish(Points pts, bool start_tip, bool end_tip, double tolerance = 0.0) {
  return finish_chain({std::move(pts), 7, 9, start_tip, end_tip}, tolerance);
}

TEST(Taubin, ExactValuesShortStraightSymmetricAndClosedChains) {
  Points out = taubin({{0, 0}, {1, 1}, {2, 0}});
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out, (Points{{0, 0}, {out[1]}, {2, 0}}));
  EXPECT_DOUBLE_EQ(out[1].x, 1.0);
  EXPECT_NEAR(out[1].y, 0.447697125, 1e-15);
  for (const Points& pts : {Points{}, Points{{1.5, -2}}, Points{{0, 0}, {1.5, -2}}}) {
    EXPECT_EQ(taubin(pts), pts);
  }
  Points line;
  for (int i = 0; i < 12; ++i) line.push_back({0.25 * i, 3.0 + 0.5 * i});
  out = taubin(line);
  ASSERT_EQ(out.size(), line.size());
  for (std::size_t i = 0; i < line.size(); ++i) {
    EXPECT_NEAR(out[i].x, line[i].x, 1e-12);
    EXPECT_NEAR(out[i].y, line[i].y, 1e-12);
  }
  // A simultaneous update treats a mirror-symmetric chain symmetrically; an in-place sweep
  // would not.
  const Points mirror = {{-3, 0}, {-2, 1}, {-1, -1}, {0, 2}, {1, -1}, {2, 1}, {3, 0}};
  out = taubin(mirror);
  const std::size_t n = out.size();
  for (std::size_t i = 0; i < n; ++i) {
    EXPECT_EQ(out[i].x, -out[n - 1 - i].x);
    EXPECT_EQ(out[i].y, out[n - 1 - i].y);
  }
  EXPECT_TRUE(out.front() == mirror.front() && out.back() == mirror.back());
  // A closed loop keeps its repeated ends fixed.
  const Points loop = {{0, 0}, {2, 0}, {2, 2}, {0, 2}, {0, 0}};
  out = taubin(loop);
  EXPECT_TRUE(out.front() == loop.front() && out.back() == loop.back());
  EXPECT_NE(out[2], loop[2]);
}

// The end m projected onto the line through a and b, and m moved halfway there.
Point project(Point m, Point b, Point a) {
  const double hx = b.x - a.x, hy = b.y - a.y;
  const double t = (hx * (m.x - b.x) + hy * (m.y - b.y)) / (hx * hx + hy * hy);
  return {b.x + hx * t, b.y + hy * t};
}

Point blend(Point m, Point b, Point a) {
  const Point p = project(m, b, a);
  return {(m.x + p.x) * 0.5, (m.y + p.y) * 0.5};
}

TEST(Finish, TipEndsAreStraightened) {
  // Straight runs are unchanged by smoothing, so the end blend is checked exactly.
  const Points pts = {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 2}};
  const Points s = taubin(pts);
  const FinishedChain tip = finish(pts, false, true);
  EXPECT_TRUE(tip.start == 7u && tip.end == 9u);
  EXPECT_EQ(finish(pts, false, false).points, s);
  Points want = s;
  want[4] = blend(s[4], s[3], s[2]);
  EXPECT_EQ(tip.points, want);
  const double line_y = project(s[4], s[3], s[2]).y;
  EXPECT_LT(std::abs(want[4].y - line_y), std::abs(s[4].y - line_y));
  // With three points the start is blended towards the already straightened end.
  const Points v = taubin({{0, 1}, {1, 0}, {2, 1}});
  const Point end = blend(v[2], v[1], v[0]);
  EXPECT_EQ(finish({{0, 1}, {1, 0}, {2, 1}}, true, true).points,
            (Points{blend(v[0], v[1], end), v[1], end}));
  EXPECT_NE(blend(v[0], v[1], end), blend(v[0], v[1], v[2]));
}

TEST(Finish, SimplifiesOnlyWithPositiveToleranceAndKeepsTwoPointChains) {
  for (bool tip : {false, true}) {
    EXPECT_EQ(finish({{0, 0}, {3, 4}}, tip, tip, 0.5).points, (Points{{0, 0}, {3, 4}}));
  }
  Points wiggle;
  for (int i = 0; i <= 40; ++i) wiggle.push_back({0.5 * i, 0.01 * std::sin(1.3 * i)});
  const Points smoothed = taubin(wiggle);
  for (double tol : {0.0, -1.0, std::numeric_limits<double>::quiet_NaN()}) {
    EXPECT_EQ(finish(wiggle, false, false, tol).points, smoothed) << tol;
  }
  const Points simple = finish(wiggle, false, false, 0.1).points;
  EXPECT_EQ(simple, rdp(smoothed, 0.1));
  EXPECT_EQ(simple.size(), 2u);
}

// The definition: twice the distance to the nearest vertex, by a full scan.
std::vector<double> brute_widths(const Points& pts, const Points& cloud) {
  std::vector<double> out;
  for (const Point& p : pts) {
    double best = std::numeric_limits<double>::infinity();
    for (const Point& q : cloud) {
      const double d = (p.x - q.x) * (p.x - q.x) + (p.y - q.y) * (p.y - q.y);
      if (d < best) best = d;
    }
    out.push_back(2.0 * std::sqrt(best));
  }
  return out;
}

// Twice the distance from every point to the nearest cloud point, through the vertex tree.
std::vector<double> chain_widths(const Points& pts, const Points& cloud) {
  return detail::widths_against(detail::build_vertex_tree(cloud), pts);
}

void expect_widths_match_brute_force(const Points& pts, const Points& cloud) {
  const std::vector<double> a = chain_widths(pts, cloud), b = brute_widths(pts, cloud);
  ASSERT_EQ(a.size(), b.size());
  for (std::size_t i = 0; i < a.size(); ++i) {
    EXPECT_EQ(std::bit_cast<std::uint64_t>(a[i]), std::bit_cast<std::uint64_t>(b[i]))
        << i << ": " << a[i] << " vs " << b[i];
  }
}

TEST(ChainWidths, TreeEqualsBruteForceBitForBit) {
  std::mt19937_64 rng(12345);
  for (int trial = 0; trial < 40; ++trial) {
    const double scale = std::pow(10.0, (trial % 7) - 2);
    const double offset = (trial % 3 == 0) ? 4.6e6 : 0.0;
    std::uniform_real_distribution<double> u(-scale, scale);
    std::uniform_int_distribution<int> grid(-20, 20);
    Points cloud(1 + rng() % 3000);
    for (Point& q : cloud) {
      // Some trials snap to a coarse grid so that many vertices tie on a split coordinate.
      if (trial % 4 == 1) {
        q = {offset + grid(rng) * scale / 20, offset + grid(rng) * scale / 20};
      } else {
        q = {offset + u(rng), offset + u(rng)};
      }
    }
    Points pts;
    for (int i = 0; i < 300; ++i) pts.push_back({offset + 1.5 * u(rng), offset + 1.5 * u(rng)});
    pts.push_back(cloud.front());
    expect_widths_match_brute_force(pts, cloud);
  }
  // Non-finite values and an empty cloud.
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  Points cloud;
  for (int i = 0; i < 50; ++i) cloud.push_back({i * 0.3, std::cos(i)});
  cloud.insert(cloud.end(), {{nan, 0}, {inf, 1}, {1e308, -1e308}});
  const Points pts = {{1, 1}, {nan, 1}, {inf, 0}, {-1e308, 1e308}, {2, nan}};
  for (const Points& c : {cloud, Points{}, Points{{nan, nan}}}) {
    expect_widths_match_brute_force(pts, c);
  }
}

}  // namespace
}  // namespace linetopo
