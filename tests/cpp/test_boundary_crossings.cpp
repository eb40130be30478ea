// Tests for finding the rings of a polygon that meet: the cell grid against every pair.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "boundary/boundary.hpp"
#include "geometry/segments.hpp"

namespace linetopo {
namespace {

double orient(const Point& o, const Point& a, const Point& b) {
  return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x);
}

// Every pair of edges that are not neighbours on one ring, tested directly; with a focus, only
// pairs with a focused ring.
std::vector<char> by_every_pair(const BufferPolygon& polygon, const std::vector<char>& focus = {}) {
  std::vector<const Ring*> rings{&polygon.outer};
  for (const Ring& h : polygon.holes) rings.push_back(&h);
  std::vector<char> meets(rings.size(), 0);
  for (std::size_t r = 0; r < rings.size(); ++r) {
    for (std::size_t s = r; s < rings.size(); ++s) {
      if (!focus.empty() && !focus[r] && !focus[s]) continue;
      const Ring& a = *rings[r];
      const Ring& b = *rings[s];
      for (std::size_t i = 0; i < a.size(); ++i) {
        for (std::size_t j = (r == s ? i + 1 : 0); j < b.size(); ++j) {
          if (r == s && (j == i + 1 || (i == 0 && j + 1 == a.size()))) continue;
          if (segments_meet(a[i], a[(i + 1) % a.size()], b[j], b[(j + 1) % b.size()], orient)) {
            meets[r] = meets[s] = 1;
          }
        }
      }
    }
  }
  return meets;
}

Ring wobbly_circle(std::mt19937& rng, Point c, double radius, int n, double wobble) {
  std::uniform_real_distribution<double> u(-wobble, wobble);
  Ring ring;
  for (int k = 0; k < n; ++k) {
    const double a = 6.283185307179586 * k / n, r = radius * (1 + u(rng));
    ring.push_back({c.x + r * std::cos(a), c.y + r * std::sin(a)});
  }
  return ring;
}

// Rings that cross themselves (a strong wobble), each other (holes placed at random, some over
// the outer ring or one another) or nothing, with edges of very different lengths.
TEST(MeetingRings, SameAsTestingEveryPair) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  int meeting = 0;
  for (int trial = 0; trial < 60; ++trial) {
    BufferPolygon p;
    p.outer = wobbly_circle(rng, {0, 0}, 50, 40 + trial * 7, trial % 3 == 0 ? 0.3 : 0.02);
    for (int h = 0; h < 6; ++h) {
      const double a = 6.3 * u(rng), d = 55 * u(rng);
      p.holes.push_back(wobbly_circle(rng, {d * std::cos(a), d * std::sin(a)}, 2 + 6 * u(rng),
                                      5 + trial % 20, trial % 4 == 0 ? 0.5 : 0.05));
    }
    const std::vector<char> want = by_every_pair(p);
    EXPECT_EQ(meeting_rings(p), want) << "trial " << trial;
    for (const char m : want) meeting += m;
    std::vector<char> focus(want.size());
    for (char& f : focus) f = u(rng) < 0.3 ? 1 : 0;
    EXPECT_EQ(meeting_rings(p, focus), by_every_pair(p, focus)) << "trial " << trial;
  }
  EXPECT_GT(meeting, 60);
}

// Past a few thousand edges the cells are searched in blocks on the pool: rings meeting in any
// block are all found.
TEST(MeetingRings, LargePolygonSearchedInBlocks) {
  std::mt19937 rng(9);
  BufferPolygon p;
  p.outer = wobbly_circle(rng, {0, 0}, 500, 4000, 0.001);
  for (int h = 0; h < 400; ++h) {
    const double a = 6.283185307179586 * h / 400, d = h == 390 ? 496 : 300;
    p.holes.push_back(wobbly_circle(rng, {d * std::cos(a), d * std::sin(a)}, 1.5, 12, 0.05));
  }
  p.holes[7].push_back(p.holes[8][0]);  // reaches into the next hole, here and at the top
  p.holes[100].push_back(p.holes[101][0]);
  p.holes[390][3] = p.outer[3900];      // touches the outer ring beside it
  const std::vector<char> want = by_every_pair(p);
  EXPECT_EQ(meeting_rings(p), want);
  EXPECT_EQ(std::count(want.begin(), want.end(), 1), 6);
}

// A focus on two holes at the far ends of a long polygon: what lies between them is not searched,
// and the answer is not given up for every ring.
TEST(MeetingRings, FocusFarApartAlongALongPolygon) {
  BufferPolygon p;
  for (int y = 0; y < 20000; ++y) p.outer.push_back({10, static_cast<double>(y)});
  for (int y = 20000; y > 0; --y) p.outer.push_back({0, static_cast<double>(y)});
  for (int k = 0; k < 200; ++k) {
    const double y = 50 + 100.0 * k;
    p.holes.push_back({{4, y}, {6, y}, {6, y + 2}, {4, y + 2}});
  }
  std::swap(p.holes[199][1], p.holes[199][2]);  // crosses itself
  std::vector<char> focus(p.holes.size() + 1, 0);
  focus[1] = focus[200] = 1;
  const std::vector<char> want = by_every_pair(p, focus);
  EXPECT_EQ(std::count(want.begin(), want.end(), 1), 1);
  EXPECT_EQ(meeting_rings(p, focus), want);
}

}  // namespace
}  // namespace linetopo
