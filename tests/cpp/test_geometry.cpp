// Tests of the shared geometry helpers: Ramer-Douglas-Peucker simplification and the cell grid.
#include <gtest/gtest.h>
#include <pthread.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "geometry/cell_grid.hpp"
#include "geometry/rdp.hpp"

namespace linetopo {
namespace {

using Points = std::vector<Point>;

TEST(Rdp, EdgeCasesGiveExpectedSubsequence) {
  struct Case {
    Points input;
    double epsilon;
    Points expected;
  };
  const Case cases[] = {
      {{}, 1.0, {}},
      {{{1, 2}}, 1.0, {{1, 2}}},
      {{{1, 2}, {3, 4}}, 1.0, {{1, 2}, {3, 4}}},
      {{{0, 0}, {1, 0}, {2, 0}}, 1e-9, {{0, 0}, {2, 0}}},
      // The middle point is exactly epsilon from the chord: equal does not keep it.
      {{{0, 0}, {1, 1}, {2, 0}}, 1.0, {{0, 0}, {2, 0}}},
      {{{0, 0}, {1, 1}, {2, 0}}, 0.999, {{0, 0}, {1, 1}, {2, 0}}},
      // Both interior points lie at distance 1: the split goes to the lower index.
      {{{0, 0}, {1, 1}, {3, 1}, {4, 0}}, 0.7, {{0, 0}, {1, 1}, {4, 0}}},
      // Coincident ends: distance to the shared end point.
      {{{0, 0}, {1, 0}, {0, 0}}, 0.5, {{0, 0}, {1, 0}, {0, 0}}},
      {{{0, 0}, {0.4, 0}, {0, 0}}, 0.5, {{0, 0}, {0, 0}}},
      // Beyond the chord's end the distance is to the infinite line (0.1), not to the end (~2).
      {{{0, 0}, {3, 0.1}, {1, 0}}, 0.5, {{0, 0}, {1, 0}}},
  };
  for (std::size_t k = 0; k < std::size(cases); ++k) {
    EXPECT_EQ(rdp(cases[k].input, cases[k].epsilon), cases[k].expected) << "case " << k;
  }
}

// The textbook recursion, as an oracle for the work-list implementation.
void reference_rdp(const Points& p, std::size_t lo, std::size_t hi, double eps, Points& out) {
  double greatest = 0.0;
  std::size_t index = 0;
  const double dx = p[hi].x - p[lo].x;
  const double dy = p[hi].y - p[lo].y;
  const double g = dx * dx + dy * dy;
  // The same arithmetic as the implementation: on exact ties, hypot's rounding differs.
  const auto length = [](double x, double y) { return std::sqrt(x * x + y * y); };
  for (std::size_t i = lo + 1; i < hi; ++i) {
    double d = length(p[i].x - p[lo].x, p[i].y - p[lo].y);
    if (g != 0.0) {
      const double u = ((p[i].x - p[lo].x) * dx + (p[i].y - p[lo].y) * dy) / g;
      d = length(p[lo].x + dx * u - p[i].x, p[lo].y + dy * u - p[i].y);
    }
    if (d > greatest) {
      greatest = d;
      index = i;
    }
  }
  if (hi - lo < 2 || greatest <= eps) {
    out.push_back(p[hi]);
    return;
  }
  reference_rdp(p, lo, index, eps, out);
  reference_rdp(p, index, hi, eps, out);
}

TEST(Rdp, MatchesRecursiveDefinitionOnRandomPolylines) {
  std::mt19937_64 rng(12345);
  std::uniform_real_distribution<double> coord(-10.0, 10.0);
  std::uniform_int_distribution<int> grid(-3, 3);  // integer points make exact ties likely
  for (int trial = 0; trial < 440; ++trial) {
    // Long ones too, whose long ranges skip what lies no farther than the farthest point so far.
    const std::size_t n = trial < 400 ? 3 + static_cast<std::size_t>(trial % 40)
                                      : 200 + 97 * static_cast<std::size_t>(trial % 40);
    Points pts(n);
    for (Point& p : pts) {
      p = trial % 2 == 0 ? Point{coord(rng), coord(rng)}
                         : Point{static_cast<double>(grid(rng)), static_cast<double>(grid(rng))};
    }
    const double eps = trial % 2 == 0 ? 0.5 + trial % 5 : 0.25 * (1 + trial % 4);
    Points expected{pts.front()};
    reference_rdp(pts, 0, n - 1, eps, expected);
    ASSERT_EQ(rdp(pts, eps), expected) << "trial " << trial;
  }
}

TEST(Rdp, CombKeepsEveryToothInTheSameOrder) {
  // Every tooth's tip lies as far from each chord as every other: ties go to the lowest index.
  for (const double depth : {1.0, 0.0}) {
    Points comb;
    for (int i = 0; i < 3000; ++i) comb.push_back({0.01 * i, i % 2 == 0 ? 0.0 : depth});
    Points expected{comb.front()};
    reference_rdp(comb, 0, comb.size() - 1, 0.1, expected);
    EXPECT_EQ(rdp(comb, 0.1), expected);
  }
}

TEST(Rdp, DeepRecursionRunsOnASmallStack) {
  // Each split peels off one point: on a shrinking spiral turning by just under 2 pi/3 per step,
  // the next point is always the farthest from the chord to the centre, so the recursion is as
  // deep as the input is long.
  struct Run {
    Points input, output;
  } run{Points(20'000), {}};
  const std::size_t n = run.input.size();
  for (std::size_t i = 0; i < n; ++i) {
    const double r = static_cast<double>(n - 1 - i);
    const double a = (2.0 * M_PI / 3.0 - 0.01) * static_cast<double>(i);
    run.input[i] = {r * std::cos(a), r * std::sin(a)};
  }
  // 256 KiB of stack: a call-stack recursion 20,000 deep would overflow it.
  pthread_attr_t attr;
  ASSERT_EQ(pthread_attr_init(&attr), 0);
  ASSERT_EQ(pthread_attr_setstacksize(&attr, 256 * 1024), 0);
  pthread_t thread;
  const auto body = [](void* arg) -> void* {
    auto* r = static_cast<Run*>(arg);
    r->output = rdp(r->input, 0.1);
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attr, body, &run), 0);
  ASSERT_EQ(pthread_join(thread, nullptr), 0);
  pthread_attr_destroy(&attr);
  EXPECT_EQ(run.output, run.input);  // every peeled point lies well beyond epsilon
}

// Both orderings (counting by column, and per-row sorts for very wide grids) list every covered
// cell in row-then-column order with its items ascending.
TEST(CellRuns, CellsInOrderWithItemsAscending) {
  std::mt19937 rng(7);
  for (const std::uint32_t width : {40u, 4'000'000u}) {
    std::uniform_int_distribution<std::uint32_t> x(0, width - 4);
    std::uniform_int_distribution<std::uint32_t> y(0, 36);
    std::uniform_int_distribution<std::uint32_t> extent(0, 3);
    std::vector<CellSpan> spans(300);
    std::vector<std::array<std::uint32_t, 3>> want;
    for (std::uint32_t i = 0; i < spans.size(); ++i) {
      CellSpan& s = spans[i];
      s.lo_x = x(rng);
      s.lo_y = y(rng);
      s.hi_x = s.lo_x + extent(rng);
      s.hi_y = s.lo_y + extent(rng);
      for (std::uint32_t cy = s.lo_y; cy <= s.hi_y; ++cy) {
        for (std::uint32_t cx = s.lo_x; cx <= s.hi_x; ++cx) want.push_back({cy, cx, i});
      }
    }
    std::sort(want.begin(), want.end());
    const CellRuns runs = cell_runs(spans, 40);
    ASSERT_EQ(runs.entries.size(), want.size());
    for (std::size_t k = 0; k < want.size(); ++k) {
      const CellRuns::Entry& e = runs.entries[k];
      EXPECT_EQ((std::array<std::uint32_t, 3>{e.y, e.x, e.item}), want[k]) << width << " " << k;
    }
    for (std::size_t c = 0; c + 1 < runs.runs.size(); ++c) {
      const CellRuns::Entry& first = runs.entries[runs.runs[c]];
      const CellRuns::Entry& last = runs.entries[runs.runs[c + 1] - 1];
      EXPECT_TRUE(first.x == last.x && first.y == last.y);
    }
    EXPECT_EQ(runs.runs.back(), want.size());
  }
}

}  // namespace
}  // namespace linetopo
