// Argument checks shared by every entry point: feature_size and the per-curve widths.
#include <cmath>
#include <string>

#include "pipeline/pipeline.hpp"

namespace linetopo {

void validate_feature_size(double feature_size) {
  if (!(feature_size > 0.0) || !std::isfinite(feature_size)) {
    throw InputError("feature_size must be a positive finite number, got " +
                     number_text(feature_size, true));
  }
}

void check_per_curve_widths(const std::vector<Polyline>& curves,
                            const std::optional<Widths>& widths) {
  if (!widths) return;
  const std::size_t n = curves.size();
  for (std::size_t i = 0; i < widths->size(); ++i) {
    const std::size_t k = (*widths)[i].size();
    if (k == 0) continue;
    if (i >= n) {
      throw InputError("per_curve_widths has an entry for curve " + std::to_string(i) +
                       " but only " + std::to_string(n) + " curve(s) were given");
    }
    const std::size_t m = curves[i].size();
    if (k != m) {
      throw InputError("per_curve_widths[" + std::to_string(i) + "] has " + std::to_string(k) +
                       " entries but curve " + std::to_string(i) + " has " + std::to_string(m) +
                       " points; they must match (or pass an empty list to use the uniform "
                       "buffer)");
    }
  }
}

}  // namespace linetopo
