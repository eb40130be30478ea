// Chain finishing: Taubin smoothing, tip straightening, simplification and nearest-vertex widths.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

#include "geometry/rdp.hpp"
#include "pipeline/pipeline.hpp"

namespace linetopo {
namespace {

Chain make_chain(std::vector<Point> pts, bool start_tip, bool end_tip) {
  Chain c;
  c.points = std::move(pts);
  c.start = 7;
  c.end = 9;
  c.start_is_tip = start_tip;
  c.end_is_tip = end_tip;
  return c;
}

TEST(Taubin, ThreePointChainShrinksMiddleByFixedFactor) {
  const std::vector<Point> pts = {{0, 0}, {1, 1}, {2, 0}};
  const auto out = smooth_chain_taubin(pts, 3, 0.5, -0.53);
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0], pts[0]);
  EXPECT_EQ(out[2], pts[2]);
  EXPECT_DOUBLE_EQ(out[1].x, 1.0);
  EXPECT_NEAR(out[1].y, 0.447697125, 1e-15);
}

TEST(Taubin, ShortAndStraightChainsUnchanged) {
  for (std::size_t n : {0u, 1u, 2u}) {
    std::vector<Point> pts;
    for (std::size_t i = 0; i < n; ++i) pts.push_back({i * 1.5, -2.0 * i});
    EXPECT_EQ(smooth_chain_taubin(pts, 3, 0.5, -0.53), pts);
  }
  std::vector<Point> line;
  for (int i = 0; i < 12; ++i) line.push_back({0.25 * i, 3.0 + 0.5 * i});
  const auto out = smooth_chain_taubin(line, 3, 0.5, -0.53);
  ASSERT_EQ(out.size(), line.size());
  for (std::size_t i = 0; i < line.size(); ++i) {
    EXPECT_NEAR(out[i].x, line[i].x, 1e-12);
    EXPECT_NEAR(out[i].y, line[i].y, 1e-12);
  }
}

// A simultaneous update treats a mirror-symmetric chain symmetrically; an in-place sweep would not.
TEST(Taubin, SimultaneousUpdateKeepsMirrorSymmetry) {
  const std::vector<Point> pts = {{-3, 0}, {-2, 1}, {-1, -1}, {0, 2}, {1, -1}, {2, 1}, {3, 0}};
  const auto out = smooth_chain_taubin(pts, 3, 0.5, -0.53);
  const std::size_t n = out.size();
  for (std::size_t i = 0; i < n; ++i) {
    EXPECT_EQ(out[i].x, -out[n - 1 - i].x);
    EXPECT_EQ(out[i].y, out[n - 1 - i].y);
  }
  EXPECT_EQ(out.front(), pts.front());
  EXPECT_EQ(out.back(), pts.back());
}

TEST(Taubin, ClosedLoopKeepsRepeatedEnds) {
  const std::vector<Point> loop = {{0, 0}, {2, 0}, {2, 2}, {0, 2}, {0, 0}};
  const auto out = smooth_chain_taubin(loop, 3, 0.5, -0.53);
  EXPECT_EQ(out.front(), loop.front());
  EXPECT_EQ(out.back(), loop.back());
  EXPECT_NE(out[2], loop[2]);
}

// Straight runs are unchanged by smoothing, so the end blends are checked exactly.
TEST(Finish, TipEndMovesHalfwayOntoLine) {
  const std::vector<Point> pts = {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 2}};
  const auto smoothed = smooth_chain_taubin(pts, 3, 0.5, -0.53);
  const FinishedChain tip = finish_chain(make_chain(pts, false, true), 0.0);
  const FinishedChain junction = finish_chain(make_chain(pts, false, false), 0.0);
  EXPECT_EQ(tip.start, 7u);
  EXPECT_EQ(tip.end, 9u);
  EXPECT_EQ(junction.points, smoothed);
  const std::size_t n = pts.size();
  const Point a = smoothed[n - 3], b = smoothed[n - 2], m = smoothed[n - 1];
  const double hx = b.x - a.x, hy = b.y - a.y;
  const double t = (hx * (m.x - b.x) + hy * (m.y - b.y)) / (hx * hx + hy * hy);
  const Point proj{b.x + hx * t, b.y + hy * t};
  EXPECT_DOUBLE_EQ(tip.points[n - 1].x, (m.x + proj.x) * 0.5);
  EXPECT_DOUBLE_EQ(tip.points[n - 1].y, (m.y + proj.y) * 0.5);
  EXPECT_LT(std::abs(tip.points[n - 1].y - proj.y), std::abs(m.y - proj.y));
  for (std::size_t i = 0; i + 1 < n; ++i) EXPECT_EQ(tip.points[i], smoothed[i]);
}

