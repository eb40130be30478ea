// Edges per horizontal band.
#include "inflate/bands.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>

namespace linetopo::inflate_parts {

RingBands::RingBands(const std::vector<const c2::Path64*>& rings) {
  std::size_t edges = 0;
  std::int64_t ymin = std::numeric_limits<std::int64_t>::max();
  std::int64_t ymax = std::numeric_limits<std::int64_t>::lowest();
  double rise = 0.0;
  for (const c2::Path64* r : rings) {
    edges += r->size();
    for (std::size_t k = 0; k < r->size(); ++k) {
      const c2::Point64& q = (*r)[k];
      ymin = std::min(ymin, q.y);
      ymax = std::max(ymax, q.y);
      const c2::Point64& next = (*r)[(k + 1) % r->size()];
      rise += std::fabs(static_cast<double>(next.y) - static_cast<double>(q.y));
    }
  }
  start_.assign(2, 0);
  if (edges == 0) return;
  y0_ = static_cast<double>(ymin);
  const double extent = static_cast<double>(ymax) - y0_ + 1.0;
  const double by_rise = extent / std::max(1.0, rise / static_cast<double>(edges));
  bands_ = static_cast<std::size_t>(
      std::clamp(by_rise, 1.0, std::floor(0.5 * static_cast<double>(edges)) + 1.0));
  height_ = extent / static_cast<double>(bands_);
  const auto for_each_edge = [&](auto&& visit) {
    for (std::size_t i = 0; i < rings.size(); ++i) {
      const c2::Path64& r = *rings[i];
      for (std::size_t k = 0; k < r.size(); ++k) {
        const c2::Point64& a = r[k];
        const c2::Point64& b = r[(k + 1) % r.size()];
        const std::size_t last = band_of(static_cast<double>(std::max(a.y, b.y)));
        for (std::size_t j = band_of(static_cast<double>(std::min(a.y, b.y))); j <= last; ++j) {
          visit(j, Edge{a, b, i});
        }
      }
    }
  };
  start_.assign(bands_ + 1, 0);
  for_each_edge([&](std::size_t j, const Edge&) { ++start_[j + 1]; });
  std::partial_sum(start_.begin(), start_.end(), start_.begin());
  edges_.resize(start_.back());
  std::vector<std::size_t> fill(start_.begin(), start_.end() - 1);
  for_each_edge([&](std::size_t j, const Edge& e) { edges_[fill[j]++] = e; });
}

std::size_t RingBands::band_of(double y) const {
  const double b = std::floor((y - y0_) / height_);
  return static_cast<std::size_t>(std::clamp(b, 0.0, static_cast<double>(bands_ - 1)));
}

std::span<const RingBands::Edge> RingBands::at_doubled(Wide y2) const {
  if (edges_.empty()) return {};
  const std::size_t j = band_of(static_cast<double>(y2) / 2.0);
  return {edges_.data() + start_[j], start_[j + 1] - start_[j]};
}

}  // namespace linetopo::inflate_parts
