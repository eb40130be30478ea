// A Euclidean distance transform (each column scanned both ways, then the lower envelope of
// parabolas along each row, after Felzenszwalb and Huttenlocher) and the median over its ridge.
#include "raster/stroke_width.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "parallel/parallel.hpp"

namespace linetopo {
namespace {

constexpr std::size_t kRowsPerBlock = 64;
constexpr std::size_t kSpeckPixels = 4;
constexpr std::uint8_t kInk = 1;
constexpr std::uint8_t kSeen = 2;

// The squared distance along a row from each pixel to the nearest of the sites, where f holds
// each pixel's squared distance along its column (the lower envelope of the parabolas
// (x - q)^2 + f[q]); paper beyond both ends.
void row_transform(const std::vector<float>& f, std::vector<float>& d, std::vector<std::size_t>& v,
                   std::vector<double>& z) {
  const std::size_t n = f.size();
  constexpr double kInf = std::numeric_limits<double>::infinity();
  v.assign(n, 0);
  z.assign(n + 1, 0.0);
  std::size_t k = 0;
  z[0] = -kInf;
  z[1] = kInf;
  for (std::size_t q = 1; q < n; ++q) {
    const auto fq = static_cast<double>(f[q]);
    const auto dq = static_cast<double>(q);
    // Where the parabola of q comes below that of the last site kept; sites it hides go (z[0]
    // is -inf, so the first site never does).
    const auto meet = [&](std::size_t site) {
      const auto p = static_cast<double>(site);
      return ((fq + dq * dq) - (static_cast<double>(f[site]) + p * p)) / (2.0 * (dq - p));
    };
    double s = meet(v[k]);
    while (s <= z[k]) s = meet(v[--k]);
    ++k;
    v[k] = q;
    z[k] = s;
    z[k + 1] = kInf;
  }
  k = 0;
  for (std::size_t q = 0; q < n; ++q) {
    while (z[k + 1] < static_cast<double>(q)) ++k;
    const double dx = static_cast<double>(q) - static_cast<double>(v[k]);
    d[q] = static_cast<float>(dx * dx + static_cast<double>(f[v[k]]));
  }
}

// The pixels of the run of `kind` (ink 8-connected, paper 4-connected) through `start`, into
// `run`, up to kSpeckPixels + 1 of them; true when the run has at most kSpeckPixels pixels and
// keeps off the border (paper around the image is never a pinhole) and off every run seen
// before. Each pixel visited is marked kSeen.
bool small_run(std::vector<std::uint8_t>& mask, std::size_t w, std::size_t h, std::size_t start,
               std::vector<std::size_t>& stack, std::vector<std::size_t>& run) {
  const std::uint8_t kind = mask[start] & kInk;
  stack.assign(1, start);
  run.assign(1, start);
  mask[start] |= kSeen;
  while (!stack.empty()) {
    const std::size_t at = stack.back();
    stack.pop_back();
    const std::size_t r = at / w;
    const std::size_t c = at % w;
    if (r == 0 || c == 0 || r == h - 1 || c == w - 1) return false;
    for (std::size_t rr = r - 1; rr <= r + 1; ++rr) {
      for (std::size_t cc = c - 1; cc <= c + 1; ++cc) {
        const std::size_t next = rr * w + cc;
        const bool side = rr == r || cc == c;
        if ((mask[next] & kInk) != kind || (kind == 0 && !side) || next == at) continue;
        // A pixel seen before belongs to a run found too large: so is this one.
        if ((mask[next] & kSeen) != 0) {
          if (std::find(run.begin(), run.end(), next) == run.end()) return false;
          continue;
        }
        mask[next] |= kSeen;
        if (run.size() == kSpeckPixels) return false;
        run.push_back(next);
        stack.push_back(next);
      }
    }
  }
  return true;
}

// Flips every 8-connected run of ink, and every 4-connected run of paper, of at most
// kSpeckPixels pixels: specks of noise and pinholes, which would each count as a stroke of a
// pixel or two. Paper is looked at only where ink lies on two of its sides, as it does around
// every pixel of such a pinhole, so that the paper's expanse costs a glance a pixel.
void remove_specks(std::vector<std::uint8_t>& mask, std::size_t w, std::size_t h) {
  std::vector<std::size_t> stack;
  std::vector<std::size_t> run;
  std::vector<std::size_t> flip;
  for (std::size_t at = w + 1; at + w + 1 < mask.size(); ++at) {
    if ((mask[at] & kSeen) != 0) continue;
    if ((mask[at] & kInk) == 0) {
      const int sides = (mask[at - 1] & kInk) + (mask[at + 1] & kInk) + (mask[at - w] & kInk) +
                        (mask[at + w] & kInk);
      if (sides < 2) continue;
    }
    if (small_run(mask, w, h, at, stack, run)) flip.insert(flip.end(), run.begin(), run.end());
  }
  for (const std::size_t at : flip) mask[at] ^= kInk;
}

}  // namespace

std::optional<double> median_stroke_width(const GreyView& image, double threshold, bool light_ink,
                                          const CancelCheck& cancelled) {
  if (image.width == 0 || image.height == 0) return std::nullopt;
  // A one-pixel border of paper around the image, so that ink at its edge ends there.
  const std::size_t w = image.width + 2;
  const std::size_t h = image.height + 2;
  const double level = ink_level(threshold, light_ink);
  std::vector<std::uint8_t> mask(w * h, 0);
  for (std::size_t r = 1; r + 1 < h; ++r) {
    const std::uint8_t* grey = image.pixels + (r - 1) * image.row_stride;
    for (std::size_t c = 1; c + 1 < w; ++c) {
      mask[r * w + c] = is_ink(grey[c - 1], level, light_ink) ? kInk : 0;
    }
  }
  throw_if_cancelled(cancelled);
  remove_specks(mask, w, h);
  // Along each column, the pixels to the nearest paper above and then below, saturated: two
  // bytes a pixel, the most the transform holds at once.
  std::vector<std::uint16_t> column(w * h, 0);
  constexpr std::uint16_t kFar = std::numeric_limits<std::uint16_t>::max();
  for (std::size_t r = 1; r < h; ++r) {
    for (std::size_t c = 0; c < w; ++c) {
      const std::uint16_t above = column[(r - 1) * w + c];
      // Saturated: a column of ink longer than kFar stays kFar, never wraps to 0.
      const auto next = above == kFar ? kFar : static_cast<std::uint16_t>(above + 1);
      column[r * w + c] = (mask[r * w + c] & kInk) != 0 ? next : 0;
    }
  }
  mask = {};
  for (std::size_t r = h - 1; r-- > 0;) {
    for (std::size_t c = 0; c < w; ++c) {
      const std::uint16_t below = column[(r + 1) * w + c];
      std::uint16_t& here = column[r * w + c];
      here = std::min<std::uint16_t>(here, below == kFar ? kFar : below + 1);
    }
  }
  throw_if_cancelled(cancelled);
  // Row blocks on the pool: each block's rows, and one more on either side, along the row; then
  // the ridge, ink at least as far from the paper as its eight neighbours.
  const std::size_t blocks = (h + kRowsPerBlock - 1) / kRowsPerBlock;
  std::vector<std::vector<float>> per_block(blocks);
  parallel_for(blocks, [&](std::size_t b) {
    throw_if_cancelled(cancelled);
    const std::size_t first = std::max<std::size_t>(1, b * kRowsPerBlock);
    const std::size_t last = std::min(h - 1, (b + 1) * kRowsPerBlock);
    if (first >= last) return;
    std::vector<float> d((last - first + 2) * w);  // rows first - 1 .. last
    std::vector<float> f(w);
    std::vector<float> out(w);
    std::vector<std::size_t> v;
    std::vector<double> z;
    for (std::size_t r = first - 1; r <= last; ++r) {
      for (std::size_t c = 0; c < w; ++c) {
        const auto k = static_cast<float>(column[r * w + c]);
        f[c] = k * k;
      }
      row_transform(f, out, v, z);
      const auto at = static_cast<std::ptrdiff_t>((r + 1 - first) * w);
      std::copy(out.begin(), out.end(), d.begin() + at);
    }
    for (std::size_t r = first; r < last; ++r) {
      const float* rows = d.data() + (r - first) * w;  // row r - 1
      for (std::size_t c = 1; c + 1 < w; ++c) {
        const float here = rows[w + c];
        if (here == 0.0F) continue;
        bool top = true;
        for (std::size_t k = 0; k < 3 && top; ++k) {
          const float* row = rows + k * w;
          top = row[c - 1] <= here && row[c] <= here && row[c + 1] <= here;
        }
        if (top) per_block[b].push_back(2.0F * std::sqrt(here) - 1.0F);
      }
    }
  });
  std::vector<float> widths;
  for (std::vector<float>& block : per_block) {
    widths.insert(widths.end(), block.begin(), block.end());
    block = {};
  }
  if (widths.empty()) return std::nullopt;
  const auto middle = widths.begin() + static_cast<std::ptrdiff_t>(widths.size() / 2);
  std::nth_element(widths.begin(), middle, widths.end());
  return static_cast<double>(*middle);
}

}  // namespace linetopo