TEST(Finish, ThreePointStartUsesStraightenedEnd) {
  const std::vector<Point> pts = {{0, 1}, {1, 0}, {2, 1}};
  const auto s = smooth_chain_taubin(pts, 3, 0.5, -0.53);
  const auto blend = [](Point m, Point b, Point a) {
    const double hx = b.x - a.x, hy = b.y - a.y;
    const double t = (hx * (m.x - b.x) + hy * (m.y - b.y)) / (hx * hx + hy * hy);
    return Point{(m.x + (b.x + hx * t)) * 0.5, (m.y + (b.y + hy * t)) * 0.5};
  };
  const Point end = blend(s[2], s[1], s[0]);
  const Point start = blend(s[0], s[1], end);
  const FinishedChain f = finish_chain(make_chain(pts, true, true), 0.0);
  ASSERT_EQ(f.points.size(), 3u);
  EXPECT_EQ(f.points[2], end);
  EXPECT_EQ(f.points[0], start);
  EXPECT_NE(f.points[0], blend(s[0], s[1], s[2]));
  EXPECT_EQ(f.points[1], s[1]);
}

TEST(Finish, TwoPointChainsPassUnchanged) {
  const std::vector<Point> two = {{0, 0}, {3, 4}};
  for (bool tip : {false, true}) {
    EXPECT_EQ(finish_chain(make_chain(two, tip, tip), 0.5).points, two);
  }
}

TEST(Finish, SimplifiesOnlyWithPositiveTolerance) {
  std::vector<Point> wiggle;
  for (int i = 0; i <= 40; ++i) wiggle.push_back({0.5 * i, 0.01 * std::sin(1.3 * i)});
  const auto smoothed = smooth_chain_taubin(wiggle, 3, 0.5, -0.53);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (double tol : {0.0, -1.0, nan}) {
    EXPECT_EQ(finish_chain(make_chain(wiggle, false, false), tol).points, smoothed) << tol;
  }
  const auto simple = finish_chain(make_chain(wiggle, false, false), 0.1).points;
  EXPECT_EQ(simple, rdp(smoothed, 0.1));
  EXPECT_EQ(simple.size(), 2u);
}

std::vector<double> brute_widths(const std::vector<Point>& pts, const std::vector<Point>& cloud) {
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

void expect_bit_identical(const std::vector<double>& a, const std::vector<double>& b) {
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
    const std::size_t n_cloud = 1 + rng() % 3000;
    std::vector<Point> cloud;
    for (std::size_t i = 0; i < n_cloud; ++i) {
      // Some trials snap to a coarse grid so that many vertices tie on a split coordinate.
      if (trial % 4 == 1) {
        cloud.push_back({offset + grid(rng) * scale / 20, offset + grid(rng) * scale / 20});
      } else {
        cloud.push_back({offset + u(rng), offset + u(rng)});
      }
    }
    std::vector<Point> pts;
    for (int i = 0; i < 300; ++i) pts.push_back({offset + 1.5 * u(rng), offset + 1.5 * u(rng)});
    pts.push_back(cloud.front());
    expect_bit_identical(chain_widths(pts, cloud), brute_widths(pts, cloud));
  }
}

TEST(ChainWidths, NonFiniteValuesMatchBruteForce) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  std::vector<Point> cloud;
  for (int i = 0; i < 50; ++i) cloud.push_back({i * 0.3, std::cos(i)});
  cloud.push_back({nan, 0});
  cloud.push_back({inf, 1});
  cloud.push_back({1e308, -1e308});
  const std::vector<Point> pts = {{1, 1}, {nan, 1}, {inf, 0}, {-1e308, 1e308}, {2, nan}};
  expect_bit_identical(chain_widths(pts, cloud), brute_widths(pts, cloud));
  expect_bit_identical(chain_widths(pts, {}), brute_widths(pts, {}));
  expect_bit_identical(chain_widths(pts, {{nan, nan}}), brute_widths(pts, {{nan, nan}}));
}

TEST(ChainWidths, BandMedialAxisIsTwiceHalfWidth) {
  const double r = 0.75;
  std::vector<Point> cloud;
  for (int i = 0; i <= 80; ++i) {
    cloud.push_back({0.125 * i, r});
    cloud.push_back({0.125 * i, -r});
  }
  std::vector<Point> axis;
  for (int i = 8; i <= 72; ++i) axis.push_back({0.125 * i + 0.0625 * (i % 2), 0.0});
  const auto w = chain_widths(axis, cloud);
  for (std::size_t i = 0; i < axis.size(); ++i) {
    if (i % 2 == 0) {
      EXPECT_EQ(w[i], 2 * r);  // a vertex lies straight across
    } else {
      EXPECT_GT(w[i], 2 * r);
      EXPECT_NEAR(w[i], 2 * r, 0.01);
    }
  }
}

}  // namespace
}  // namespace linetopo
