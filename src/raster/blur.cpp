// A Gaussian blur in two passes: along each row, then down each column (as whole rows, for the
// cache).
#include <algorithm>
#include <cmath>

#include "parallel/parallel.hpp"
#include "raster/filters.hpp"

namespace linetopo {
namespace {

// Rows per task.
constexpr std::size_t kRowsPerBlock = 32;
// The kernel reaches this many deviations.
constexpr double kReachSigmas = 3.0;

}  // namespace

double gaussian_reach(double sigma) {
  return sigma > 0.0 ? std::min(std::ceil(kReachSigmas * sigma), 1e15) : 0.0;
}

std::vector<double> gaussian_weights(double sigma) {
  if (!(sigma > 0.0)) return {1.0};
  const auto reach = static_cast<std::size_t>(gaussian_reach(sigma));
  std::vector<double> w(reach + 1);
  double sum = 0.0;
  for (std::size_t k = 0; k <= reach; ++k) {
    const double x = static_cast<double>(k) / sigma;
    w[k] = std::exp(-0.5 * x * x);
    sum += k == 0 ? w[k] : 2.0 * w[k];
  }
  for (double& v : w) v /= sum;
  return w;
}

void gaussian_blur(FloatRaster& field, std::size_t width, std::size_t height, double sigma,
                   FloatRaster& scratch, const CancelCheck& cancelled) {
  const std::vector<double> weights = gaussian_weights(sigma);
  const std::vector<float> w(weights.begin(), weights.end());
  const std::size_t reach = w.size() - 1;
  if (reach == 0 || width == 0 || height == 0) return;
  FloatRaster& across = scratch;
  across.resize(field.size());
  const std::size_t blocks = (height + kRowsPerBlock - 1) / kRowsPerBlock;
  parallel_for(blocks, [&](std::size_t b) {
    throw_if_cancelled(cancelled);
    for (std::size_t r = b * kRowsPerBlock; r < std::min(height, (b + 1) * kRowsPerBlock); ++r) {
      const float* in = field.data() + r * width;
      float* row = across.data() + r * width;
      std::fill(row, row + width, 0.0F);
      // Each nonzero value spread over its neighbours: traffic is sparse.
      for (std::size_t c = 0; c < width; ++c) {
        if (in[c] == 0.0F) continue;
        const float v = in[c];
        const std::size_t lo = c >= reach ? c - reach : 0;
        const std::size_t hi = std::min(width - 1, c + reach);
        for (std::size_t k = lo; k <= hi; ++k) row[k] += v * w[k > c ? k - c : c - k];
      }
    }
  });
  parallel_for(blocks, [&](std::size_t b) {
    throw_if_cancelled(cancelled);
    for (std::size_t r = b * kRowsPerBlock; r < std::min(height, (b + 1) * kRowsPerBlock); ++r) {
      float* row = field.data() + r * width;
      std::fill(row, row + width, 0.0F);
      const std::size_t lo = r >= reach ? r - reach : 0;
      const std::size_t hi = std::min(height - 1, r + reach);
      for (std::size_t k = lo; k <= hi; ++k) {
        const float weight = w[k > r ? k - r : r - k];
        const float* in = across.data() + k * width;
        for (std::size_t c = 0; c < width; ++c) row[c] += weight * in[c];
      }
    }
  });
}

}  // namespace linetopo
