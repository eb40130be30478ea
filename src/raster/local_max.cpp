// The maximum over a sliding window by van Herk's and Gil and Werman's method: within blocks of
// the window's length, running maxima from the left and from the right; any window spans at most
// two blocks, so its maximum is one value from each, three comparisons a cell whatever the
// window.
#include <algorithm>
#include <limits>

#include "parallel/parallel.hpp"
#include "raster/filters.hpp"

namespace linetopo {
namespace {

constexpr std::size_t kLinesPerBlock = 32;
constexpr std::size_t kStripColumns = 128;

// The maximum over [i - reach, i + reach] of the n values of `in`, nothing beyond the ends, into
// `out`. `left` and `right` are scratch.
void window_max(const float* in, float* out, std::size_t n, std::size_t reach,
                std::vector<float>& left, std::vector<float>& right) {
  const std::size_t k = 2 * reach + 1;
  // Padded by `reach` on both sides and up to a whole number of blocks.
  const std::size_t padded = ((n + 2 * reach + k - 1) / k) * k;
  constexpr float kNothing = -std::numeric_limits<float>::infinity();
  left.assign(padded, kNothing);
  right.assign(padded, kNothing);
  const auto value = [&](std::size_t j) {  // j into the padded line
    return j >= reach && j - reach < n ? in[j - reach] : kNothing;
  };
  for (std::size_t j = 0; j < padded; ++j) {
    left[j] = j % k == 0 ? value(j) : std::max(left[j - 1], value(j));
  }
  for (std::size_t j = padded; j-- > 0;) {
    right[j] = (j + 1) % k == 0 ? value(j) : std::max(right[j + 1], value(j));
  }
  // The window of cell i runs over padded [i, i + 2 reach].
  for (std::size_t i = 0; i < n; ++i) out[i] = std::max(right[i], left[i + 2 * reach]);
}

}  // namespace

void square_maximum(const FloatRaster& field, std::size_t width, std::size_t height,
                    std::size_t reach, FloatRaster& out, FloatRaster& scratch,
                    const CancelCheck& cancelled) {
  // A window past both ends covers the same cells as one just past them.
  reach = std::min(reach, std::max(width, height));
  FloatRaster& across = scratch;
  across.resize(field.size());
  const std::size_t row_blocks = (height + kLinesPerBlock - 1) / kLinesPerBlock;
  parallel_for(row_blocks, [&](std::size_t b) {
    throw_if_cancelled(cancelled);
    std::vector<float> left;
    std::vector<float> right;
    for (std::size_t r = b * kLinesPerBlock; r < std::min(height, (b + 1) * kLinesPerBlock); ++r) {
      window_max(field.data() + r * width, across.data() + r * width, width, reach, left, right);
    }
  });
  // Down the columns a strip of kStripColumns at a time, whole rows of the strip at once, so that
  // memory is read in order and the maxima run across the columns side by side.
  out.resize(field.size());
  const std::size_t k = 2 * reach + 1;
  const std::size_t padded = ((height + 2 * reach + k - 1) / k) * k;
  const std::size_t strips = (width + kStripColumns - 1) / kStripColumns;
  parallel_for(strips, [&](std::size_t b) {
    throw_if_cancelled(cancelled);
    const std::size_t c0 = b * kStripColumns;
    const std::size_t n = std::min(width, c0 + kStripColumns) - c0;
    constexpr float kNothing = -std::numeric_limits<float>::infinity();
    std::vector<float> left(padded * n, kNothing);
    std::vector<float> right(padded * n, kNothing);
    const auto row_of = [&](std::size_t j) -> const float* {  // j into the padded column
      return j >= reach && j - reach < height ? across.data() + (j - reach) * width + c0
                                              : nullptr;
    };
    for (std::size_t j = 0; j < padded; ++j) {
      const float* in = row_of(j);
      float* to = left.data() + j * n;
      if (j % k == 0) {
        if (in != nullptr) std::copy(in, in + n, to);
        continue;
      }
      const float* before = to - n;
      for (std::size_t c = 0; c < n; ++c) {
        to[c] = in != nullptr ? std::max(before[c], in[c]) : before[c];
      }
    }
    for (std::size_t j = padded; j-- > 0;) {
      const float* in = row_of(j);
      float* to = right.data() + j * n;
      if ((j + 1) % k == 0) {
        if (in != nullptr) std::copy(in, in + n, to);
        continue;
      }
      const float* after = to + n;
      for (std::size_t c = 0; c < n; ++c) {
        to[c] = in != nullptr ? std::max(after[c], in[c]) : after[c];
      }
    }
    for (std::size_t r = 0; r < height; ++r) {
      const float* a = right.data() + r * n;
      const float* z = left.data() + (r + 2 * reach) * n;
      float* to = out.data() + r * width + c0;
      for (std::size_t c = 0; c < n; ++c) to[c] = std::max(a[c], z[c]);
    }
  });
}

}  // namespace linetopo
