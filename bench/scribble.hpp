// Deterministic scribbles for the C++ benchmarks: random-walk strokes with smooth turns.
#pragma once

#include <cmath>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "geometry/geometry.hpp"

namespace linetopo::bench {

// Strokes spread over a square of the given side, 0.3 units between points.
inline std::vector<Polyline> scribble(std::uint64_t seed, int strokes, int points, double side) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> start(0.0, side);
  std::uniform_real_distribution<double> turn(-0.35, 0.35);
  std::vector<Polyline> curves;
  for (int s = 0; s < strokes; ++s) {
    Point p{start(rng), start(rng)};
    double heading = 6.283185307179586 * start(rng) / side;
    Polyline c{p};
    for (int i = 1; i < points; ++i) {
      heading += turn(rng);
      p = {p.x + 0.3 * std::cos(heading), p.y + 0.3 * std::sin(heading)};
      c.push_back(p);
    }
    curves.push_back(std::move(c));
  }
  return curves;
}

}  // namespace linetopo::bench
