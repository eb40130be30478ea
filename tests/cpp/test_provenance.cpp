// Chain sources: which curves run along each chain, and for what share of it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <random>
#include <tuple>
#include <string>

#include "provenance/chain_sources.hpp"
#include "provenance/polygons_at.hpp"

namespace linetopo {
namespace {

using Sources = std::vector<std::vector<ChainSource>>;

std::vector<std::size_t> curves_of(const std::vector<ChainSource>& sources) {
  std::vector<std::size_t> out;
  for (const ChainSource& s : sources) out.push_back(s.curve);
  return out;
}

// Two streets "A" drawn 3 apart and a street "B" crossing them; the chains a centerline of them
// has: A's halves on either side of the junction and B's.
TEST(ChainSources, ParallelStreetsAndACrossingOne) {
  const std::vector<Polyline> curves{
      {{0, 0}, {100, 0}}, {{100, 3}, {0, 3}}, {{50, -50}, {50, 50}}};
  const std::vector<Polyline> chains{
      {{0, 1.5}, {50, 1.5}}, {{50, 1.5}, {100, 1.5}},  // A
      {{50, -50}, {50, 1.5}}, {{50, 1.5}, {50, 50}}};  // B
  const Sources sources = chain_sources(chains, curves, {.radius = 10.0});
  ASSERT_EQ(sources.size(), 4u);
  for (int i : {0, 1}) {
    EXPECT_EQ(curves_of(sources[i]), (std::vector<std::size_t>{0, 1}));
    for (const ChainSource& s : sources[i]) EXPECT_NEAR(s.share, 1.0, 1e-9);
  }
  for (int i : {2, 3}) EXPECT_EQ(curves_of(sources[i]), std::vector<std::size_t>{2});
}

// A curve 1 off the first 30 of a chain of 100 runs along it to 30 + sqrt(3) for a radius of 2,
// which min_share lets through or not; one turned 30 degrees runs along it over 2 / sin(30) = 4
// on either side of the crossing under max_angle 45, and not at all under 20.
TEST(ChainSources, ShareAndAngleDecide) {
  std::vector<Polyline> chains(1);
  for (int x = 0; x <= 100; ++x) chains[0].push_back({double(x), 0});
  const double c = std::cos(kPi / 6), s = std::sin(kPi / 6);
  const std::vector<Polyline> curves{{{0, 1}, {30, 1}},
                                     {{50 - 40 * c, -40 * s}, {50 + 40 * c, 40 * s}}};
  const Sources loose = chain_sources(chains, curves, {.radius = 2.0, .min_share = 0.0});
  ASSERT_EQ(curves_of(loose[0]), (std::vector<std::size_t>{0, 1}));
  EXPECT_NEAR(loose[0][0].share, 0.317, 0.005);
  EXPECT_NEAR(loose[0][1].share, 0.08, 0.005);
  EXPECT_TRUE(chain_sources(chains, curves, {.radius = 2.0, .min_share = 0.33})[0].empty());
  EXPECT_EQ(curves_of(chain_sources(chains, curves, {.radius = 2.0, .min_share = 0.3})[0]),
            std::vector<std::size_t>{0});
  const Sources strict =
      chain_sources(chains, curves, {.radius = 2.0, .max_angle_degrees = 20, .min_share = 0.0});
  EXPECT_EQ(curves_of(strict[0]), std::vector<std::size_t>{0});
}

TEST(ChainSources, DegenerateInput) {
  const std::vector<Polyline> curves{{{0, 0}}, {{1, 1}, {1, 1}}, {{0, 0}, {0, 10}}};
  // A chain without length takes any direction; an empty one has no sources; curves without
  // length run along nothing.
  const Sources s = chain_sources({{{0.5, 5}, {0.5, 5}}, {}, {{5, 0}, {5, 0}}}, curves,
                                  {.radius = 1.0});
  EXPECT_EQ(curves_of(s[0]), std::vector<std::size_t>{2});
  EXPECT_TRUE(s[1].empty());
  EXPECT_TRUE(s[2].empty());
  EXPECT_TRUE(chain_sources({}, curves, {.radius = 1.0}).empty());
  EXPECT_TRUE(chain_sources({{{0, 0}, {1, 0}}}, {}, {.radius = 1.0})[0].empty());
}

TEST(ChainSources, RefusesBadSettingsAndPoints) {
  constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<Polyline> ok{{{0, 0}, {1, 0}}};
  const auto message = [&](const std::vector<Polyline>& chains, const std::vector<Polyline>& curves,
                           const SourceSettings& s) -> std::string {
    try {
      chain_sources(chains, curves, s);
    } catch (const InputError& e) {
      return e.what();
    }
    return "no error";
  };
  EXPECT_EQ(message(ok, ok, {.radius = 0}), "radius must be a positive finite number, got 0");
  EXPECT_EQ(message(ok, ok, {.radius = kNan}), "radius must be a positive finite number, got NaN");
  EXPECT_EQ(message(ok, ok, {.radius = 1, .max_angle_degrees = 91}),
            "max_angle must be a number of degrees from 0 to 90, got 91");
  EXPECT_EQ(message(ok, ok, {.radius = 1, .min_share = -0.5}),
            "min_share must be a number from 0 to 1, got -0.5");
  EXPECT_EQ(message({{{0, 0}}, {{0, 0}, {1, kNan}}}, ok, {.radius = 1}),
            "chains[1][1] is (1, NaN); coordinates must be finite numbers");
  EXPECT_EQ(message(ok, {{{0, 0}, {INFINITY, 1}}}, {.radius = 1}),
            "curves[0][1] is (inf, 1); coordinates must be finite numbers");
  // Lengths between such points overflow, and the sampling would never end.
  EXPECT_EQ(message(ok, {{{0, 0}, {1e155, 0}}}, {.radius = 1}),
            "curves[0][1] is (1e+155, 0); coordinates must be at most 1e+150 in size, so that "
            "lengths stay finite");
  EXPECT_EQ(message(ok, ok, {.radius = 1e151}), "radius must be at most 1e+150, got 1e+151");
}

// A radius far beyond a chain's segments once made the count of samples per grid read wrap to
// zero, and the sampling loop never advanced.
TEST(ChainSources, RadiusFarBeyondTheSegments) {
  const std::vector<Polyline> line{{{0, 0}, {1, 0}}};
  for (const double radius : {1e20, 1e150}) {
    const Sources s = chain_sources(line, line, {.radius = radius});
    EXPECT_EQ(curves_of(s[0]), std::vector<std::size_t>{0});
  }
}

// A radius beyond the lines' spacing pairs every chain with every curve: past the budget of such
// pairs, a clear error instead of memory and time without end.
TEST(ChainSources, RefusesMorePairsThanTheBudget) {
  std::vector<Polyline> lines;
  for (int i = 0; i < 20; ++i) lines.push_back({{0.0, double(i)}, {10.0, double(i)}});
  setenv(kMaxSourcePairsVariable, "100", 1);
  struct Unset {
    ~Unset() { unsetenv(kMaxSourcePairsVariable); }
  } unset;
  EXPECT_THROW(chain_sources(lines, lines, {.radius = 1e6}), InputError);
  EXPECT_EQ(chain_sources(lines, lines, {.radius = 0.5})[3], (Sources::value_type{{3, 1.0}}));
}

// The grid finds what looking at every segment of every curve finds, whatever the segments'
// lengths against the radius and the cells, and so do the directions alone where the radius
// reaches every segment.
TEST(ChainSources, GridAgreesWithEveryPair) {
  std::mt19937_64 rng(11);
  // Short segments against the radius, long ones, curves spread thin, and a radius beyond all.
  for (const auto& [spread, scale, radius] : {std::tuple{30.0, 0.2, 3.0}, {20.0, 1.0, 3.0},
                                              {400.0, 1.0, 3.0}, {30.0, 0.2, 4000.0}}) {
    std::uniform_real_distribution<double> at(0.0, spread);
    std::uniform_real_distribution<double> step(-6.0, 6.0);
    const auto walk = [&](std::size_t n, double scale) {
      Polyline line{{at(rng), at(rng)}};
      for (std::size_t k = 1; k < n; ++k) {
        line.push_back({line.back().x + scale * step(rng), line.back().y + scale * step(rng)});
      }
      return line;
    };
    std::vector<Polyline> curves, chains;
    for (int i = 0; i < 60; ++i) {
      curves.push_back(walk(2 + i % 9, (i % 5 == 0 ? 40.0 : 1.0) * scale));
    }
    for (int i = 0; i < 60; ++i) chains.push_back(walk(2 + i % 7, 1.0));
    const SourceSettings settings{.radius = radius, .max_angle_degrees = 40, .min_share = 0.1};
    const Sources got = chain_sources(chains, curves, settings);
    const double min_cos = std::cos(40 * kPi / 180);
    for (std::size_t i = 0; i < chains.size(); ++i) {
      std::vector<double> along(curves.size(), 0.0);
      double total = 0.0;
      for (std::size_t k = 0; k + 1 < chains[i].size(); ++k) {
        const Point a = chains[i][k], b = chains[i][k + 1];
        const double len = dist(a, b);
        const auto n = static_cast<std::size_t>(
            std::clamp(std::ceil(len / (0.25 * radius)), 1.0, double(kMaxSamplesPerSegment)));
        total += len;
        for (std::size_t j = 0; j < n; ++j) {
          const double t = (j + 0.5) / double(n);
          const Point p{a.x + t * (b.x - a.x), a.y + t * (b.y - a.y)};
          for (std::size_t c = 0; c < curves.size(); ++c) {
            for (std::size_t m = 0; m + 1 < curves[c].size(); ++m) {
              const Point u = curves[c][m], v = curves[c][m + 1];
              const double l = dist(u, v);
              const auto dot = [](Point d, Point e) { return d.x * e.x + d.y * e.y; };
              const Point uv{v.x - u.x, v.y - u.y};
              const double cos = dot({b.x - a.x, b.y - a.y}, uv) / (len * l);
              const double s = std::clamp(dot({p.x - u.x, p.y - u.y}, uv) / (l * l), 0.0, 1.0);
              if (std::fabs(cos) >= min_cos &&
                  dist(p, {u.x + s * (v.x - u.x), u.y + s * (v.y - u.y)}) <= radius) {
                along[c] += len / double(n);
                break;
              }
            }
          }
        }
      }
      std::vector<ChainSource> want;
      for (std::size_t c = 0; c < curves.size(); ++c) {
        if (along[c] / total >= 0.1) want.push_back({c, along[c] / total});
      }
      ASSERT_EQ(curves_of(got[i]), curves_of(want)) << "spread " << spread << " chain " << i;
      for (std::size_t k = 0; k < want.size(); ++k) {
        EXPECT_NEAR(got[i][k].share, want[k].share, 1e-9);
      }
    }
  }
}

// The bands of edges find what testing every ring of every polygon finds, for polygons with holes
// that overlap, and tall edges beside short ones.
TEST(PolygonsAt, AgreesWithEveryRing) {
  std::mt19937_64 rng(5);
  std::uniform_real_distribution<double> at(0.0, 100.0);
  const auto star = [&](Point c, double r, int n) {
    Ring ring;
    for (int k = 0; k < n; ++k) {
      const double a = 2 * kPi * k / n, s = r * (0.5 + 0.5 * (k % 2));
      ring.push_back({c.x + s * std::cos(a), c.y + s * std::sin(a)});
    }
    return ring;
  };
  std::vector<BufferPolygon> polygons;
  for (int i = 0; i < 40; ++i) {
    const Point c{at(rng), at(rng)};
    polygons.push_back({star(c, 5 + i % 20, 6 + 2 * (i % 9)), {}});
    if (i % 3 == 0) polygons.back().holes.push_back(star(c, 1 + i % 4, 6));
  }
  polygons.push_back({{{0, 0}, {1, 0}, {1, 100}, {0, 100}}, {}});  // one tall, narrow one
  std::vector<Point> points;
  for (int i = 0; i < 2000; ++i) points.push_back({at(rng), at(rng)});
  const auto inside = [](const Point& q, const Ring& ring) {
    bool in = false;
    for (std::size_t k = 0; k < ring.size(); ++k) {
      const Point& a = ring[k];
      const Point& b = ring[(k + 1) % ring.size()];
      if ((a.y > q.y) != (b.y > q.y) && q.x < a.x + (q.y - a.y) * (b.x - a.x) / (b.y - a.y)) {
        in = !in;
      }
    }
    return in;
  };
  const auto found = polygons_at(points, polygons);
  std::size_t hits = 0;
  for (std::size_t i = 0; i < points.size(); ++i) {
    std::vector<std::size_t> want;
    for (std::size_t p = 0; p < polygons.size(); ++p) {
      bool in = inside(points[i], polygons[p].outer);
      for (const Ring& h : polygons[p].holes) in = in != inside(points[i], h);
      if (in) want.push_back(p);
    }
    ASSERT_EQ(found[i], want) << i;
    hits += want.size();
  }
  EXPECT_GT(hits, 500u);
  EXPECT_THROW(polygons_at({{std::nan(""), 0}}, polygons), InputError);
}

}  // namespace
}  // namespace linetopo
