// Tests for the unions in strips and of shapes apart: the same region as one sweep, ring for ring.
#include <clipper2/clipper.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "inflate/apart.hpp"
#include "inflate/inflate.hpp"
#include "inflate/meeting.hpp"
#include "inflate/offsets.hpp"
#include "inflate/strips.hpp"
#include "inflate/union_tree.hpp"

namespace linetopo::inflate_parts {
namespace {

// Random walks whose ink covers most of their square, so that the buffers fuse into one region
// with holes everywhere; loops among them leave islands inside holes.
std::vector<Polyline> dense(unsigned seed, std::size_t strokes, double side) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::normal_distribution<double> turn(0.0, 0.15);
  std::vector<Polyline> curves;
  for (std::size_t s = 0; s < strokes; ++s) {
    double x = side * u(rng), y = side * u(rng), a = 6.3 * u(rng);
    Polyline c;
    for (int i = 0; i < 50; ++i) {
      c.push_back({x, y});
      a += turn(rng);
      x += std::cos(a);
      y += std::sin(a);
    }
    curves.push_back(std::move(c));
  }
  for (int k = 0; k < 6; ++k) {  // long curves, offset in pieces and cut by several seams
    Polyline c;
    for (int i = 0; i < 400; ++i) c.push_back({side * i / 400.0, side * (0.1 + 0.15 * k)});
    curves.push_back(std::move(c));
  }
  return curves;
}

Pieces leaves_of(const std::vector<Polyline>& curves, double r) {
  Pieces leaves;
  for (const Polyline& c : curves) {
    for (Piece& p : offset_curve(c, nullptr, r, 0.2 * 2 * r)) leaves.push_back(std::move(p));
  }
  return leaves;
}

struct Summary {
  std::size_t outers = 0, holes = 0;
  double area = 0.0;
};

Summary summary(const Pieces& pieces) {
  Summary s;
  for (const Piece& p : pieces) {
    for (const UnionRing& r : p.rings) {
      const double a = c2::Area(r.path);
      (a > 0 ? s.outers : s.holes) += 1;
      s.area += a;
    }
  }
  return s;
}

// Inside the region: inside an odd number of its rings, since rings neither cross nor overlap.
bool in_region(const c2::Point64& q, const Pieces& pieces) {
  int depth = 0;
  for (const Piece& p : pieces) {
    for (const UnionRing& r : p.rings) {
      depth += c2::PointInPolygon(q, r.path) == c2::PointInPolygonResult::IsInside ? 1 : 0;
    }
  }
  return depth % 2 == 1;
}

// Each hole's parent chain reaches an outer ring of larger area before any other hole.
void expect_holes_in_outer_rings(const Pieces& pieces) {
  for (const Piece& p : pieces) {
    ASSERT_GT(c2::Area(p.rings.front().path), 0.0);
    EXPECT_EQ(p.rings.front().parent, -1);
    for (std::size_t i = 1; i < p.rings.size(); ++i) {
      const std::ptrdiff_t up = p.rings[i].parent;
      ASSERT_GE(up, 0);
      ASSERT_LT(static_cast<std::size_t>(up), i);
      const c2::Path64& holder = p.rings[static_cast<std::size_t>(up)].path;
      EXPECT_NE(c2::Area(p.rings[i].path) > 0, c2::Area(holder) > 0);
      EXPECT_NE(c2::PointInPolygon(p.rings[i].path.front(), holder),
                c2::PointInPolygonResult::IsOutside);
    }
  }
}

// At radius 1.5 the buffers side by side cover about 0.6 of each strip, which then takes one
// sweep; at radius 3 they pile up past it, and each strip takes the tree.
TEST(InflateStrips, SameRegionAsTheTree) {
  for (const auto& [seed, r] : {std::pair{1u, 1.5}, {2u, 1.5}, {3u, 1.5}, {4u, 3.0}}) {
    const double side = 2.0 * std::sqrt(700.0 * 50.0);
    const std::vector<Polyline> curves = dense(seed, 700, side);
    const Pieces tree = unite_in_tree(leaves_of(curves, r));
    const Pieces strips = unite_in_strips(leaves_of(curves, r), r * 1e6);
    const Summary a = summary(tree), b = summary(strips);
    EXPECT_EQ(a.outers, b.outers) << "seed " << seed;
    EXPECT_EQ(a.holes, b.holes) << "seed " << seed;
    EXPECT_GT(a.holes, 100u);
    EXPECT_NEAR(a.area, b.area, 1e-9 * a.area) << "seed " << seed;
    expect_holes_in_outer_rings(strips);
    std::mt19937 rng(seed);
    const auto far = static_cast<std::int64_t>(side * 1e6) + 3'000'000;
    std::uniform_int_distribution<std::int64_t> u(-3'000'000, far);
    for (int k = 0; k < 300; ++k) {
      const c2::Point64 q(u(rng), u(rng));
      EXPECT_EQ(in_region(q, tree), in_region(q, strips)) << q.x << ", " << q.y;
    }
  }
}

// A row is swept across its short side, turned and turned back: the region of the same row
// upright, mirrored, with outer rings still of positive area.
TEST(InflateStrips, ARowAndTheRowUprightGiveMirroredRegions) {
  std::vector<Polyline> row = dense(5, 300, 60.0);
  for (std::size_t i = 0; i < row.size(); ++i) {
    for (Point& p : row[i]) p.x += 70.0 * static_cast<double>(i % 8);
  }
  std::vector<Polyline> upright = row;
  for (Polyline& c : upright) {
    for (Point& p : c) std::swap(p.x, p.y);
  }
  const auto flat = [](const std::vector<Polyline>& curves) {
    c2::Paths64 all;
    for (Piece& leaf : leaves_of(curves, 1.0)) {
      for (UnionRing& r : leaf.rings) all.push_back(std::move(r.path));
    }
    return unite(std::move(all));
  };
  const Pieces wide = flat(row), tall = flat(upright);
  const Summary a = summary(wide), b = summary(tall);
  EXPECT_EQ(a.outers, b.outers);
  EXPECT_EQ(a.holes, b.holes);
  EXPECT_GT(a.holes, 10u);
  EXPECT_NEAR(a.area, b.area, 1e-9 * a.area);
  expect_holes_in_outer_rings(wide);
  std::mt19937 rng(5);
  std::uniform_int_distribution<std::int64_t> x(0, 620'000'000), y(0, 60'000'000);
  for (int k = 0; k < 300; ++k) {
    const c2::Point64 q(x(rng), y(rng));
    EXPECT_EQ(in_region(q, wide), in_region(c2::Point64(q.y, q.x), tall)) << q.x << ", " << q.y;
  }
}

TEST(InflateStrips, OnlyDenseLargeInputsTakeThem) {
  const double side = 2.0 * std::sqrt(700.0 * 50.0);
  EXPECT_TRUE(fuses(leaves_of(dense(1, 700, side), 1.5)));
  EXPECT_FALSE(fuses(leaves_of(dense(1, 700, 3.0 * side), 1.5)));  // sparse
  EXPECT_FALSE(fuses(leaves_of(dense(1, 100, side / 3.0), 1.5)));  // small
}

c2::Path64 square(std::int64_t lo, std::int64_t hi) {
  return {{lo, lo}, {hi, lo}, {hi, hi}, {lo, hi}};
}

// A shape as a union answers it: outer rings of positive area, holes of negative.
c2::Paths64 shape(const c2::Path64& outer, const c2::Paths64& holes = {}) {
  c2::Clipper64 clipper;
  clipper.AddSubject({outer});
  clipper.AddClip(holes);
  c2::Paths64 out;
  clipper.Execute(c2::ClipType::Difference, c2::FillRule::NonZero, out);
  return out;
}

// Shapes in each other's holes, one covered by another, one a grid unit off another's hole (close
// enough to touch once united), and some that overlap: one sweep's region and rings.
TEST(UniteApart, SameRegionAsOneSweep) {
  const std::vector<c2::Paths64> shapes = {
      shape(square(0, 1000), {square(100, 900)}),
      shape(square(200, 800), {square(300, 700)}),  // in the first one's hole
      shape(square(350, 650)),                      // in the second one's hole
      shape(square(220, 280)),                      // covered by the second one
      shape(square(101, 150)),                      // a unit off the first one's hole
      shape(square(950, 1100)),                     // overlaps the first one
      shape(square(2000, 2100), {square(2010, 2090)}),
      shape(square(2040, 2060)),                    // in that one's hole
  };
  c2::Paths64 all;
  for (const c2::Paths64& s : shapes) all.insert(all.end(), s.begin(), s.end());
  const Pieces swept = unite(all);
  const Pieces apart = unite_apart(shapes);
  const Summary a = summary(swept), b = summary(apart);
  EXPECT_EQ(a.outers, b.outers);
  EXPECT_EQ(a.holes, b.holes);
  EXPECT_EQ(a.area, b.area);
  expect_holes_in_outer_rings(apart);
  for (std::int64_t x = -5; x <= 2105; x += 10) {
    for (std::int64_t y = -5; y <= 2105; y += 10) {
      const c2::Point64 q(x, y);
      EXPECT_EQ(in_region(q, swept), in_region(q, apart)) << x << ", " << y;
    }
  }
}

TEST(UniteApart, MeetingSeesCrossingsNearnessAndSelfTouches) {
  const c2::Path64 a = square(0, 100), b = square(90, 150), d = square(300, 400);
  const c2::Path64 c{{152, 100}, {200, 100}, {200, 140}, {152, 140}};  // 2 units right of b
  const c2::Path64 bow{{0, 0}, {100, 100}, {100, 0}, {0, 100}};
  const std::vector<const c2::Path64*> rings{&a, &b, &c, &d};
  const std::optional<Meeting> met = meeting(rings, {0, 1, 2, 3}, 4, false);
  ASSERT_TRUE(met);
  EXPECT_EQ(met->group, (std::vector<std::size_t>{0, 0, 0, 3}));  // c is 2 units from b
  EXPECT_FALSE(meeting({&a, &d}, {0, 0}, 1, true)->self_meets);
  EXPECT_TRUE(meeting({&bow}, {0}, 1, true)->self_meets);
  EXPECT_TRUE(meeting({&a, &b}, {0, 0}, 1, true)->self_meets);
  EXPECT_FALSE(meeting({&b, &c}, {0, 0}, 1, true)->self_meets);  // near, but apart
}

}  // namespace
}  // namespace linetopo::inflate_parts
