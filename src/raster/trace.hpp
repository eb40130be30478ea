// Scanned line art into polygons: the outline of the ink traced at sub-pixel accuracy, so that
// the polygon pipeline gives the centerline of a scan.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "geometry/geometry.hpp"
#include "parallel/cancel.hpp"

namespace linetopo {

// A grey image, row-major, one byte per pixel, held by the caller.
struct GreyView {
  const std::uint8_t* pixels = nullptr;
  std::size_t width = 0;
  std::size_t height = 0;
  std::size_t row_stride = 0;  // bytes from one row to the next
};

// The outline of the ink as closed rings (the last point does not repeat the first), in pixel
// coordinates with y down: pixel (col, row) is the unit square from (col, row), its grey level
// taken at its centre. Ink is darker than `threshold` (lighter with light_ink); the outline runs
// where the grey level, interpolated linearly between pixel centres, crosses it (marching
// squares, saddles decided by the mean of the four), and the image is taken to be paper beyond
// its border, so that every ring closes. Rings round ink run counter-clockwise in these axes
// (positive shoelace area), rings round paper inside ink clockwise. Rows are traced in bands on
// the pool; `cancelled` is asked per band.
struct InkOutline {
  std::vector<Ring> outer;  // round ink
  std::vector<Ring> holes;  // round paper within ink
};
InkOutline trace_ink(const GreyView& image, double threshold, bool light_ink,
                     const CancelCheck& cancelled = {});

}  // namespace linetopo
