// Polygons as users have them, made into the valid region the pipeline takes.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "inflate/inflate.hpp"

namespace linetopo {
namespace {

const InflateSettings kSettings{.arc_tolerance = 0.2, .min_hole_area = 0.1};

double ring_area(const Ring& r) { return std::fabs(signed_area(r)); }

// Polygon count, hole count and covered area.
struct Covered {
  std::size_t polygons = 0, holes = 0;
  double area = 0.0;
};

Covered covered(const std::vector<BufferPolygon>& polygons) {
  Covered c;
  for (const BufferPolygon& p : polygons) {
    ++c.polygons;
    c.area += ring_area(p.outer);
    for (const Ring& h : p.holes) {
      ++c.holes;
      c.area -= ring_area(h);
    }
  }
  return c;
}

Ring square(double x, double y, double side) {
  return {{x, y}, {x + side, y}, {x + side, y + side}, {x, y + side}};
}

Ring reversed(Ring r) { return {r.rbegin(), r.rend()}; }

TEST(UnitePolygons, MakesWhatUsersHaveValid) {
  const Ring sq = square(0, 0, 10);
  Ring closed_with_repeats = sq;
  closed_with_repeats.insert(closed_with_repeats.begin() + 1, sq[1]);
  closed_with_repeats.push_back(sq[0]);
  const Ring bowtie{{0, 0}, {10, 10}, {10, 0}, {0, 10}};  // two triangles of 25
  const Ring touching_hole{{0, 4}, {4, 2}, {4, 6}};         // its corner on the outer ring
  struct Case {
    const char* name;
    std::vector<BufferPolygon> in;
    std::size_t polygons, holes;
    double area;
  };
  const std::vector<Case> cases{
      {"counter-clockwise", {{sq, {}}}, 1, 0, 100},
      {"clockwise", {{reversed(sq), {}}}, 1, 0, 100},
      {"closed, repeated points", {{closed_with_repeats, {}}}, 1, 0, 100},
      {"self-crossing", {{bowtie, {}}}, 2, 0, 50},
      {"hole either way round",
       {{sq, {square(2, 2, 2)}}, {square(20, 0, 10), {reversed(square(22, 2, 2))}}},
       2,
       2,
       192},
      {"hole touching the outer ring", {{sq, {touching_hole}}}, 1, 1, 92},
      {"hole outside the outer ring", {{sq, {square(20, 20, 2)}}}, 1, 0, 100},
      {"hole inside a hole", {{sq, {square(1, 1, 8), reversed(square(3, 3, 2))}}}, 1, 1, 36},
      {"holes that overlap", {{sq, {square(2, 2, 4), square(4, 4, 4)}}}, 1, 1, 72},
      {"overlapping polygons", {{sq, {}}, {square(5, 5, 10), {}}}, 1, 0, 175},
      {"degenerate rings", {{{{0, 0}, {5, 5}, {0, 0}}, {}}, {sq, {{{1, 1}, {2, 2}}}}}, 1, 0, 100},
  };
  for (const Case& c : cases) {
    const Covered got = covered(unite_polygons(c.in, kSettings));
    EXPECT_EQ(got.polygons, c.polygons) << c.name;
    EXPECT_EQ(got.holes, c.holes) << c.name;
    EXPECT_NEAR(got.area, c.area, 1e-6) << c.name;
  }
}

TEST(NestRings, SortsTracedRingsIntoPolygons) {
  // A frame round a hole that holds an island, a blob apart, and a hole too small to keep.
  const std::vector<BufferPolygon> got =
      nest_rings({square(4, 4, 2), reversed(square(2, 2, 6)), square(0, 0, 10), square(20, 0, 3),
                  reversed(square(0.5, 0.5, 0.2))},
                 kSettings);
  ASSERT_EQ(got.size(), 3U);
  const double areas[] = {4, 9, 100};
  for (std::size_t k = 0; k < 3; ++k) {
    EXPECT_NEAR(ring_area(got[k].outer), areas[k], 1e-9);
    EXPECT_EQ(got[k].holes.size(), k == 2 ? 1U : 0U);
  }
  EXPECT_NEAR(ring_area(got[2].holes[0]), 36, 1e-9);
}

TEST(UnitePolygons, NamesThePolygonAndRingOfABadPoint) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<BufferPolygon> polygons{
      {square(0, 0, 1), {}},
      {square(5, 5, 1), {square(5.2, 5.2, 0.1), {{5, 5}, {5, 6}, {nan, 5}}}}};
  try {
    check_polygon_input(polygons);
    FAIL() << "no error";
  } catch (const InputError& e) {
    EXPECT_STREQ(e.what(), "x coordinate of polygon 1, hole 1, point 2 is NaN; it must be a "
                           "finite number");
  }
  EXPECT_THROW(check_polygon_input({{{{0, 0}, {1, 0}, {0, 1e13}}, {}}}), InputError);
}

}  // namespace
}  // namespace linetopo
