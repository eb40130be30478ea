// Times boundary preparation of one polygon whose outer ring has a million vertices.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>
#include <vector>

#include "boundary/boundary.hpp"
#include "pipeline/settings.hpp"

namespace {

using linetopo::BufferPolygon;
using linetopo::Point;
using Clock = std::chrono::steady_clock;

// A circle of circumference about n / 10 whose radius wobbles at a few frequencies, so that the
// ring has curvature everywhere and corners nowhere.
BufferPolygon wobbly_circle(int n) {
  const double two_pi = 6.283185307179586;
  const double radius = 0.1 * n / two_pi;
  BufferPolygon polygon;
  polygon.outer.reserve(n);
  for (int i = 0; i < n; ++i) {
    const double a = two_pi * i / n;
    const double r = radius + 3.0 * std::sin(997.0 * a) + 1.5 * std::sin(7919.0 * a) +
                     0.2 * std::sin(31'337.0 * a);
    polygon.outer.push_back({r * std::cos(a), r * std::sin(a)});
  }
  return polygon;
}

struct Setting {
  const char* name;
  std::optional<double> resample;
  std::optional<double> simplification;
};

}  // namespace

int main() {
  const int n = 1'000'000;
  const std::vector<BufferPolygon> input{wobbly_circle(n)};
  const double feature_size = 1.0;
  const double buffer_distance = 1.0;
  const Setting settings[] = {
      {"defaults", std::nullopt, std::nullopt},
      {"boundary_simplification 0", std::nullopt, 0.0},
      {"resample 1", 1.0, std::nullopt},
  };
  std::printf(
      "preprocess_boundaries, one ring of %d vertices, feature_size %.1f, "
      "buffer_distance %.1f, best of 3\n",
      n, feature_size, buffer_distance);
  for (const Setting& s : settings) {
    double best = std::numeric_limits<double>::infinity();
    std::size_t points = 0;
    for (int rep = 0; rep < 3; ++rep) {
      const auto t0 = Clock::now();
      const auto out = linetopo::preprocess_boundaries(
          input, linetopo::resolve_boundary(feature_size, buffer_distance, std::nullopt, s.resample,
                                            s.simplification));
      best = std::min(best, std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
      points = out.empty() ? 0 : out.front().outer.size();
    }
    std::printf("  %-28s %9.1f ms  (%zu output vertices)\n", s.name, best, points);
  }
  return 0;
}
