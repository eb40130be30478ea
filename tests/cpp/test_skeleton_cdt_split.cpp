// Tests for the triangulation in strips (the same triangles as in one piece, neighbours joined)
// and for the jitter before it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>
#include <vector>

#include "skeleton_cdt/cdt_detail.hpp"
#include "skeleton_cdt/skeleton_cdt.hpp"

namespace linetopo::cdt_detail {
namespace {

struct Input {
  std::vector<Point> points;
  std::vector<std::vector<std::size_t>> contours;
};

void add_ring(Input& in, Point c, double radius, int n, double wobble, std::mt19937& rng) {
  std::uniform_real_distribution<double> u(-wobble, wobble);
  std::vector<std::size_t> contour;
  for (int k = 0; k < n; ++k) {
    const double a = 6.283185307179586 * k / n, r = radius * (1.0 + u(rng));
    contour.push_back(in.points.size());
    in.points.push_back({c.x + r * std::cos(a), c.y + r * std::sin(a)});
  }
  contour.push_back(contour.front());
  in.contours.push_back(std::move(contour));
}

// A wobbly disc with a lattice of wobbly holes, every point on a ring, as a dense buffer gives.
Input holey_disc(unsigned seed, int across) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  Input in;
  const double radius = across / 2.0;
  add_ring(in, {0, 0}, radius + 1.0, 40 * across, 0.002, rng);
  for (int i = 0; i < across; ++i) {
    for (int j = 0; j < across; ++j) {
      const double dx = 0.1 * (u(rng) - 0.5), dy = 0.1 * (u(rng) - 0.5);
      const Point c{i - radius + 0.5 + dx, j - radius + 0.5 + dy};
      if (std::hypot(c.x, c.y) > radius - 1.0) continue;
      add_ring(in, c, 0.2 + 0.15 * u(rng), 6 + static_cast<int>(20 * u(rng)), 0.1, rng);
    }
  }
  return in;
}

std::vector<IndexTriangle> normalised(std::vector<IndexTriangle> ts) {
  for (IndexTriangle& t : ts) {
    std::rotate(t.begin(), std::min_element(t.begin(), t.end()), t.end());
  }
  std::sort(ts.begin(), ts.end());
  return ts;
}

TEST(SplitTriangulation, SameTrianglesAsOnePieceAndJoinedNeighbours) {
  for (const auto& [seed, across, strips] : {std::tuple{1u, 40, 4u}, std::tuple{2u, 60, 7u},
                                             std::tuple{3u, 30, 2u}}) {
    const Input in = holey_disc(seed, across);
    std::vector<Across> whole_across, split_across;
    const auto whole = triangulate_whole(in.points, in.contours, &whole_across, {});
    const auto split = triangulate_split(in.points, in.contours, strips, &split_across, {});
    ASSERT_TRUE(whole.has_value());
    ASSERT_TRUE(split.has_value()) << "seed " << seed << ": the pieces did not fit";
    ASSERT_TRUE(split->has_value());
    const std::vector<IndexTriangle>& t = **split;
    EXPECT_EQ(normalised(t), normalised(*whole)) << "seed " << seed;
    // Neighbours: across edge i lies the triangle with that edge reversed, and it points back.
    ASSERT_EQ(split_across.size(), t.size());
    std::size_t links = 0, whole_links = 0;
    for (std::size_t a = 0; a < t.size(); ++a) {
      for (std::size_t i = 0; i < 3; ++i) {
        const std::size_t b = split_across[a][i];
        if (b == kNone) continue;
        ++links;
        const std::size_t u = t[a][(i + 1) % 3], v = t[a][(i + 2) % 3];
        const auto at = std::find(t[b].begin(), t[b].end(), u);
        const auto j = static_cast<std::size_t>(at - t[b].begin());
        ASSERT_LT(j, 3u);
        EXPECT_EQ(t[b][(j + 2) % 3], v);
        EXPECT_EQ(split_across[b][(j + 1) % 3], a);
      }
    }
    for (const Across& w : whole_across) whole_links += static_cast<std::size_t>(std::count_if(
        w.begin(), w.end(), [](std::size_t x) { return x != kNone; }));
    EXPECT_EQ(links, whole_links);
  }
}

// A tall input is cut across its long side, turned and turned back: the same triangles as in one
// piece, still counter-clockwise.
TEST(SplitTriangulation, ATallInputGivesTheSameTriangles) {
  Input in = holey_disc(4, 88);
  for (Point& p : in.points) p.y *= 8.0;
  ASSERT_GE(in.points.size(), 80000u);  // large enough to be split in two
  const auto whole = triangulate_whole(in.points, in.contours, nullptr, {});
  const auto got = triangulate_contours(in.points, in.contours);
  ASSERT_TRUE(whole.has_value() && got.has_value());
  EXPECT_EQ(normalised(*got), normalised(*whole));
  for (const IndexTriangle& t : *got) {
    const Point a = in.points[t[0]], b = in.points[t[1]], c = in.points[t[2]];
    ASSERT_GT((b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x), 0.0);
  }
  // The skeleton walks from triangle to triangle across their edges: the tall polygon's is the
  // wide one's, mirrored.
  const auto skeleton_of = [&in](bool turn) {
    std::vector<Ring> rings;
    for (const std::vector<std::size_t>& contour : in.contours) {
      Ring& ring = rings.emplace_back();
      for (std::size_t k = 0; k + 1 < contour.size(); ++k) {
        const Point p = in.points[contour[k]];
        ring.push_back(turn ? Point{p.y, p.x} : p);
      }
    }
    const Ring outer = rings.front();
    rings.erase(rings.begin());
    return try_skeleton(outer, rings);
  };
  const auto tall = skeleton_of(false), wide = skeleton_of(true);
  ASSERT_TRUE(tall.has_value() && wide.has_value());
  EXPECT_EQ(tall->points.size(), wide->points.size());
  EXPECT_EQ(tall->segments.size(), wide->segments.size());
  // Built in blocks, the points are still numbered in the order the segments first name them,
  // as one pass over the triangles makes them.
  std::size_t next = 0;
  for (const auto& [a, b] : tall->segments) {
    for (const std::size_t v : {a, b}) {
      ASSERT_LE(v, next);
      if (v == next) ++next;
    }
  }
  EXPECT_EQ(next, tall->points.size());
}

// Points at one place take the displacement of the first of them (-0.0 and 0.0 being one place),
// every other point its own: in one table, and spread over buckets from blocks on the pool.
TEST(Jitter, PointsAtOnePlaceMoveAsTheFirstOfThem) {
  for (const int across : {4, 90}) {
    Input in = holey_disc(5, across);
    const std::size_t n = in.points.size();
    if (across == 90) {
      ASSERT_GT(n, 65536u);  // more than one block
    }
    std::vector<std::size_t> first(n);
    std::iota(first.begin(), first.end(), std::size_t{0});
    in.points[0].x = 0.0;
    // Points of the second half moved onto points of the first, which stay where they are.
    std::mt19937 rng(9);
    for (std::size_t k = 0; k < n / 20; ++k) {
      const std::size_t a = rng() % (n / 2), b = n / 2 + rng() % (n - n / 2);
      first[b] = a;
      in.points[b] = in.points[a];
    }
    in.points[n - 1] = {-0.0, in.points[0].y};
    first[n - 1] = 0;
    const std::vector<Point> before = in.points;
    jitter(in.points, in.contours);
    std::size_t checked = 0;
    for (std::size_t j = 0; j < n; ++j) {
      const double f = static_cast<double>(first[j]);
      const double ex = std::sin(f * 1.1), ey = std::cos(f * 1.3);
      const double dx = in.points[j].x - before[j].x, dy = in.points[j].y - before[j].y;
      const double d = std::hypot(dx, dy), e = std::hypot(ex, ey);
      ASSERT_LE(d, 2e-9) << j;
      if (e < 0.1) continue;
      ASSERT_GT(d, 0.0) << j;
      ASSERT_NEAR((dx * ey - dy * ex) / (d * e), 0.0, 1e-3) << j << " of " << n;
      ASSERT_GT(dx * ex + dy * ey, 0.0) << j;
      ++checked;
    }
    EXPECT_GT(checked, n / 2);
  }
  EXPECT_TRUE(first_alike({}).empty());
}

}  // namespace
}  // namespace linetopo::cdt_detail
