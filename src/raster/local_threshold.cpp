// Block sums of the grey levels and of their squares, a window's mean and deviation from
// prefix sums over the blocks, and the threshold interpolated between block centres.
#include "raster/local_threshold.hpp"

#include <algorithm>
#include <cmath>

#include "parallel/parallel.hpp"

namespace linetopo {

std::vector<std::uint8_t> recentre_locally(const GreyView& image, std::size_t window,
                                           bool light_ink, const CancelCheck& cancelled) {
  const std::size_t w = image.width;
  const std::size_t h = image.height;
  std::vector<std::uint8_t> out(w * h);
  if (w == 0 || h == 0) return out;
  const std::size_t block = std::max<std::size_t>(1, window / 4);
  const std::size_t bw = (w + block - 1) / block;
  const std::size_t bh = (h + block - 1) / block;
  const auto grey = [&](std::size_t c, std::size_t r) {
    const double g = image.pixels[r * image.row_stride + c];
    return light_ink ? 255.0 - g : g;
  };
  // Prefix sums over the blocks: (bh + 1) x (bw + 1), row and column 0 zero.
  std::vector<double> sum((bh + 1) * (bw + 1), 0.0);
  std::vector<double> squares(sum.size(), 0.0);
  std::vector<double> count(sum.size(), 0.0);
  parallel_for(bh, [&](std::size_t i) {
    throw_if_cancelled(cancelled);
    for (std::size_t r = i * block; r < std::min(h, (i + 1) * block); ++r) {
      for (std::size_t c = 0; c < w; ++c) {
        const double g = grey(c, r);
        const std::size_t at = (i + 1) * (bw + 1) + c / block + 1;
        sum[at] += g;
        squares[at] += g * g;
        count[at] += 1.0;
      }
    }
  });
  for (std::vector<double>* table : {&sum, &squares, &count}) {
    std::vector<double>& t = *table;
    for (std::size_t i = 1; i <= bh; ++i) {
      for (std::size_t j = 1; j <= bw; ++j) {
        t[i * (bw + 1) + j] += t[(i - 1) * (bw + 1) + j] + t[i * (bw + 1) + j - 1] -
                               t[(i - 1) * (bw + 1) + j - 1];
      }
    }
  }
  // The threshold at each block's centre, from the blocks within half a window of it.
  const std::size_t reach = std::max<std::size_t>(1, (window / 2 + block / 2) / block);
  std::vector<double> threshold(bh * bw);
  for (std::size_t i = 0; i < bh; ++i) {
    for (std::size_t j = 0; j < bw; ++j) {
      const std::size_t i0 = i >= reach ? i - reach : 0;
      const std::size_t j0 = j >= reach ? j - reach : 0;
      const std::size_t i1 = std::min(bh, i + reach + 1);
      const std::size_t j1 = std::min(bw, j + reach + 1);
      const auto box = [&](const std::vector<double>& t) {
        return t[i1 * (bw + 1) + j1] - t[i0 * (bw + 1) + j1] - t[i1 * (bw + 1) + j0] +
               t[i0 * (bw + 1) + j0];
      };
      const double n = box(count);
      const double mean = box(sum) / n;
      const double deviation = std::sqrt(std::max(0.0, box(squares) / n - mean * mean));
      threshold[i * bw + j] = mean * (1.0 + kSauvolaK * (deviation / kSauvolaRange - 1.0));
    }
  }
  // Between block centres the threshold runs linearly; beyond the outer centres it stays.
  const auto position = [&](std::size_t v, std::size_t blocks, std::size_t& lo, double& t) {
    const double at = (static_cast<double>(v) + 0.5) / static_cast<double>(block) - 0.5;
    const double clamped = std::clamp(at, 0.0, static_cast<double>(blocks - 1));
    lo = std::min(blocks - 1, static_cast<std::size_t>(clamped));
    t = clamped - static_cast<double>(lo);
  };
  parallel_for(bh, [&](std::size_t i) {
    throw_if_cancelled(cancelled);
    for (std::size_t r = i * block; r < std::min(h, (i + 1) * block); ++r) {
      std::size_t i0 = 0;
      double ty = 0.0;
      position(r, bh, i0, ty);
      const std::size_t i1 = std::min(bh - 1, i0 + 1);
      for (std::size_t c = 0; c < w; ++c) {
        std::size_t j0 = 0;
        double tx = 0.0;
        position(c, bw, j0, tx);
        const std::size_t j1 = std::min(bw - 1, j0 + 1);
        const double top = (1 - tx) * threshold[i0 * bw + j0] + tx * threshold[i0 * bw + j1];
        const double bottom = (1 - tx) * threshold[i1 * bw + j0] + tx * threshold[i1 * bw + j1];
        const double t = (1 - ty) * top + ty * bottom;
        const double moved = grey(c, r) - t + (kRecentredThreshold - 0.5);
        out[r * w + c] = static_cast<std::uint8_t>(std::clamp(std::round(moved), 0.0, 255.0));
      }
    }
  });
  return out;
}

}  // namespace linetopo
