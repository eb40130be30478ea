// Ink against paper decided locally, for scans lit unevenly: Sauvola's threshold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "parallel/cancel.hpp"
#include "raster/trace.hpp"

namespace linetopo {

// Sauvola's weight of the local deviation, and its range (grey levels).
inline constexpr double kSauvolaK = 0.2;
inline constexpr double kSauvolaRange = 128.0;
// The grey level a recentred image splits at, as a threshold for trace_ink.
inline constexpr double kRecentredThreshold = 128.0;

// The image with each pixel's grey level moved so that Sauvola's local threshold, over a window
// of about `window` pixels a side, falls at kRecentredThreshold: t = m (1 + kSauvolaK
// (s / kSauvolaRange - 1)) from the mean m and deviation s of the grey levels around, taken
// over blocks of a quarter window and interpolated between their centres, so that the
// threshold moves smoothly and an outline traced at it keeps its sub-pixel accuracy. Light ink
// is turned dark first: the result always has dark ink. Block rows on the pool.
std::vector<std::uint8_t> recentre_locally(const GreyView& image, std::size_t window,
                                           bool light_ink, const CancelCheck& cancelled = {});

}  // namespace linetopo
