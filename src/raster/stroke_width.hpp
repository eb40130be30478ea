// The typical width of the strokes in a scan, which large blobs and dark margins do not sway.
#pragma once

#include <optional>

#include "parallel/cancel.hpp"
#include "raster/trace.hpp"

namespace linetopo {

// The median, over the ink's medial pixels (those at least as far from the paper as each of
// their eight neighbours), of twice their distance to the nearest paper pixel less one pixel:
// the width of a stroke of an odd number of pixels, a pixel less for an even number. Ink and
// paper as trace_ink has them, paper beyond the border. Rows in blocks on the pool; nullopt
// when the image holds no ink.
std::optional<double> median_stroke_width(const GreyView& image, double threshold, bool light_ink,
                                          const CancelCheck& cancelled = {});

}  // namespace linetopo
