// Tests for inflating curves into buffer polygons: shapes, union, holes, order and bad input.
#include <clipper2/clipper.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <random>
#include <string>

#include "inflate/inflate.hpp"
#include "pipeline/settings.hpp"
#include "support/inflation.hpp"

namespace linetopo {
namespace {

constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
using Box = std::array<double, 4>;  // x0, y0, x1, y1
using Polys = std::vector<BufferPolygon>;

// Inflation with the tolerances a call at this feature size resolves to.
InflateSettings for_fs(double feature_size) { return resolve_inflation(feature_size); }

double area(const Ring& r) {
  double twice = 0.0;
  for (std::size_t k = 0; k < r.size(); ++k) {
    const Point& b = r[(k + 1) % r.size()];
    twice += r[k].x * b.y - b.x * r[k].y;
  }
  return 0.5 * twice;
}

Box bounds(const Ring& r) {
  Box b{kInf, kInf, -kInf, -kInf};
  for (const Point& p : r) {
    b = {std::min(b[0], p.x), std::min(b[1], p.y), std::max(b[2], p.x), std::max(b[3], p.y)};
  }
  return b;
}

void expect_box(const Ring& r, const Box& want) {
  const Box b = bounds(r);
  for (int k = 0; k < 4; ++k) EXPECT_NEAR(b[k], want[k], 1e-6) << "bound " << k;
}

Polyline square_loop(double h) { return {{-h, -h}, {h, -h}, {h, h}, {-h, h}, {-h, -h}}; }

// The message of the E thrown by f, or a note that none was thrown.
template <typename E, typename F>
std::string message_of(const F& f) {
  try {
    f();
  } catch (const E& e) {
    return e.what();
  }
  return "(no error)";
}

TEST(Inflate, ShortCurvesAndZeroRadius) {
  EXPECT_TRUE(inflate({}, std::nullopt, 1.0, for_fs(1.0)).empty());
  EXPECT_TRUE(inflate({{}, {{1, 1}}}, std::nullopt, 1.0, for_fs(1.0)).empty());
  // At radius 0 the curve itself is read as a closed polygon.
  EXPECT_TRUE(inflate({{{0, 0}, {5, 0}, {9, 0}}}, std::nullopt, 0.0, for_fs(1.0)).empty());
  const Polys tri = inflate({{{0, 0}, {4, 0}, {0, 3}}}, std::nullopt, 0.0, for_fs(1.0));
  ASSERT_EQ(tri.size(), 1u);
  EXPECT_NEAR(area(tri[0].outer), 6.0, 1e-9);
}

TEST(Inflate, SingleHoleFreePolygons) {
  struct Case {
    std::vector<Polyline> curves;
    std::optional<Widths> widths;
    double radius;
    Box box;
    double area;
  };
  const Case cases[] = {
      // A segment gives a rectangle with square caps, whatever the sign of the radius.
      {{{{0, 0}, {10, 0}}}, {}, 1.0, {-1, -1, 11, 1}, 12 * 2},
      {{{{0, 0}, {10, 0}}}, {}, -1.0, {-1, -1, 11, 1}, 12 * 2},
      {{{{0, 0}, {10, 0}}}, {}, 0.25, {-0.25, -0.25, 10.25, 0.25}, 10.5 * 0.5},
      // Coincident points give a square on both routes.
      {{{{3, 4}, {3, 4}, {3, 4}}}, {}, 2.0, {1, 2, 5, 6}, 16},
      {{{{3, 4}, {3, 4}, {3, 4}}}, Widths{{2, 2, 2}}, 2.0, {1, 2, 5, 6}, 16},
      // Crossing curves unite.
      {{{{-5, 0}, {5, 0}}, {{0, -5}, {0, 5}}}, {}, 1.0, {-6, -6, 6, 6}, 2 * 12.0 * 2.0 - 4.0},
  };
  for (const Case& c : cases) {
    const Polys polys = inflate(c.curves, c.widths, c.radius, for_fs(1.0));
    ASSERT_EQ(polys.size(), 1u);
    EXPECT_TRUE(polys[0].holes.empty());
    expect_box(polys[0].outer, c.box);
    EXPECT_NEAR(area(polys[0].outer), c.area, 1e-6);
  }
}

TEST(Inflate, ConstantRadiiMatchUniformRoute) {
  for (const Polyline& curve :
       std::vector<Polyline>{{{0, 0}, {3, 1}, {4, 5}, {1.5, 2.25}, {-2, 4}},
                             square_loop(5),
                             {{0.1234567, -2}, {0.1234567, -2}, {7.7777777, 3.3}}}) {
    const Polys uniform = inflate({curve}, std::nullopt, 0.7, for_fs(1.0));
    const Polys variable =
        inflate({curve}, Widths{std::vector<double>(curve.size(), 0.7)}, 5, for_fs(1));
    ASSERT_EQ(uniform.size(), variable.size());
    for (std::size_t k = 0; k < uniform.size(); ++k) {
      ASSERT_EQ(uniform[k].outer.size(), variable[k].outer.size());
      for (std::size_t v = 0; v < uniform[k].outer.size(); ++v) {
        EXPECT_NEAR(uniform[k].outer[v].x, variable[k].outer[v].x, 1e-6);
        EXPECT_NEAR(uniform[k].outer[v].y, variable[k].outer[v].y, 1e-6);
      }
      EXPECT_EQ(uniform[k].holes.size(), variable[k].holes.size());
    }
  }
}

TEST(Inflate, RadiiFollowTheirVerticesAndCurveIndex) {
  // Radius 1 at (0,0) and 3 at (10,0), whichever way the curve runs.
  expect_box(inflate_curve_variable({{0, 0}, {10, 0}}, {1.0, 3.0}, 0.2).at(0), {-1, -3, 13, 3});
  expect_box(inflate_curve_variable({{10, 0}, {0, 0}}, {3.0, 1.0}, 0.2).at(0), {-1, -3, 13, 3});
  // Curve 0 is skipped yet keeps index 0; curve 2 has an empty entry, curve 3 none.
  const std::vector<Polyline> curves = {
      {{50, 50}}, {{0, 0}, {10, 0}}, {{0, 20}, {10, 20}}, {{0, 40}, {10, 40}}};
  std::vector<Box> boxes;
  for (const BufferPolygon& p : inflate(curves, Widths{{9}, {2, 2}, {}}, 0.5, for_fs(1.0))) {
    boxes.push_back(bounds(p.outer));
  }
  ASSERT_EQ(boxes.size(), 3u);
  std::sort(boxes.begin(), boxes.end(), [](const Box& a, const Box& b) { return a[1] < b[1]; });
  for (const auto& [k, height] : {std::pair{0, 4.0}, {1, 1.0}, {2, 1.0}}) {
    EXPECT_NEAR(boxes[k][3] - boxes[k][1], height, 1e-6);
  }
}

TEST(Inflate, LoopHoleKeptOrDroppedByMinimumArea) {
  // The loop's hole is the square of side 9 (area 81); the minimum is 0.1 * feature_size^2.
  const double at_limit = std::sqrt(810.0);
  for (const auto& [feature_size, keeps] :
       {std::pair{10.0, true}, {at_limit - 1e-9, true}, {at_limit + 1e-6, false}, {30.0, false}}) {
    const Polys polys = inflate({square_loop(5)}, std::nullopt, 0.5, for_fs(feature_size));
    ASSERT_EQ(polys.size(), 1u);
    expect_box(polys[0].outer, {-5.5, -5.5, 5.5, 5.5});
    ASSERT_EQ(polys[0].holes.size(), keeps ? 1u : 0u) << feature_size;
    if (keeps) {
      EXPECT_NEAR(area(polys[0].holes[0]), -81.0, 1e-6);
    }
  }
}

TEST(Inflate, IslandComesFirstAndHolesGoToTheirOwnPolygon) {
  const Polys polys = inflate({square_loop(10), square_loop(3)}, std::nullopt, 0.5, for_fs(1.0));
  ASSERT_EQ(polys.size(), 2u);
  for (const auto& [k, h] : {std::pair{0, 3.0}, {1, 10.0}}) {
    expect_box(polys[k].outer, {-h - 0.5, -h - 0.5, h + 0.5, h + 0.5});
    ASSERT_EQ(polys[k].holes.size(), 1u);
    expect_box(polys[k].holes[0], {-h + 0.5, -h + 0.5, h - 0.5, h - 0.5});
  }
}

TEST(Inflate, PolygonsAscendByOpenLength) {
  const std::vector<Polyline> curves = {
      {{0, 0}, {20, 0}}, {{0, 10}, {2, 10}}, {{0, 20}, {5, 20}}, {{0, 30}, {1, 30}}};
  std::vector<double> lengths;
  for (const auto& p : inflate(curves, std::nullopt, 0.5, for_fs(1.0))) {
    lengths.push_back(bounds(p.outer)[2] - 0.5);
  }
  EXPECT_EQ(lengths, (std::vector<double>{1, 2, 5, 20}));
}

TEST(Inflate, RingsAreCleanAndOriented) {
  // A dense spiral with near-duplicate points, crossing strokes, a tiny loop, odd radii.
  std::vector<Polyline> curves(1);
  for (int k = 0; k < 400; ++k) {
    const double t = 0.05 * k;
    curves[0].push_back({t * std::cos(t), t * std::sin(t)});
    curves[0].push_back({t * std::cos(t) + 1e-7, t * std::sin(t)});
  }
  for (int k = 0; k < 6; ++k) curves.push_back({{-25.0 + 8 * k, -25}, {-20.0 + 8 * k, 25}});
  curves.push_back({{30, 30}, {30.3, 30}, {30.3, 30.3}, {30, 30}});
  curves.push_back({{40, 0}, {42, 1}, {44, 0}, {46, 1}});
  Widths widths(curves.size());
  widths.back() = {1, 0, -1, 0.5};  // zero and negative radii give a smaller result, no failure
  for (const double feature_size : {0.1, 1.0}) {
    const Polys polys = inflate(curves, widths, 0.3, for_fs(feature_size));
    ASSERT_GT(polys.size(), 2u);
    for (const BufferPolygon& poly : polys) {
      EXPECT_GT(area(poly.outer), 0.0);
      for (const Ring& h : poly.holes) EXPECT_LE(area(h), -0.1 * feature_size * feature_size);
      std::vector<Ring> rings = poly.holes;
      rings.push_back(poly.outer);
      for (const Ring& r : rings) {
        ASSERT_GE(r.size(), 3u);
        EXPECT_FALSE(r.front() == r.back());
        for (std::size_t k = 1; k < r.size(); ++k) EXPECT_GT(dist2(r[k - 1], r[k]), 1e-10);
      }
    }
  }
}

TEST(InflateInput, BadValuesNameTheirPlace) {
  const Polyline ok = {{0, 0}, {1, 0}};
  struct Case {
    std::vector<Polyline> curves;
    std::optional<Widths> widths;
    double buffer_distance;
    std::string message;
  };
  const std::string finite = "; it must be a finite number";
  const std::string limit = "; its magnitude must be at most 1e12";
  const Case cases[] = {
      {{ok, {{0, 0}, {kNan, 1}}}, {}, 1.0, "x coordinate of curve 1, point 1 is NaN" + finite},
      {{{{0, -kInf}, {1, 1}}}, {}, 1.0, "y coordinate of curve 0, point 0 is -inf" + finite},
      {{ok, {{0, 0}, {-2e12, 1}}}, {}, 1.0, "x coordinate of curve 1, point 1 is -2e+12" + limit},
      {{ok, ok}, Widths{{}, {1, kInf}}, 1.0, "radius of curve 1, point 1 is inf" + finite},
      {{ok}, Widths{{1.5e12, 1}}, 1.0, "radius of curve 0, point 0 is 1.5e+12" + limit},
      {{ok}, {}, kNan, "buffer_distance is NaN" + finite},
      {{ok}, Widths{}, 3e12, "buffer_distance is 3e+12" + limit},
  };
  // As the entry points run them: the check on the input, then the inflation.
  const auto checked = [](const std::vector<Polyline>& curves, const std::optional<Widths>& widths,
                          double buffer_distance) {
    check_inflation_input(curves, widths, buffer_distance);
    return inflate(curves, widths, buffer_distance, for_fs(1.0));
  };
  for (const Case& c : cases) {
    EXPECT_EQ(message_of<InputError>([&] { checked(c.curves, c.widths, c.buffer_distance); }),
              c.message);
  }
  // Values that are never used are not checked; magnitudes at the limit pass.
  EXPECT_NO_THROW(checked({{{kNan, kInf}}}, std::nullopt, kNan));
  EXPECT_EQ(checked({ok, {{5e12, 0}}}, Widths{{1, 1}}, kNan).size(), 1u);
  EXPECT_EQ(checked({{{-1e12, 0}, {-1e12 + 10, 0}}}, std::nullopt, 1.0).size(), 1u);
  // Each value is at the limit, but the square cap's corner lands beyond the grid, even with the
  // grid's zero in the middle of the curve.
  const Polyline corner = {{-1e12, -1e12}, {1e12, 1e12}};
  for (const auto& widths : {std::optional<Widths>{}, std::optional<Widths>{{{1e12, 1e12}}}}) {
    EXPECT_NE(message_of<InputError>([&] {
                inflate({corner}, widths, 1e12, for_fs(1.0));
              }).find("beyond about 2.3e12"),
              std::string::npos);
  }
  EXPECT_EQ(message_of<InternalError>(
                [] { inflate_curve_variable({{0, 0}, {1, 0}, {2, 0}}, {1.0, 1.0}, 0.2); }),
            "internal error: offset_variable got 2 radii for 3 points");
}

// The region as one flat union of every curve's offset would give it: the reference the
// spatial union tree must reproduce. Holes below the minimum area are left out, as inflate does.
Clipper2Lib::PathsD flat_union(const std::vector<Polyline>& curves, double r, double fs) {
  namespace c2 = Clipper2Lib;
  c2::PathsD shapes;
  for (const Polyline& c : curves) {
    c2::PathD d;
    for (const Point& p : c) d.emplace_back(p.x, p.y);
    for (c2::PathD& s : c2::InflatePaths({d}, r, c2::JoinType::Square, c2::EndType::Square, 0.0, 6))
      shapes.push_back(std::move(s));
  }
  c2::PathsD kept;
  for (c2::PathD& p : c2::Union(shapes, c2::FillRule::NonZero, 6)) {
    if (c2::Area(p) > 0 || -c2::Area(p) >= 0.1 * fs * fs) kept.push_back(std::move(p));
  }
  return kept;
}

// Even-odd ray casting towards +x.
template <class Path>
bool inside(const Point& q, const Path& ring) {
  bool in = false;
  for (std::size_t i = 0, j = ring.size() - 1; i < ring.size(); j = i++) {
    const auto& a = ring[i];
    const auto& b = ring[j];
    if ((q.y < a.y) != (q.y < b.y) && q.x < a.x + (q.y - a.y) * (b.x - a.x) / (b.y - a.y)) in = !in;
  }
  return in;
}

bool in_region(const Point& q, const Polys& polys) {
  const auto in = [&](const Ring& ring) { return inside(q, ring); };
  for (const BufferPolygon& poly : polys) {
    if (!in(poly.outer)) continue;
    if (std::none_of(poly.holes.begin(), poly.holes.end(), in)) return true;
  }
  return false;
}

double distance_to_edges(const Point& q, const Clipper2Lib::PathsD& paths) {
  double best = kInf;
  for (const auto& path : paths) {
    for (std::size_t k = 0; k < path.size(); ++k) {
      const auto& a = path[k];
      const auto& b = path[(k + 1) % path.size()];
      const double dx = b.x - a.x, dy = b.y - a.y;
      const double len2 = dx * dx + dy * dy;
      const double t =
          len2 > 0 ? std::clamp(((q.x - a.x) * dx + (q.y - a.y) * dy) / len2, 0.0, 1.0) : 0.0;
      best = std::min(best, std::hypot(q.x - a.x - t * dx, q.y - a.y - t * dy));
    }
  }
  return best;
}

// Random wandering strokes, closed loops (holes) and curves long enough to be offset in pieces,
// among them a tight spiral whose turns nearly touch.
std::vector<Polyline> tangle(unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::vector<Polyline> curves;
  for (int c = 0; c < 40; ++c) {
    const std::size_t n = c % 10 == 0 ? 700 : 25;
    double x = 60 * u(rng), y = 60 * u(rng), a = 6.3 * u(rng);
    Polyline curve;
    for (std::size_t i = 0; i < n; ++i) {
      a += 0.5 * (u(rng) - 0.5);
      x += std::cos(a);
      y += std::sin(a);
      curve.push_back({x, y});
    }
    curves.push_back(std::move(curve));
  }
  for (int c = 0; c < 4; ++c) {
    const double cx = 60 * u(rng), cy = 60 * u(rng), rad = 3 + 5 * u(rng);
    Polyline loop;
    for (int i = 0; i <= 24; ++i) {
      loop.push_back({cx + rad * std::cos(i * 0.2618), cy + rad * std::sin(i * 0.2618)});
    }
    curves.push_back(std::move(loop));
  }
  Polyline spiral;
  for (int i = 0; i < 3000; ++i) {
    const double a = 0.01 * i, r = 1.0 + 0.02 * a;
    spiral.push_back({100 + r * std::cos(a), r * std::sin(a)});
  }
  curves.push_back(std::move(spiral));
  return curves;
}

// The region of inflate against one flat union: area, hole count and a sample of points.
void expect_region_of_flat_union(const std::vector<Polyline>& curves, double r, double fs,
                                 unsigned seed) {
  const Polys polys = inflate(curves, std::nullopt, r, for_fs(fs));
  const Clipper2Lib::PathsD ref = flat_union(curves, r, fs);
  double want = 0.0;
  std::size_t want_holes = 0;
  for (const auto& p : ref) {
    want += Clipper2Lib::Area(p);
    want_holes += Clipper2Lib::Area(p) < 0 ? 1 : 0;
  }
  double got = 0.0;
  std::size_t got_holes = 0;
  for (const BufferPolygon& poly : polys) {
    got += area(poly.outer);
    for (const Ring& h : poly.holes) got += area(h);
    got_holes += poly.holes.size();
  }
  EXPECT_NEAR(got, want, 1e-6 * want) << "seed " << seed;
  double x0 = 1e300, y0 = 1e300, x1 = -1e300, y1 = -1e300;
  for (const Polyline& c : curves) {
    for (const Point& p : c) {
      x0 = std::min(x0, p.x - 2 * r);
      y0 = std::min(y0, p.y - 2 * r);
      x1 = std::max(x1, p.x + 2 * r);
      y1 = std::max(y1, p.y + 2 * r);
    }
  }
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> ux(x0, x1), uy(y0, y1);
  int checked = 0;
  for (int k = 0; k < 400; ++k) {
    const Point q{ux(rng), uy(rng)};
    if (distance_to_edges(q, ref) < 1e-4) continue;
    int winding = 0;
    for (const auto& p : ref) {
      if (inside(q, p)) winding += Clipper2Lib::Area(p) > 0 ? 1 : -1;
    }
    EXPECT_EQ(in_region(q, polys), winding > 0) << "seed " << seed << " at " << q.x << ", " << q.y;
    ++checked;
  }
  EXPECT_GT(checked, 300);
}

TEST(InflateUnion, TreeGivesTheRegionOfOneFlatUnion) {
  for (const auto& [seed, r] : {std::pair{1u, 0.3}, std::pair{2u, 0.05}, std::pair{3u, 0.8}}) {
    expect_region_of_flat_union(tangle(seed), r, 0.1, seed);
  }
}

// A long curve whose buffer never touches itself is joined from its pieces without a sweep; one
// that crosses itself goes through the union. Both give the flat union's region.
TEST(InflateUnion, LongCurvesJoinedOrUnitedGiveTheSameRegion) {
  Polyline spiral;
  Polyline loops;
  for (int i = 0; i < 3000; ++i) {
    const double a = 0.01 * i;
    spiral.push_back({(1.0 + 0.3 * a) * std::cos(a), (1.0 + 0.3 * a) * std::sin(a)});
    loops.push_back({0.01 * i + 0.5 * std::cos(0.07 * i), 0.5 * std::sin(0.07 * i)});
  }
  expect_region_of_flat_union({spiral}, 0.2, 0.1, 5);
  expect_region_of_flat_union({loops}, 0.05, 0.02, 6);
}

TEST(InflateUnion, AnIslandKeepsItsHoleWhenAnEnclosingPolygonComesFirst) {
  Polyline star;
  for (int i = 0; i <= 80; ++i) {
    const double rad = i % 2 == 0 ? 8.0 : 3.0;
    star.push_back({rad * std::cos(i * 0.0785398), rad * std::sin(i * 0.0785398)});
  }
  const Polys polys = inflate({square_loop(10.0), star}, std::nullopt, 0.3, for_fs(1.0));
  ASSERT_EQ(polys.size(), 2u);
  EXPECT_LT(std::fabs(area(polys[0].outer)), 21.0 * 21.0);  // the frame
  ASSERT_EQ(polys[0].holes.size(), 1u);
  ASSERT_EQ(polys[1].holes.size(), 1u);
  EXPECT_LT(std::fabs(area(polys[1].holes[0])), 3.2 * 3.2 * 3.15);  // inside the spikes' roots
}

// Rings nest four deep, and a street grid gives one outer ring with a hundred holes: each hole
// must land in the polygon directly around it.
TEST(InflateUnion, EveryHoleGoesToThePolygonDirectlyAroundIt) {
  const Polys nested = inflate({square_loop(8), square_loop(2), square_loop(6), square_loop(4)},
                               std::nullopt, 0.5, for_fs(1.0));
  ASSERT_EQ(nested.size(), 4u);
  for (std::size_t k = 0; k < 4; ++k) {
    const double h = 2.0 * static_cast<double>(k + 1);
    expect_box(nested[k].outer, {-h - 0.5, -h - 0.5, h + 0.5, h + 0.5});
    ASSERT_EQ(nested[k].holes.size(), 1u);
    expect_box(nested[k].holes[0], {-h + 0.5, -h + 0.5, h - 0.5, h - 0.5});
  }
  std::vector<Polyline> streets;
  for (int i = 0; i <= 10; ++i) {
    streets.push_back({{0.0, 10.0 * i}, {100.0, 10.0 * i}});
    streets.push_back({{10.0 * i, 0.0}, {10.0 * i, 100.0}});
  }
  const Polys grid = inflate(streets, std::nullopt, 1.0, for_fs(0.5));
  ASSERT_EQ(grid.size(), 1u);
  EXPECT_EQ(grid[0].holes.size(), 100u);
  expect_region_of_flat_union(streets, 1.0, 0.5, 7);
}

TEST(InflateUnion, RingsStartAtTheirLeastVertexWhateverTheCurveOrder) {
  std::vector<Polyline> curves = tangle(4);
  const Polys a = inflate(curves, std::nullopt, 0.3, for_fs(0.1));
  std::reverse(curves.begin(), curves.end());
  const Polys b = inflate(curves, std::nullopt, 0.3, for_fs(0.1));
  ASSERT_EQ(a.size(), b.size());
  for (std::size_t i = 0; i < a.size(); ++i) {
    EXPECT_EQ(a[i].outer, b[i].outer);
    const auto least = std::min_element(a[i].outer.begin(), a[i].outer.end(), [](auto p, auto q) {
      return p.x < q.x || (p.x == q.x && p.y < q.y);
    });
    EXPECT_EQ(least, a[i].outer.begin());
  }
}

}  // namespace
}  // namespace linetopo
