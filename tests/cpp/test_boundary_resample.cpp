// Tests of uniform ring resampling, the curvature index and curvature-driven refinement.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "boundary/curvature.hpp"
#include "boundary/resample.hpp"

namespace linetopo {
namespace {

using Points = std::vector<Point>;

constexpr double kCorner = 1.0471975511965976;  // pi/3
constexpr double kQuarterPi = 0.7853981633974483;
constexpr double kHalfPi = 1.5707963267948966;

Ring square(double side) { return {{0, 0}, {side, 0}, {side, side}, {0, side}}; }

Ring regular_polygon(int n, double radius) {
  Ring ring;
  for (int i = 0; i < n; ++i) {
    const double a = 2.0 * M_PI * i / n;
    ring.push_back({radius * std::cos(a), radius * std::sin(a)});
  }
  return ring;
}

TEST(ResampleSpan, RoundsHalvesUpAndNeverBelowOnePiece) {
  // 10/3 rounds to 3, 10/4 = 2.5 rounds away to 3, 0.5 rounds to 1, 0.1 rounds to 0 and is raised.
  for (const auto& [spacing, m] :
       {std::pair<double, std::size_t>{3, 3}, {4, 3}, {20, 1}, {100, 1}, {0.5, 20}}) {
    const Points out = resample_span_open({{0, 0}, {10, 0}}, spacing);
    ASSERT_EQ(out.size(), m + 1) << spacing;
    for (std::size_t k = 0; k <= m; ++k) {
      // Arc length t = (L x k) / m, then interpolated on the segment as 0 + (10 - 0) x (t / 10).
      const double t = (10.0 * static_cast<double>(k)) / static_cast<double>(m);
      EXPECT_EQ(out[k], (Point{10.0 * (t / 10.0), 0.0})) << spacing;
    }
  }
}

TEST(ResampleSpan, DegenerateSpans) {
  EXPECT_TRUE(resample_span_open({}, 1.0).empty());
  EXPECT_EQ(resample_span_open({{1, 1}}, 1.0), (Points{{1, 1}}));
  EXPECT_EQ(resample_span_open({{1, 1}, {1, 1}, {1, 1}}, 0.1), (Points{{1, 1}, {1, 1}}));
  // Interpolation follows the polyline, not the chord, and skips zero-length segments.
  EXPECT_EQ(resample_span_open({{0, 0}, {2, 0}, {2, 0}, {2, 2}}, 1.0),
            (Points{{0, 0}, {1, 0}, {2, 0}, {2, 1}, {2, 2}}));
}

TEST(RingSpan, WrapsAroundAndGoesOnceRoundWhenStartIsEnd) {
  const Ring ring{{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}};
  EXPECT_EQ(ring_span(ring, 3, 1), (Points{{3, 0}, {4, 0}, {0, 0}, {1, 0}}));
  EXPECT_EQ(ring_span(ring, 2, 2), (Points{{2, 0}, {3, 0}, {4, 0}, {0, 0}, {1, 0}, {2, 0}}));
  EXPECT_EQ(ring_span(ring, 1, 2), (Points{{1, 0}, {2, 0}}));
  EXPECT_THROW(ring_span(ring, 5, 1), InternalError);
}

TEST(CornerAnchors, ThresholdIsTheLibraryCosine) {
  // The turn at vertex 1 has cos exactly 0.5, below cos(pi/3) = 0.5000000000000001: a corner.
  // With (1, sqrt 3) the cosine rounds to 0.5000000000000001 itself: not a corner.
  const Ring exact{{-1, 0}, {0, 0}, {3, 3.0 * std::sqrt(3.0)}};
  const Ring rounded{{-1, 0}, {0, 0}, {1, std::sqrt(3.0)}};
  const auto has_vertex_1 = [](const std::vector<std::size_t>& a) {
    return std::find(a.begin(), a.end(), 1u) != a.end();
  };
  EXPECT_TRUE(has_vertex_1(corner_anchors(exact, kCorner)));
  EXPECT_FALSE(has_vertex_1(corner_anchors(rounded, kCorner)));
  // A repeated vertex has a zero-length edge and is never a corner.
  EXPECT_EQ(corner_anchors({{0, 0}, {4, 0}, {4, 0}, {4, 4}}, kCorner),
            (std::vector<std::size_t>{0, 3}));
}

TEST(ResampleRing, SquareKeepsCornersAndFallbacksKeepTheRing) {
  EXPECT_EQ(resample_ring(square(4), 1.0, kCorner), (Ring{{0, 0},
                                                          {1, 0},
                                                          {2, 0},
                                                          {3, 0},
                                                          {4, 0},
                                                          {4, 1},
                                                          {4, 2},
                                                          {4, 3},
                                                          {4, 4},
                                                          {3, 4},
                                                          {2, 4},
                                                          {1, 4},
                                                          {0, 4},
                                                          {0, 3},
                                                          {0, 2},
                                                          {0, 1}}));
  EXPECT_EQ(resample_ring(square(1), 10.0, kCorner), square(1));  // just the corners
  const Ring dodecagon = regular_polygon(12, 1.0);
  EXPECT_TRUE(corner_anchors(dodecagon, kCorner).empty());
  EXPECT_EQ(resample_ring(dodecagon, 100.0, kCorner), dodecagon);  // [p0, p0]: too few
  const Ring fine = resample_ring(dodecagon, 0.1, kCorner);        // perimeter ~6.21: 62 points
  ASSERT_EQ(fine.size(), 62u);
  EXPECT_EQ(fine.front(), dodecagon.front());
  EXPECT_NE(fine.back(), dodecagon.front());  // the closing repeat is dropped
  EXPECT_EQ(resample_ring({{0, 0}, {5, 0}}, 1.0, kCorner), (Ring{{0, 0}, {5, 0}}));
  EXPECT_EQ(resample_ring(square(4), 0.0, kCorner), square(4));
  EXPECT_EQ(resample_ring(square(4), -1.0, kCorner), square(4));
}

TEST(CurvatureIndex, IndexesSharpVerticesOnly) {
  CurvatureIndex index(1.0);
  EXPECT_EQ(index.cell_size, 4.0);
  index.add_ring(regular_polygon(12, 5.0), kQuarterPi);
  EXPECT_TRUE(index.entries.empty());
  index.add_ring(square(4), kQuarterPi);
  ASSERT_EQ(index.entries.size(), 4u);
  for (const CurvatureEntry& e : index.entries) EXPECT_NEAR(e.angle, kHalfPi, 1e-15);
  index.add_ring({{10, 10}, {10, 10}, {14, 10}, {14, 14}}, kQuarterPi);  // zero-length edge
  EXPECT_EQ(index.entries.size(), 6u);
  EXPECT_EQ(index.entries[4].x, 14.0);
  for (const double w : {0.0, -1.0, std::nan(""), std::numeric_limits<double>::infinity()}) {
    EXPECT_EQ(CurvatureIndex(w).cell_size, 1.0) << w;
  }
}

TEST(CurvatureIndex, MaxAngleNearWeightsLinearlyBetweenRadii) {
  CurvatureIndex index(1.0);
  EXPECT_EQ(index.max_angle_near(0, 0, 3, 4), 0.0);
  index.add_ring({{0, 0}, {10, 0}, {10, 10}, {0, 10}}, kQuarterPi);  // pi/2 at each corner
  const double a = index.entries[0].angle;
  EXPECT_EQ(index.max_angle_near(-2, 0, 3, 4), a);
  EXPECT_EQ(index.max_angle_near(-3.5, 0, 3, 4), a * 0.5);
  EXPECT_EQ(index.max_angle_near(0, -4.5, 3, 4), 0.0);
  // An unbounded radius cannot walk the cells one by one; it must still see every entry.
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(index.max_angle_near(1e6, 1e6, inf, inf), a);
  EXPECT_EQ(index.max_angle_near(0, 0, 1e300, 1e301), a);
}

TEST(CurvatureIndex, MaxAngleNearMatchesBruteForce) {
  // Many rings of varied sharpness so the grid has crowded and empty cells, queried at random
  // points against a scan of all entries.
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> u(-30.0, 30.0);
  CurvatureIndex index(1.3);
  for (int r = 0; r < 40; ++r) {
    const Point c{u(rng), u(rng)};  // braces fix the order: x draws first
    Ring ring = regular_polygon(3 + r % 5, 0.5 + (r % 7));
    for (Point& p : ring) p = {p.x + c.x, p.y + c.y};
    index.add_ring(ring, 0.3);
  }
  ASSERT_GT(index.entries.size(), 100u);
  for (int q = 0; q < 2000; ++q) {
    const double x = u(rng);
    const double y = u(rng);
    const double inner = q % 3 == 0 ? 3.9 : 3 * 1.3;
    const double outer = q % 3 == 0 ? 20.0 : 4 * 1.3;
    double expected = 0.0;
    for (const CurvatureEntry& e : index.entries) {
      const double d2 = (e.x - x) * (e.x - x) + (e.y - y) * (e.y - y);
      if (d2 > outer * outer) continue;
      const double d = std::sqrt(d2);
      const double w = d <= inner ? 1.0 : 1.0 - (d - inner) / (outer - inner);
      expected = std::max(expected, e.angle * w);
    }
    ASSERT_EQ(index.max_angle_near(x, y, inner, outer), expected) << x << " " << y;
  }
}

// An index whose only sharp spot is a tiny square at (1, 0).
CurvatureIndex index_with_spike_at_1_0(double w) {
  CurvatureIndex index(w);
  index.add_ring({{1, 0}, {1.001, 0}, {1.001, 0.001}, {1, 0.001}}, kQuarterPi);
  return index;
}

TEST(RefineRing, CutsEdgesNearSharpTurnsToTheTarget) {
  const CurvatureIndex index = index_with_spike_at_1_0(1.0);
  const Ring ring{{0, 0}, {2, 0}, {2, 200}, {0, 200}};
  // Angle pi/2 at the bottom edge's midpoint gives target 0.5: four pieces. The others are far.
  EXPECT_EQ(refine_ring_from_index(ring, index, 1.0, 0.5),
            (Ring{{0, 0}, {0.5, 0}, {1, 0}, {1.5, 0}, {2, 0}, {2, 200}, {0, 200}}));
  // Ratio 1 keeps the target at b = 1: two pieces; ratio <= 0 and short rings are copies.
  EXPECT_EQ(refine_ring_from_index(ring, index, 1.0, 1.0).size(), 5u);
  EXPECT_EQ(refine_ring_from_index(ring, index, 1.0, 0.0), ring);
  EXPECT_EQ(refine_ring_from_index({{0, 0}, {2, 0}}, index, 1.0, 0.5), (Ring{{0, 0}, {2, 0}}));
}

TEST(RefineRing, TargetFallsQuadraticallyWithAngle) {
  // A weight of about 7/12 turns pi/2 into about 7 pi/24, halfway between pi/12 and pi/2, so
  // t is about 1/2 and the target about 1 - 0.5 x 0.25 = 0.875.
  CurvatureIndex index(1.0);
  index.add_ring({{0, 0}, {0.001, 0}, {0.001, 0.001}, {0, 0.001}}, kQuarterPi);
  const double d = 3.0 + 5.0 / 12.0;
  const Ring ring{{-1.3, d}, {1.3, d}, {0, 400}};
  const Ring out = refine_ring_from_index(ring, index, 1.0, 0.5);
  // 2.6 / 0.875 -> 3 pieces; a linear fall (target 0.75) would give 4.
  ASSERT_EQ(out.size(), 5u);
  EXPECT_NEAR(out[1].x, -1.3 + 2.6 / 3, 1e-12);
}

TEST(AdaptiveResample, FullStepsWhenTheFloorReachesTheSpacing) {
  // w x ratio = 5 >= S = 3: every step is exactly S even beside a sharp turn, and the remainder
  // is not spread out (uniform resampling would give 0, 3.33, 6.67, 10).
  const CurvatureIndex index = index_with_spike_at_1_0(10.0);
  EXPECT_EQ(adaptive_resample_span_open({{0, 0}, {10, 0}}, index, 3.0, 10.0, 0.5),
            (Points{{0, 0}, {3, 0}, {6, 0}, {10, 0}}));
  // The first step (0.75) already ends within half a step of the end at 1.
  EXPECT_EQ(adaptive_resample_span_open({{0, 0}, {1, 0}}, index, 0.75, 10.0, 0.5),
            (Points{{0, 0}, {1, 0}}));
  EXPECT_EQ(adaptive_resample_span_open({{2, 2}, {2, 2}}, index, 1.0, 1.0, 0.5),
            (Points{{2, 2}, {2, 2}}));
}

TEST(AdaptiveResample, StepShrinksWithTheSquareRootOfTheArcRadius) {
  const CurvatureIndex index = index_with_spike_at_1_0(1.0);
  const CurvatureIndex empty(1.0);
  const Points span{{1, 0}, {101, 0}};
  const Points out = adaptive_resample_span_open(span, index, 1.0, 1.0, 0.01);
  // At the spike: q = 1 / a with a about pi/2, step = sqrt(q / 10).
  double a = 0.0;
  for (const CurvatureEntry& e : index.entries) a = std::max(a, e.angle);
  const double first = std::sqrt((1.0 / a) / 10.0);
  ASSERT_GT(out.size(), 3u);
  EXPECT_NEAR(out[1].x - 1.0, first, 1e-12);
  // Beyond the outer radius steps are the full spacing again.
  EXPECT_NEAR(out[out.size() - 2].x - out[out.size() - 3].x, 1.0, 1e-12);
  EXPECT_EQ(adaptive_resample_span_open(span, empty, 1.0, 1.0, 0.01).size(), 101u);
  EXPECT_GT(out.size(), 101u);
}

TEST(AdaptiveResample, RingFallbacks) {
  const CurvatureIndex index = index_with_spike_at_1_0(1.0);
  EXPECT_EQ(resample_ring_adaptive(square(4), index, 0.0, 1.0, 0.5, kCorner), square(4));
  EXPECT_EQ(resample_ring_adaptive({{0, 0}, {1, 1}}, index, 1.0, 1.0, 0.5, kCorner),
            (Ring{{0, 0}, {1, 1}}));
  // Far from the spike the adaptive ring equals the uniform one with unspread steps.
  const Ring far{{100, 100}, {104, 100}, {104, 104}, {100, 104}};
  EXPECT_EQ(resample_ring_adaptive(far, index, 1.0, 1.0, 0.5, kCorner).size(), 16u);
  EXPECT_EQ(resample_ring_adaptive(regular_polygon(12, 1.0), index, 100.0, 1.0, 0.5, kCorner),
            regular_polygon(12, 1.0));
}

}  // namespace
}  // namespace linetopo
