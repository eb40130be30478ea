// Tests of the polygon triangulation and the skeleton segments taken from it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <numbers>
#include <random>
#include <tuple>

#include "skeleton_cdt/skeleton_cdt.hpp"
#include "support/skeletons.hpp"

namespace linetopo {
namespace {

// Sum of signed triangle areas, taken relative to `origin` to keep precision at large coordinates.
double area(const std::vector<Triangle>& ts, Point o = {}) {
  double sum = 0.0;
  for (const Triangle& t : ts) {
    const double a = signed_area(
        {{t[0].x - o.x, t[0].y - o.y}, {t[1].x - o.x, t[1].y - o.y}, {t[2].x - o.x, t[2].y - o.y}});
    EXPECT_GT(a, 0.0);  // counter-clockwise, never degenerate
    sum += a;
  }
  return sum;
}

bool in_box(Point p, double lo, double hi) { return p.x > lo && p.x < hi && p.y > lo && p.y < hi; }

// A closed ring through `corners`, each side cut into pieces of at most `step`.
Ring subdivide(const std::vector<Point>& corners, double step) {
  Ring r;
  for (std::size_t c = 0; c < corners.size(); ++c) {
    const Point a = corners[c];
    const Point b = corners[(c + 1) % corners.size()];
    const int pieces = static_cast<int>(std::ceil(dist(a, b) / step));
    for (int i = 0; i < pieces; ++i) {
      const double t = static_cast<double>(i) / pieces;
      r.push_back({a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t});
    }
  }
  return r;
}

Ring square(double lo, double hi, double step, bool ccw = true) {
  Ring r = subdivide({{lo, lo}, {hi, lo}, {hi, hi}, {lo, hi}}, step);
  if (!ccw) std::reverse(r.begin(), r.end());
  return r;
}

TEST(GetTriangles, SingleTriangleIsJitteredByIndex) {
  const Ring outer{{0, 0}, {3, 0}, {0, 2}};
  const auto ts = get_triangles(outer, {});
  ASSERT_EQ(ts.size(), 1u);
  std::vector<Point> got(ts[0].begin(), ts[0].end());
  const auto by_x = [](Point a, Point b) { return a.x < b.x; };
  std::sort(got.begin(), got.end(), by_x);
  const std::vector<Point> want{{0.0, 1e-9},
                                {0.0 + std::sin(2 * 1.1) * 1e-9, 2.0 + std::cos(2 * 1.3) * 1e-9},
                                {3.0 + std::sin(1.1) * 1e-9, 0.0 + std::cos(1.3) * 1e-9}};
  EXPECT_EQ(got, want);
}

TEST(GetTriangles, RingsOfTwoOrFewerVerticesAreSkipped) {
  const Ring sq{{0, 0}, {4, 0}, {4, 4}, {0, 4}};
  const Ring two{{1, 1}, {2, 2}};
  const auto plain = get_triangles(sq, {});
  EXPECT_EQ(plain.size(), 2u);
  EXPECT_EQ(get_triangles(sq, {two, {}, Ring{{3, 3}}}), plain);
  // A skipped outer ring does not stop a hole, whose indices then start at 0.
  EXPECT_EQ(get_triangles(two, {sq}), plain);
  EXPECT_TRUE(get_triangles(two, {two}).empty());
  EXPECT_TRUE(try_get_triangles({}, {}).has_value());  // nothing to do is not a rejection
  EXPECT_TRUE(skeletonize(two, {Ring{{0, 0}}}).empty());
}

TEST(GetTriangles, RejectedPolygonGivesFailureNotCrash) {
  const Ring bowtie{{0, 0}, {2, 2}, {2, 0}, {0, 2}};
  const Ring sq{{0, 0}, {4, 0}, {4, 4}, {0, 4}};
  const Ring crossing_hole{{2, 2}, {6, 3}, {2, 3}};
  for (const auto& [outer, holes] :
       std::vector<std::pair<Ring, std::vector<Ring>>>{{bowtie, {}}, {sq, {crossing_hole}}}) {
    EXPECT_FALSE(try_get_triangles(outer, holes).has_value());
    EXPECT_FALSE(try_skeleton(outer, holes).has_value());
    EXPECT_TRUE(get_triangles(outer, holes).empty());
    EXPECT_TRUE(skeletonize(outer, holes).empty());
  }
}

// Contours given straight to the adapter, without jitter, and the area they enclose.
struct ContourCase {
  const char* name;
  std::vector<Point> points;
  std::vector<std::vector<std::size_t>> contours;
  double area;
};

TEST(TriangulateContours, EvenOddInteriorAndCoincidentPoints) {
  const std::vector<ContourCase> cases{
      // Point 5 repeats point 1: one vertex, reported as 1.
      {"touching",
       {{0, 0}, {4, 0}, {4, 4}, {0, 4}, {2, 2}, {4, 0}, {3, 3}},
       {{0, 1, 2, 3, 0}, {4, 5, 6, 4}},
       14.0},
      // The hole's first vertex splits the outer ring's bottom edge.
      {"vertex on edge",
       {{0, 0}, {4, 0}, {4, 4}, {0, 4}, {2, 0}, {3, 1}, {1, 1}},
       {{0, 1, 2, 3, 0}, {4, 5, 6, 4}},
       15.0},
      // A hole along the outer ring's bottom edge: the doubled edge cancels out.
      {"shared edge",
       {{0, 0}, {2, 0}, {2, 2}, {0, 2}, {0, 0}, {1, 1}, {2, 0}},
       {{0, 1, 2, 3, 0}, {4, 5, 6, 4}},
       3.0},
      {"collinear", {{0, 0}, {1, 0}, {2, 0}}, {{0, 1, 2, 0}}, 0.0},
  };
  for (const ContourCase& c : cases) {
    SCOPED_TRACE(c.name);
    const auto result = triangulate_contours(c.points, c.contours);
    ASSERT_TRUE(result.has_value());
    std::vector<Triangle> ts;
    for (const IndexTriangle& t : *result) {
      for (const std::size_t i : t) {
        ASSERT_LT(i, c.points.size());
        for (std::size_t k = 0; k < i; ++k) EXPECT_NE(c.points[k], c.points[i]);
      }
      ts.push_back({c.points[t[0]], c.points[t[1]], c.points[t[2]]});
    }
    EXPECT_DOUBLE_EQ(area(ts), c.area);
  }
  EXPECT_THROW(triangulate_contours({{0, 0}, {1, 0}, {0, 1}}, {{0, 1, 3, 0}}), InternalError);
  EXPECT_FALSE(triangulate_contours({{0, 0}, {1, NAN}, {0, 1}}, {{0, 1, 2, 0}}).has_value());
}

TEST(GetTriangles, HoleTouchingOuterRingAtAVertexKeepsThePolygon) {
  for (const Point shift : {Point{0, 0}, Point{446000, 4636000}}) {
    const Ring outer = square(0, 8, 2.0);
    for (std::size_t k = 0; k < outer.size(); ++k) {
      if (k % 4 == 0) continue;  // no room at the corners
      SCOPED_TRACE(testing::Message() << "shift " << shift.x << " vertex " << k);
      // A thin clockwise triangle from the touching vertex towards the centre.
      const Point v = outer[k];
      const Point d{(4 - v.x) / 4, (4 - v.y) / 4};
      Ring hole{v,
                {v.x + d.x + d.y / 2, v.y + d.y - d.x / 2},
                {v.x + d.x - d.y / 2, v.y + d.y + d.x / 2}};
      if (signed_area(hole) > 0) std::reverse(hole.begin(), hole.end());
      Ring moved_outer = outer, moved_hole = hole;
      for (Point& p : moved_outer) p = {p.x + shift.x, p.y + shift.y};
      for (Point& p : moved_hole) p = {p.x + shift.x, p.y + shift.y};
      const auto ts = try_get_triangles(moved_outer, {moved_hole});
      ASSERT_TRUE(ts.has_value());
      EXPECT_NEAR(area(*ts, shift), signed_area(outer) + signed_area(hole), 1e-6);
      const auto segments = try_skeleton(moved_outer, {moved_hole});
      ASSERT_TRUE(segments.has_value());
      EXPECT_FALSE(segments->segments.empty());
    }
  }
}

TEST(GetTriangles, RandomPolygonsAreTiledExactlyAndRepeatably) {
  std::mt19937_64 rng(12345);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const auto star = [&](Point c, int n, double r0, double r1, double sign) {
    Ring r;
    for (int i = 0; i < n; ++i) {
      const double a = sign * 2 * std::numbers::pi * (i + 0.8 * unit(rng)) / n;
      const double radius = r0 + (r1 - r0) * unit(rng);
      r.push_back({c.x + radius * std::cos(a), c.y + radius * std::sin(a)});
    }
    return r;
  };
  for (int run = 0; run < 200; ++run) {
    SCOPED_TRACE(run);
    // A star-shaped outer ring and small holes on a circle well inside it.
    const Ring outer = star({0, 0}, 8 + static_cast<int>(unit(rng) * 60), 10, 20, 1);
    std::vector<Ring> holes;
    double want = signed_area(outer);
    for (int h = 0, count = static_cast<int>(unit(rng) * 5); h < count; ++h) {
      const double a = 2 * std::numbers::pi * h / 5;
      holes.push_back(star({5 * std::cos(a), 5 * std::sin(a)}, 3 + static_cast<int>(unit(rng) * 6),
                           0.5, 1.7, -1));
      want += signed_area(holes.back());
    }
    const auto ts = get_triangles(outer, holes);
    EXPECT_NEAR(area(ts), want, 1e-7 * std::abs(want));
    EXPECT_EQ(ts, get_triangles(outer, holes));
    const auto segments = skeletonize(outer, holes);
    const auto again = skeletonize(outer, holes);
    const auto same = [](const Segment& s, const Segment& t) { return s.a == t.a && s.b == t.b; };
    EXPECT_TRUE(std::equal(segments.begin(), segments.end(), again.begin(), again.end(), same));
  }
}

// Segment ends welded by exact equality: the number of segments at each, and the pieces.
struct Welded {
  std::map<std::pair<double, double>, int> degree;
  std::size_t components = 0;
};

Welded weld(const std::vector<Segment>& segments) {
  Welded w;
  std::map<std::pair<double, double>, std::size_t> id;
  std::vector<std::size_t> parent;
  const auto node = [&](Point p) {
    ++w.degree[{p.x, p.y}];
    const auto [it, added] = id.try_emplace({p.x, p.y}, parent.size());
    if (added) parent.push_back(parent.size());
    return it->second;
  };
  const auto find = [&](std::size_t i) {
    while (parent[i] != i) i = parent[i] = parent[parent[i]];
    return i;
  };
  for (const Segment& s : segments) parent[find(node(s.a))] = find(node(s.b));
  for (std::size_t i = 0; i < parent.size(); ++i) w.components += find(i) == i;
  return w;
}

TEST(Skeletonize, PolygonsOfFiveOrFewerVerticesGiveNoSegments) {
  for (int n = 3; n <= 5; ++n) {
    Ring r;
    for (int i = 0; i < n; ++i) {
      r.push_back({std::cos(2 * std::numbers::pi * i / n), std::sin(2 * std::numbers::pi * i / n)});
    }
    EXPECT_TRUE(skeletonize(r, {}).empty()) << n;
  }
  EXPECT_TRUE(skeletonize(Ring{{0, 0}, {10, 0}, {10, 1}, {5, 0.5}, {0, 1}}, {}).empty());
}

// A strip `unit` wide and `length` units long, its long sides cut into `pieces` each, its short
// sides whole. In the second the sagitta across it (5e-7 squared over 1e-3) is far below a
// nanometre: a fixed tie-breaking displacement there would pick the triangles and grow branches.
TEST(Skeletonize, ThinRectangleGivesOneSleeveChain) {
  for (const auto& [unit, length, pieces] : {std::tuple{1.0, 100.0, 100}, {1e-3, 20.0, 40'000}}) {
    SCOPED_TRACE(unit);
    const double long_side = length * unit;
    Ring strip;
    for (int i = 0; i <= pieces; ++i) strip.push_back({long_side * i / pieces, 0});
    for (int i = pieces; i >= 0; --i) strip.push_back({long_side * i / pieces, unit});
    const auto segments = skeletonize(strip, {});
    ASSERT_GT(segments.size(), 1.5 * pieces);
    const Welded w = weld(segments);  // joins only where ends agree bit for bit
    EXPECT_EQ(w.components, 1u);
    int ends = 0;
    for (const auto& [p, k] : w.degree) {
      ASSERT_LE(k, 2);
      EXPECT_NEAR(p.second, 0.5 * unit, 1e-6 * unit);
      if (k == 1) {
        ++ends;
        // Within a piece or so of a short side, but short of it.
        const double gap = std::min(p.first, long_side - p.first) * pieces / long_side;
        EXPECT_TRUE(gap > 0.4 && gap < 1.5) << p.first;
      }
    }
    EXPECT_EQ(ends, 2);
  }
}

TEST(Skeletonize, SquareAnnulusLeavesTheHoleEmptyAndGivesAClosedLoop) {
  const Ring outer = square(0, 10, 0.5), hole = square(3, 7, 0.5, false);
  const auto ts = get_triangles(outer, {hole});
  EXPECT_NEAR(area(ts), 100.0 - 16.0, 1e-6);
  for (const Triangle& t : ts) {
    EXPECT_FALSE(in_box({(t[0].x + t[1].x + t[2].x) / 3, (t[0].y + t[1].y + t[2].y) / 3}, 3, 7));
  }
  std::vector<Segment> segments = skeletonize(outer, {hole});
  EXPECT_EQ(weld(segments).components, 1u);
  // Strip the short spurs into the outer corners; one loop round the hole must remain.
  for (std::size_t before = 0; before != segments.size();) {
    before = segments.size();
    const auto degree = weld(segments).degree;
    std::erase_if(segments, [&](const Segment& s) {
      return degree.at({s.a.x, s.a.y}) == 1 || degree.at({s.b.x, s.b.y}) == 1;
    });
  }
  ASSERT_GT(segments.size(), 20u);
  const Welded loop = weld(segments);
  EXPECT_EQ(loop.components, 1u);
  int sides = 0;
  for (const auto& [p, k] : loop.degree) {
    EXPECT_EQ(k, 2);
    EXPECT_FALSE(in_box({p.first, p.second}, 3, 7));
    sides |= (p.first < 3) | (p.first > 7) << 1 | (p.second < 3) << 2 | (p.second > 7) << 3;
  }
  EXPECT_EQ(sides, 15);
}

TEST(Skeletonize, YShapeHasAJunctionNearItsCentre) {
  // Three arms of width 2 and length 10 meeting at the origin.
  std::vector<Point> corners;
  for (int arm = 0; arm < 3; ++arm) {
    const double a = std::numbers::pi / 2 + arm * 2 * std::numbers::pi / 3;
    const Point u{std::cos(a), std::sin(a)};
    const double inner = 1.0 / std::sqrt(3.0);  // where neighbouring arms meet
    corners.push_back({inner * u.x + u.y, inner * u.y - u.x});
    corners.push_back({10 * u.x + u.y, 10 * u.y - u.x});
    corners.push_back({10 * u.x - u.y, 10 * u.y + u.x});
  }
  const Welded w = weld(skeletonize(subdivide(corners, 0.5), {}));
  EXPECT_EQ(w.components, 1u);
  int central_junctions = 0;
  for (const auto& [p, k] : w.degree) {
    ASSERT_LE(k, 3);
    central_junctions += k == 3 && std::hypot(p.first, p.second) < 1.5;
  }
  EXPECT_GE(central_junctions, 1);
}

}  // namespace
}  // namespace linetopo
