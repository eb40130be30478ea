// Tests for joining curves at shared end cells and for thinning dense points.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "curves/curves.hpp"

namespace linetopo {
namespace {

Polyline line(std::initializer_list<Point> pts) { return Polyline(pts); }

TEST(MergeConnected, JointKeepsChainPointWhicheverWayTheSecondCurveRuns) {
  const Point p{0, 0}, q{1, 0}, q2{1.004, 0.003}, r{2, 1};
  const double tol = 0.01;
  // B after A, walked forwards and backwards: q (A's) stays, q2 (B's) goes.
  for (const Polyline& b : {line({q2, r}), line({r, q2})}) {
    const MergedCurves m = merge_connected({line({p, q}), b}, std::nullopt, 1.0, tol);
    ASSERT_EQ(m.curves.size(), 1u);
    EXPECT_EQ(m.curves[0], line({p, q, r}));
    EXPECT_FALSE(m.widths.has_value());
  }
  // B listed first: the chain runs in B's direction and keeps B's point.
  const MergedCurves m = merge_connected({line({q2, r}), line({p, q})}, std::nullopt, 1.0, tol);
  ASSERT_EQ(m.curves.size(), 1u);
  EXPECT_EQ(m.curves[0], line({p, q2, r}));
  const MergedCurves rev = merge_connected({line({r, q2}), line({p, q})}, std::nullopt, 1.0, tol);
  ASSERT_EQ(rev.curves.size(), 1u);
  EXPECT_EQ(rev.curves[0], line({r, q2, p}));
}

TEST(MergeConnected, ExtendsBothWaysAndCarriesWidthsWithPoints) {
  // Curve 0 sits in the middle; 1 joins its end reversed, 2 joins its start reversed.
  const std::vector<Polyline> curves = {
      line({{0, 0}, {1, 0}}),
      line({{3, 0}, {2, 0}, {1, 0}}),
      line({{0, 0}, {-1, 0}}),
  };
  const Widths widths = {{0.1, 0.2}, {0.5, 0.4, 0.3}, {}};
  const MergedCurves m = merge_connected(curves, widths, 9.0, 0.01);
  ASSERT_EQ(m.curves.size(), 1u);
  EXPECT_EQ(m.curves[0], line({{-1, 0}, {0, 0}, {1, 0}, {2, 0}, {3, 0}}));
  ASSERT_TRUE(m.widths.has_value());
  ASSERT_EQ(m.widths->size(), 1u);
  EXPECT_EQ((*m.widths)[0], (std::vector<double>{9.0, 0.1, 0.2, 0.4, 0.5}));
}

TEST(MergeConnected, BackwardPiecesInBothOrientations) {
  // Curve 1 ends at curve 0's start (last-point entry); curve 2 starts at curve 1's start.
  const std::vector<Polyline> curves = {
      line({{0, 0}, {1, 0}}),
      line({{-1, 0}, {-0.5, 0}, {0, 0}}),
      line({{-1, 0}, {-1, 1}, {-2, 1}}),
  };
  const Widths widths = {{1, 2}, {3, 4, 5}, {6, 7, 8}};
  const MergedCurves m = merge_connected(curves, widths, 0.0, 0.01);
  ASSERT_EQ(m.curves.size(), 1u);
  EXPECT_EQ(m.curves[0], line({{-2, 1}, {-1, 1}, {-1, 0}, {-0.5, 0}, {0, 0}, {1, 0}}));
  EXPECT_EQ((*m.widths)[0], (std::vector<double>{8, 7, 3, 4, 1, 2}));
}

TEST(MergeConnected, JunctionsAndClosedCurvesStayApart) {
  const std::vector<std::vector<Polyline>> cases = {
      // Three ends in one cell.
      {line({{0, 0}, {1, 0}}), line({{1, 0}, {2, 0}}), line({{1, 0}, {1, 1}})},
      // A curve whose ends share a cell is never extended.
      {line({{0, 0}, {1, 0}, {1, 1}, {0, 0}}), line({{0, 0}, {-1, 0}})},
  };
  for (const auto& curves : cases) {
    EXPECT_EQ(merge_connected(curves, std::nullopt, 1.0, 0.01).curves, curves);
  }
}

TEST(MergeConnected, CellBordersDecideNotDistance) {
  const double tol = 1.0;
  // 0.49 and 0.51 lie in different cells although only 0.02 apart.
  const MergedCurves apart = merge_connected(
      {line({{-5, 0}, {0.49, 0}}), line({{0.51, 0}, {5, 0}})}, std::nullopt, 1.0, tol);
  EXPECT_EQ(apart.curves.size(), 2u);
  // Corners of one cell, nearly sqrt(2) * tol apart, still join. The half rounds away from 0.
  const MergedCurves same = merge_connected(
      {line({{-5, 0}, {0.5, 0.5}}), line({{1.49, 1.49}, {5, 5}})}, std::nullopt, 1.0, tol);
  ASSERT_EQ(same.curves.size(), 1u);
  EXPECT_EQ(same.curves[0], line({{-5, 0}, {0.5, 0.5}, {5, 5}}));
}

TEST(MergeConnected, CycleBecomesOneCurveWithBothEnds) {
  const std::vector<Polyline> curves = {line({{0, 0}, {1, 0}, {1, 1}}),
                                        line({{1, 1}, {0, 1}, {0, 0}})};
  const MergedCurves m = merge_connected(curves, std::nullopt, 1.0, 0.01);
  ASSERT_EQ(m.curves.size(), 1u);
  EXPECT_EQ(m.curves[0], line({{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 0}}));
}

TEST(MergeConnected, OutputOrderAndShortCurves) {
  const std::vector<Polyline> curves = {
      line({{10, 0}}),         // single point: after all chains
      line({{5, 5}, {6, 5}}),  // chain with curve 3
      line({}),                // dropped
      line({{7, 5}, {6, 5}}),  // joins 1 reversed
      line({{0, 0}, {0, 1}}),  // alone
      line({{20, 0}}),         // single point
  };
  const Widths widths = {{4}, {}, {}, {1, 2}};
  const MergedCurves m = merge_connected(curves, widths, 3.0, 0.01);
  const std::vector<Polyline> expected = {line({{5, 5}, {6, 5}, {7, 5}}), line({{0, 0}, {0, 1}}),
                                          line({{10, 0}}), line({{20, 0}})};
  EXPECT_EQ(m.curves, expected);
  const Widths expected_widths = {{3, 3, 1}, {3, 3}, {4}, {3}};
  EXPECT_EQ(m.widths, expected_widths);
}

TEST(DecimateCurve, KeepsEndsAndSpacedPoints) {
  const double d = 2.0;
  EXPECT_EQ(decimate_curve(line({{0, 0}, {0.1 * d, 0}, {2 * d, 0}, {2.05 * d, 0}}), d),
            line({{0, 0}, {2 * d, 0}, {2.05 * d, 0}}));
  // A point at exactly d is kept; the spacing is measured from the last kept point.
  EXPECT_EQ(decimate_curve(line({{0, 0}, {d, 0}, {1.5 * d, 0}, {2.5 * d, 0}, {2.6 * d, 0}}), d),
            line({{0, 0}, {d, 0}, {2.5 * d, 0}, {2.6 * d, 0}}));
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(decimate_curve(line({{0, 0}, {nan, 0}, {5, 0}, {5, 0.1}}), d),
            line({{0, 0}, {5, 0}, {5, 0.1}}));
  for (const Polyline& short_curve :
       {line({}), line({{1, 1}}), line({{0, 0}, {0, 0}}), line({{0, 0}, {0.1, 0}})}) {
    EXPECT_EQ(decimate_curve(short_curve, d), short_curve);
  }
}

TEST(DecimateCurves, WidthsSwitchThinningOffForEveryCurve) {
  const std::vector<Polyline> curves = {line({{0, 0}, {0.01, 0}, {0.02, 0}, {5, 0}}),
                                        line({{0, 0}, {0, 0.01}, {0, 5}})};
  EXPECT_EQ(decimate_curves(curves, true, 1.0), curves);
  const std::vector<Polyline> thinned = {line({{0, 0}, {5, 0}}), line({{0, 0}, {0, 5}})};
  EXPECT_EQ(decimate_curves(curves, false, 1.0), thinned);
}

}  // namespace
}  // namespace linetopo
