// Tests of the shared geometry helpers: Ramer-Douglas-Peucker simplification.
#include <gtest/gtest.h>
#include <pthread.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "geometry/rdp.hpp"

namespace linetopo {
namespace {

using Points = std::vector<Point>;

struct RdpCase {
  const char* name;
  Points input;
  double epsilon;
  Points expected;
};

class RdpCases : public ::testing::TestWithParam<RdpCase> {};

TEST_P(RdpCases, GivesExpectedSubsequence) {
  const RdpCase& c = GetParam();
  EXPECT_EQ(rdp(c.input, c.epsilon), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rdp, RdpCases,
    ::testing::Values(
        RdpCase{"empty", {}, 1.0, {}}, RdpCase{"one", {{1, 2}}, 1.0, {{1, 2}}},
        RdpCase{"two", {{1, 2}, {3, 4}}, 1.0, {{1, 2}, {3, 4}}},
        RdpCase{"collinear", {{0, 0}, {1, 0}, {2, 0}}, 1e-9, {{0, 0}, {2, 0}}},
        // The middle point is exactly epsilon from the chord: equal does not keep it.
        RdpCase{"distance_equal_epsilon", {{0, 0}, {1, 1}, {2, 0}}, 1.0, {{0, 0}, {2, 0}}},
        RdpCase{
            "distance_above_epsilon", {{0, 0}, {1, 1}, {2, 0}}, 0.999, {{0, 0}, {1, 1}, {2, 0}}},
        // Both interior points lie at distance 1: the split goes to the lower index.
        RdpCase{
            "tie_lowest_index", {{0, 0}, {1, 1}, {3, 1}, {4, 0}}, 0.7, {{0, 0}, {1, 1}, {4, 0}}},
        // Coincident ends: distance to the shared end point.
        RdpCase{"coincident_ends", {{0, 0}, {1, 0}, {0, 0}}, 0.5, {{0, 0}, {1, 0}, {0, 0}}},
        RdpCase{"coincident_ends_within", {{0, 0}, {0.4, 0}, {0, 0}}, 0.5, {{0, 0}, {0, 0}}},
        // Beyond the chord's end the distance is to the infinite line (0.1), not to the end (~2).
        RdpCase{"infinite_line", {{0, 0}, {3, 0.1}, {1, 0}}, 0.5, {{0, 0}, {1, 0}}}),
    [](const ::testing::TestParamInfo<RdpCase>& info) { return std::string(info.param.name); });

// The textbook recursion, as an oracle for the work-list implementation.
void reference_rdp(const Points& p, std::size_t lo, std::size_t hi, double eps, Points& out) {
  double greatest = 0.0;
  std::size_t index = 0;
  const double dx = p[hi].x - p[lo].x;
  const double dy = p[hi].y - p[lo].y;
  const double g = dx * dx + dy * dy;
  for (std::size_t i = lo + 1; i < hi; ++i) {
    double d = 0.0;
    if (g != 0.0) {
      const double u = ((p[i].x - p[lo].x) * dx + (p[i].y - p[lo].y) * dy) / g;
      d = std::hypot(p[lo].x + dx * u - p[i].x, p[lo].y + dy * u - p[i].y);
    } else {
      d = std::hypot(p[i].x - p[lo].x, p[i].y - p[lo].y);
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
  for (int trial = 0; trial < 400; ++trial) {
    const std::size_t n = 3 + static_cast<std::size_t>(trial % 40);
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

// Each split peels off one point: on a shrinking spiral turning by just under 2 pi/3 per step,
// the next point is always the farthest from the chord to the centre, so the recursion is as deep
// as the input is long.
Points peeling_spiral(std::size_t n) {
  Points pts(n);
  const double step = 2.0 * M_PI / 3.0 - 0.01;
  for (std::size_t i = 0; i < n; ++i) {
    const double r = static_cast<double>(n - 1 - i);
    const double a = step * static_cast<double>(i);
    pts[i] = {r * std::cos(a), r * std::sin(a)};
  }
  return pts;
}

struct DeepRun {
  const Points* input;
  Points output;
};

void* run_rdp(void* arg) {
  auto* run = static_cast<DeepRun*>(arg);
  run->output = rdp(*run->input, 0.1);
  return nullptr;
}

TEST(Rdp, DeepRecursionRunsOnASmallStack) {
  const Points pts = peeling_spiral(20'000);
  // 256 KiB of stack: a call-stack recursion 20,000 deep would overflow it.
  DeepRun run{&pts, {}};
  pthread_attr_t attr;
  ASSERT_EQ(pthread_attr_init(&attr), 0);
  ASSERT_EQ(pthread_attr_setstacksize(&attr, 256 * 1024), 0);
  pthread_t thread;
  ASSERT_EQ(pthread_create(&thread, &attr, run_rdp, &run), 0);
  ASSERT_EQ(pthread_join(thread, nullptr), 0);
  pthread_attr_destroy(&attr);
  EXPECT_EQ(run.output, pts);  // every peeled point lies well beyond epsilon
}

TEST(Rdp, MillionPointSpiralKeepsEveryDroppedPointWithinEpsilon) {
  const std::size_t n = 1'000'000;
  Points pts(n);
  for (std::size_t i = 0; i < n; ++i) {
    const double t = static_cast<double>(i) / static_cast<double>(n);
    const double angle = t * 2.0 * M_PI * 100.0;  // 100 turns, 10,000 points each
    const double r = 1.0 + 1000.0 * t;
    pts[i] = {r * std::cos(angle), r * std::sin(angle)};
  }
  const double eps = 0.01;
  const Points out = rdp(pts, eps);
  ASSERT_GE(out.size(), 2u);
  EXPECT_LT(out.size(), n / 10);
  // Output is a subsequence of the input with both ends, and each dropped point lies within
  // epsilon of the infinite line through the kept points around it.
  std::size_t j = 0;
  for (std::size_t k = 0; k + 1 < out.size(); ++k) {
    ASSERT_EQ(pts[j], out[k]);
    const Point a = out[k];
    const Point b = out[k + 1];
    const double dx = b.x - a.x;
    const double dy = b.y - a.y;
    const double len = std::hypot(dx, dy);
    ASSERT_GT(len, 0.0);
    for (++j; !(pts[j] == b); ++j) {
      ASSERT_LT(j, n - 1);
      const double d = std::abs((pts[j].x - a.x) * dy - (pts[j].y - a.y) * dx) / len;
      ASSERT_LE(d, eps * (1 + 1e-9)) << "point " << j;
    }
  }
  EXPECT_EQ(j, n - 1);
}

}  // namespace
}  // namespace linetopo
