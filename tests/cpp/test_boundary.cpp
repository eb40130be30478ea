// Tests of ring subdivision, boundary preparation's switches and modes, and the point limit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "boundary/boundary.hpp"
#include "boundary/curvature.hpp"
#include "boundary/resample.hpp"
#include "geometry/rdp.hpp"
#include "pipeline/settings.hpp"

namespace linetopo {
namespace {

// Boundary preparation from the options as the user gives them.
std::vector<BufferPolygon> prepare(const std::vector<BufferPolygon>& polygons, double feature_size,
                                   double buffer_distance, std::optional<double> subdivision_ratio,
                                   std::optional<double> resample,
                                   std::optional<double> boundary_simplification) {
  return preprocess_boundaries(
      polygons, resolve_boundary(feature_size, buffer_distance, subdivision_ratio, resample,
                                 boundary_simplification));
}

constexpr double kCorner = 1.0471975511965976;  // pi/3
constexpr double kQuarterPi = 0.7853981633974483;
const std::optional<double> kAbsent;
const double kNaN = std::numeric_limits<double>::quiet_NaN();

Ring square(double x0, double y0, double side) {
  return {{x0, y0}, {x0 + side, y0}, {x0 + side, y0 + side}, {x0, y0 + side}};
}

TEST(SubdivideRing, CutsEveryEdgeIncludingTheClosingOne) {
  const Ring sq = square(0, 0, 4);
  const Ring thirds = subdivide_ring(sq, 1.5);  // ceil(4 / 1.5) = 3 pieces per edge
  ASSERT_EQ(thirds.size(), 12u);
  for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(thirds[3 * i], sq[i]);
  EXPECT_EQ(thirds[10], (Point{0, 4 + (0 - 4) * (1.0 / 3.0)}));  // on the closing edge
  EXPECT_EQ(subdivide_ring(sq, 4), sq);  // length exactly max_len stays whole
  EXPECT_EQ(subdivide_ring(sq, 2),
            (Ring{{0, 0}, {2, 0}, {4, 0}, {4, 2}, {4, 4}, {2, 4}, {0, 4}, {0, 2}}));
  EXPECT_EQ(subdivide_ring({{0, 0}, {3, 0}}, 1),
            (Ring{{0, 0}, {1, 0}, {2, 0}, {3, 0}, {2, 0}, {1, 0}}));
  EXPECT_TRUE(subdivide_ring({}, 1).empty());
  EXPECT_EQ(subdivide_ring({{5, 5}}, 1), (Ring{{5, 5}}));
}

// A wobbly outer ring (points 0.01 off a straight edge) with two clockwise hole squares, a unit
// square and a 2-vertex ring.
std::vector<BufferPolygon> sample_polygons() {
  const Ring outer{{0, 0}, {5, 0.01}, {10, 0}, {20, 0}, {20, 20}, {0, 20}};
  const std::vector<Ring> holes{{{2, 5}, {5, 5}, {5, 2}, {2, 2}},
                                {{12, 14}, {14, 14}, {14, 12}, {12, 12}}};
  return {{outer, holes}, {square(30, 0, 1), {}}, {{{40, 0}, {41, 0}}, {}}};
}

// The polygons with every ring mapped by fn, the expected shape of a result.
template <typename Fn>
std::vector<BufferPolygon> map(const std::vector<BufferPolygon>& polygons, const Fn& fn) {
  std::vector<BufferPolygon> out;
  for (const BufferPolygon& p : polygons) {
    BufferPolygon q{fn(p.outer), {}};
    for (const Ring& h : p.holes) q.holes.push_back(fn(h));
    out.push_back(q);
  }
  return out;
}

void expect_same(const std::vector<BufferPolygon>& a, const std::vector<BufferPolygon>& b) {
  ASSERT_EQ(a.size(), b.size());
  for (std::size_t i = 0; i < a.size(); ++i) {
    EXPECT_EQ(a[i].outer, b[i].outer) << "polygon " << i;
    EXPECT_EQ(a[i].holes, b[i].holes) << "polygon " << i;
  }
}

TEST(PreprocessBoundaries, WithoutRefinementIsSimplifyThenSubdivide) {
  EXPECT_TRUE(prepare({}, 1.0, 0.5, kAbsent, kAbsent, kAbsent).empty());
  const auto in = sample_polygons();
  const double fs = 2.0;
  const auto simplified_then_cut = [&](double tolerance) {
    return map(in, [&](const Ring& r) {
      return subdivide_ring(tolerance > 0 ? rdp(r, tolerance) : r, 1.5 * fs);
    });
  };
  const auto simplified = simplified_then_cut(0.1);
  const auto kept = simplified_then_cut(0.0);
  // Simplified: 4 sides of 20 in 7 pieces each. Kept: the wobble's two short edges gain 1 each
  // and the 10-long edge 3.
  EXPECT_EQ(simplified[0].outer.size(), 4u * 7u);
  EXPECT_EQ(kept[0].outer.size(), 6u + 1u + 1u + 3u + 3u * 6u);
  // Refinement off through the ratio (<= 0, NaN) or through buffer_distance (<= 0, NaN).
  struct Off {
    double buffer_distance;
    std::optional<double> ratio;
  };
  for (const Off off : {Off{0.5, 0.0}, Off{0.5, -1.0}, Off{0.5, kNaN}, Off{0.0, kAbsent},
                        Off{-1.0, 0.5}, Off{kNaN, kAbsent}}) {
    // Tolerance: absent is 0.05 x feature_size (the 0.01 wobble goes), 0, negatives and NaN keep
    // it; resample <= 0 or NaN is subdivision mode.
    for (const auto& [tolerance, resample, want] : {std::tuple{kAbsent, kAbsent, &simplified},
                                                    {0.0, kAbsent, &kept},
                                                    {-3.0, kAbsent, &kept},
                                                    {kNaN, kAbsent, &kept},
                                                    {kAbsent, 0.0, &simplified},
                                                    {kAbsent, -2.0, &simplified},
                                                    {kAbsent, kNaN, &simplified}}) {
      expect_same(prepare(in, fs, off.buffer_distance, off.ratio, resample, tolerance), *want);
    }
  }
}

TEST(PreprocessBoundaries, RefinementUsesTheIndexOfAllSubdividedRings) {
  const auto in = sample_polygons();
  const double w = 0.5;
  const auto cut = map(in, [](const Ring& r) { return subdivide_ring(rdp(r, 0.05), 1.5); });
  CurvatureIndex index(w);
  for (const BufferPolygon& p : cut) {
    index.add_ring(p.outer, kQuarterPi);
    for (const Ring& h : p.holes) index.add_ring(h, kQuarterPi);
  }
  for (const auto& [given, effective] :
       {std::pair<std::optional<double>, double>{kAbsent, 0.5}, {0.2, 0.2}, {0.001, 0.01}}) {
    const auto out = prepare(in, 1.0, w, given, kAbsent, kAbsent);
    expect_same(out, map(cut, [&](const Ring& r) {
                  return refine_ring_from_index(r, index, w, effective);
                }));
    EXPECT_GT(out[0].outer.size(), cut[0].outer.size());
  }
}

TEST(PreprocessBoundaries, ResampleModeSkipsSubdivision) {
  const auto in = sample_polygons();
  const double s = 0.5;
  // Refinement off: uniform resampling of the simplified rings; the 2-vertex ring stays a copy.
  const auto uniform =
      map(in, [&](const Ring& r) { return resample_ring(rdp(r, 0.05), s, kCorner); });
  expect_same(prepare(in, 1.0, 0.0, kAbsent, s, kAbsent), uniform);
  // Spacing 5 is coarser than the 1.5 x feature_size edge limit: no edge is cut to it.
  const auto coarse = prepare(in, 1.0, 0.0, kAbsent, 5.0, kAbsent);
  EXPECT_EQ(coarse[0].outer, (Ring{{0, 0},
                                   {5, 0},
                                   {10, 0},
                                   {15, 0},
                                   {20, 0},
                                   {20, 5},
                                   {20, 10},
                                   {20, 15},
                                   {20, 20},
                                   {15, 20},
                                   {10, 20},
                                   {5, 20},
                                   {0, 20},
                                   {0, 15},
                                   {0, 10},
                                   {0, 5}}));
  // Refinement on: the adaptive rings are denser than the uniform ones near corners, and every
  // corner of the simplified ring is kept.
  const auto adaptive = prepare(in, 1.0, 0.2, kAbsent, s, kAbsent);
  ASSERT_EQ(adaptive.size(), in.size());
  EXPECT_GT(adaptive[0].outer.size(), uniform[0].outer.size());
  for (const Point& corner : {Point{0, 0}, Point{20, 0}, Point{20, 20}, Point{0, 20}}) {
    EXPECT_NE(std::find(adaptive[0].outer.begin(), adaptive[0].outer.end(), corner),
              adaptive[0].outer.end());
  }
  EXPECT_EQ(adaptive[2].outer, in[2].outer);  // a 2-vertex ring is never dropped
  for (std::size_t i = 0; i < in.size(); ++i) {
    EXPECT_EQ(adaptive[i].holes.size(), in[i].holes.size());
  }
}

TEST(PointLimit, CountsAreCheckedBeforeAllocating) {
  const std::vector<BufferPolygon> big{{square(0, 0, 1e4), {}}};
  const std::size_t nearly = kPointBudgetFloor - 3;
  const CurvatureIndex index(1.0);
  const PointBudget resample{"resample", nearly};
  const std::string most = std::to_string(std::numeric_limits<std::size_t>::max());
  BoundarySettings tight = resolve_boundary(1.0, 0.5, kAbsent, kAbsent, kAbsent);
  tight.max_points = 50;
  struct Case {
    std::function<void()> call;
    std::string option, count, limit = std::to_string(kPointBudgetFloor);
  };
  const Case cases[] = {
      // 4 edges of 1e4 at spacing 1e-4, a hundredth of the feature size: 4e8 points.
      {[&] { prepare(big, 0.01, 0.0, kAbsent, 1e-4, 0.0); }, "resample", "400000000"},
      {[&] { prepare(big, 1e-4, 0.0, kAbsent, kAbsent, 0.0); }, "feature_size", ""},
      {[] { subdivide_ring({{0, 0}, {1e300, 0}}, 1e-300); }, "max_len", most},
      {[] { resample_span_open({{0, 0}, {1, 0}}, 1e-9, {"spacing", 0}); }, "spacing", "1000000001"},
      // Limits across rings: budgets already mostly used up by earlier rings of the same call.
      {[&] { refine_ring_from_index(square(0, 0, 1), index, 1.0, 0.5, {"ratio", nearly}); },
       "ratio", std::to_string(nearly + 4)},
      {[&] { adaptive_resample_span_open({{0, 0}, {10, 0}}, index, 1, 1, 0.5, resample); },
       "resample", ""},
      {[&] { resample_ring(square(0, 0, 2), 1.0, kCorner, {"spacing", nearly}); }, "spacing", ""},
      // A limit of the caller's own, through the settings and through every span of a ring.
      {[&] { preprocess_boundaries(sample_polygons(), tight); }, "feature_size", "", "50"},
      {[&] { resample_ring_adaptive(square(0, 0, 20), index, 1, 1, 0.5, kCorner, {"r", 0, 50}); },
       "r", "", "50"},
  };
  for (const Case& c : cases) {
    try {
      c.call();
      ADD_FAILURE() << "no InputError for " << c.option;
    } catch (const InputError& e) {
      const std::string what = e.what();
      EXPECT_EQ(what.find(c.option + " is too small: "), 0u) << what;
      for (const std::string& part : {c.count, ", more than the limit of " + c.limit +
                                                   "; set LINETOPO_MAX_POINTS to allow more"}) {
        EXPECT_NE(what.find(part), std::string::npos) << what;
      }
    }
  }
  EXPECT_EQ(resample_ring(square(0, 0, 1), 1.0, kCorner, {"spacing", nearly - 1}).size(), 4u);
  tight.max_points = 100'000;
  EXPECT_NO_THROW(preprocess_boundaries(sample_polygons(), tight));
}

}  // namespace
}  // namespace linetopo
