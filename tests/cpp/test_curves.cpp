// Tests for joining curves at shared end cells and for thinning dense points.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "curves/curves.hpp"

namespace linetopo {
namespace {

using Curves = std::vector<Polyline>;

TEST(MergeConnected, JoinsChainsExactly) {
  struct Case {
    const char* name;
    Curves curves;
    std::optional<Widths> widths;
    double default_width, tol;
    Curves expected;
    std::optional<Widths> expected_widths;
  };
  const Point p{0, 0}, q{1, 0}, q2{1.004, 0.003}, r{2, 1};
  const Case cases[] = {
      // B after A, walked forwards and backwards: q (A's) stays, q2 (B's) goes.
      {"joint", {{p, q}, {q2, r}}, {}, 1, 0.01, {{p, q, r}}, {}},
      {"joint_reversed", {{p, q}, {r, q2}}, {}, 1, 0.01, {{p, q, r}}, {}},
      // B listed first: the chain runs in B's direction and keeps B's point.
      {"joint_b_first", {{q2, r}, {p, q}}, {}, 1, 0.01, {{p, q2, r}}, {}},
      {"joint_b_first_reversed", {{r, q2}, {p, q}}, {}, 1, 0.01, {{r, q2, p}}, {}},
      // Curve 0 sits in the middle; 1 joins its end reversed, 2 joins its start reversed.
      {"both_ways",
       {{{0, 0}, {1, 0}}, {{3, 0}, {2, 0}, {1, 0}}, {{0, 0}, {-1, 0}}},
       Widths{{0.1, 0.2}, {0.5, 0.4, 0.3}, {}},
       9,
       0.01,
       {{{-1, 0}, {0, 0}, {1, 0}, {2, 0}, {3, 0}}},
       Widths{{9.0, 0.1, 0.2, 0.4, 0.5}}},
      // Curve 1 ends at curve 0's start (last-point entry); curve 2 starts at curve 1's start.
      {"backward_pieces",
       {{{0, 0}, {1, 0}}, {{-1, 0}, {-0.5, 0}, {0, 0}}, {{-1, 0}, {-1, 1}, {-2, 1}}},
       Widths{{1, 2}, {3, 4, 5}, {6, 7, 8}},
       0,
       0.01,
       {{{-2, 1}, {-1, 1}, {-1, 0}, {-0.5, 0}, {0, 0}, {1, 0}}},
       Widths{{8, 7, 3, 4, 1, 2}}},
      // Three ends in one cell stay apart; so does a curve whose ends share a cell.
      {"junction",
       {{{0, 0}, {1, 0}}, {{1, 0}, {2, 0}}, {{1, 0}, {1, 1}}},
       {},
       1,
       0.01,
       {{{0, 0}, {1, 0}}, {{1, 0}, {2, 0}}, {{1, 0}, {1, 1}}},
       {}},
      {"closed",
       {{{0, 0}, {1, 0}, {1, 1}, {0, 0}}, {{0, 0}, {-1, 0}}},
       {},
       1,
       0.01,
       {{{0, 0}, {1, 0}, {1, 1}, {0, 0}}, {{0, 0}, {-1, 0}}},
       {}},
      // Cell borders decide, not distance: 0.49 and 0.51 lie in different cells...
      {"cell_apart",
       {{{-5, 0}, {0.49, 0}}, {{0.51, 0}, {5, 0}}},
       {},
       1,
       1,
       {{{-5, 0}, {0.49, 0}}, {{0.51, 0}, {5, 0}}},
       {}},
      // ...while corners of one cell, nearly sqrt(2) * tol apart, join. Halves round away from 0.
      {"cell_same",
       {{{-5, 0}, {0.5, 0.5}}, {{1.49, 1.49}, {5, 5}}},
       {},
       1,
       1,
       {{{-5, 0}, {0.5, 0.5}, {5, 5}}},
       {}},
      {"cycle",
       {{{0, 0}, {1, 0}, {1, 1}}, {{1, 1}, {0, 1}, {0, 0}}},
       {},
       1,
       0.01,
       {{{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 0}}},
       {}},
      // Chains first, in order of their first curve; then single points; empty curves dropped.
      {"order",
       {{{10, 0}}, {{5, 5}, {6, 5}}, {}, {{7, 5}, {6, 5}}, {{0, 0}, {0, 1}}, {{20, 0}}},
       Widths{{4}, {}, {}, {1, 2}},
       3,
       0.01,
       {{{5, 5}, {6, 5}, {7, 5}}, {{0, 0}, {0, 1}}, {{10, 0}}, {{20, 0}}},
       Widths{{3, 3, 1}, {3, 3}, {4}, {3}}},
  };
  for (const Case& c : cases) {
    const MergedCurves m = merge_connected(c.curves, c.widths, c.default_width, c.tol);
    EXPECT_EQ(m.curves, c.expected) << c.name;
    EXPECT_EQ(m.widths, c.expected_widths) << c.name;
  }
}

TEST(DecimateCurve, KeepsEndsAndSpacedPoints) {
  const double d = 2.0;
  EXPECT_EQ(decimate_curve({{0, 0}, {0.1 * d, 0}, {2 * d, 0}, {2.05 * d, 0}}, d),
            (Polyline{{0, 0}, {2 * d, 0}, {2.05 * d, 0}}));
  // A point at exactly d is kept; the spacing is measured from the last kept point.
  EXPECT_EQ(decimate_curve({{0, 0}, {d, 0}, {1.5 * d, 0}, {2.5 * d, 0}, {2.6 * d, 0}}, d),
            (Polyline{{0, 0}, {d, 0}, {2.5 * d, 0}, {2.6 * d, 0}}));
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(decimate_curve({{0, 0}, {nan, 0}, {5, 0}, {5, 0.1}}, d),
            (Polyline{{0, 0}, {5, 0}, {5, 0.1}}));
  for (const Polyline& short_curve : Curves{{}, {{1, 1}}, {{0, 0}, {0, 0}}, {{0, 0}, {0.1, 0}}}) {
    EXPECT_EQ(decimate_curve(short_curve, d), short_curve);
  }
}

TEST(DecimateCurves, WidthsSwitchThinningOffForEveryCurve) {
  const Curves curves = {{{0, 0}, {0.01, 0}, {0.02, 0}, {5, 0}}, {{0, 0}, {0, 0.01}, {0, 5}}};
  EXPECT_EQ(decimate_curves(curves, true, 1.0), curves);
  EXPECT_EQ(decimate_curves(curves, false, 1.0), (Curves{{{0, 0}, {5, 0}}, {{0, 0}, {0, 5}}}));
}

}  // namespace
}  // namespace linetopo
