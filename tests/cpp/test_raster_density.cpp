// Counting curves per cell and the filters of the density field, against brute force.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <set>
#include <vector>

#include "raster/density.hpp"
#include "raster/filters.hpp"
#include "raster/trace.hpp"

namespace linetopo {
namespace {

TEST(CountCurves, EachCurveOnceInEveryCellItCrosses) {
  const CellLattice lattice{0.0, 0.0, 1.0, 12, 9};
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> x(-2.0, 14.0);
  std::uniform_real_distribution<double> y(-2.0, 11.0);
  for (int trial = 0; trial < 200; ++trial) {
    const Polyline curve{{x(rng), y(rng)}, {x(rng), y(rng)}, {x(rng), y(rng)}};
    // Brute force: the cells of points finely spaced along the curve (inside the lattice).
    std::set<std::size_t> expected;
    for (std::size_t k = 0; k + 1 < curve.size(); ++k) {
      for (int i = 0; i <= 20000; ++i) {
        const double t = i / 20000.0;
        const double px = curve[k].x + t * (curve[k + 1].x - curve[k].x);
        const double py = curve[k].y + t * (curve[k + 1].y - curve[k].y);
        if (px < 0 || py < 0 || px >= 12 || py >= 9) continue;
        expected.insert(static_cast<std::size_t>(py) * 12 + static_cast<std::size_t>(px));
      }
    }
    // The same curve three times over, back and forth: still one curve.
    Polyline looping = curve;
    for (int pass = 0; pass < 3; ++pass) {
      looping.insert(looping.end(), curve.rbegin(), curve.rend());
      looping.insert(looping.end(), curve.begin(), curve.end());
    }
    const FloatRaster counts = count_curves({looping, curve}, lattice);
    for (std::size_t c = 0; c < counts.size(); ++c) {
      // Sampling can miss a cell the curve only clips; it never finds one the walk misses.
      if (expected.count(c)) {
        ASSERT_EQ(counts[c], 2.0F) << "trial " << trial << " cell " << c;
      } else {
        ASSERT_TRUE(counts[c] == 0.0F || counts[c] == 2.0F);
      }
    }
  }
}

TEST(Filters, SquareMaximumAndBlurMatchBruteForce) {
  const std::size_t w = 23;
  const std::size_t h = 17;
  std::mt19937 rng(9);
  std::uniform_real_distribution<float> value(0.0F, 10.0F);
  FloatRaster field(w * h);
  for (float& v : field) v = value(rng);
  FloatRaster out;
  FloatRaster scratch;
  for (const std::size_t reach : {0U, 1U, 3U, 7U, 40U}) {
    square_maximum(field, w, h, reach, out, scratch);
    for (std::size_t r = 0; r < h; ++r) {
      for (std::size_t c = 0; c < w; ++c) {
        float best = 0.0F;
        for (std::size_t rr = r > reach ? r - reach : 0; rr <= std::min(h - 1, r + reach); ++rr) {
          for (std::size_t cc = c > reach ? c - reach : 0; cc <= std::min(w - 1, c + reach); ++cc) {
            best = std::max(best, field[rr * w + cc]);
          }
        }
        ASSERT_EQ(out[r * w + c], best) << reach << " " << r << " " << c;
      }
    }
  }
  // One unit, blurred: the outer product of the weights, which sum to one.
  const std::vector<double> weights = gaussian_weights(1.5);
  ASSERT_EQ(weights.size(), 6U);  // out to ceil(3 sigma)
  FloatRaster impulse(w * h, 0.0F);
  impulse[8 * w + 11] = 1.0F;
  gaussian_blur(impulse, w, h, 1.5, scratch);
  double sum = 0.0;
  for (std::size_t r = 0; r < h; ++r) {
    for (std::size_t c = 0; c < w; ++c) {
      const std::size_t dr = r > 8 ? r - 8 : 8 - r;
      const std::size_t dc = c > 11 ? c - 11 : 11 - c;
      const double expected =
          dr < weights.size() && dc < weights.size() ? weights[dr] * weights[dc] : 0.0;
      ASSERT_NEAR(impulse[r * w + c], expected, 1e-6);
      sum += impulse[r * w + c];
    }
  }
  EXPECT_NEAR(sum, 1.0, 1e-5);
}

TEST(TraceField, ZeroIsOutsideAndCrossingsInterpolate) {
  // A ramp along x: positive from column 6 on, where the level falls between the centres of
  // columns 5 (value -0.5) and 6 (value 0.5): at 5.5 + 0.5.
  const std::size_t w = 12;
  const std::size_t h = 3;
  std::vector<float> values(w * h);
  for (std::size_t r = 0; r < h; ++r) {
    for (std::size_t c = 0; c < w; ++c) values[r * w + c] = static_cast<float>(c) - 5.5F;
  }
  InkOutline ramp = trace_field({values.data(), w, h, 1e-3});
  ASSERT_EQ(ramp.outer.size(), 1U);
  double left = 1e9;
  for (const Point& p : ramp.outer[0]) left = std::min(left, p.x);
  EXPECT_NEAR(left, 6.0, 1e-9);
  // Zeros never count as inside.
  std::fill(values.begin(), values.end(), 0.0F);
  EXPECT_TRUE(trace_field({values.data(), w, h, 1e-3}).outer.empty());
}

}  // namespace
}  // namespace linetopo
