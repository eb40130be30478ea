// Scanned line art into polygons: the outline of the ink traced at sub-pixel accuracy, so that
// the polygon pipeline gives the centerline of a scan.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "geometry/geometry.hpp"
#include "parallel/cancel.hpp"

namespace linetopo {

// A scan's budgets, so that a small file cannot cost minutes and gigabytes (reading takes two
// bytes a pixel at its peak, and the pipeline about 400 bytes and 5 us per outline point):
// the pixels of an image read through Pillow, checked from its header before it is decoded,
// and the points of its traced outline, the larger of a floor and so many per byte of the file
// (a checkerboard of pixels has two outline points a pixel in a few bytes).
inline constexpr std::size_t kPixelBudget = 64'000'000;
inline constexpr const char* kMaxPixelsVariable = "LINETOPO_MAX_PIXELS";
inline constexpr std::size_t kOutlinePointFloor = 150'000;
inline constexpr std::size_t kOutlinePointsPerByte = 16;
inline constexpr const char* kMaxOutlineVariable = "LINETOPO_MAX_OUTLINE_POINTS";

// Throws InputError naming kMaxPixelsVariable when an image of width x height pixels passes its
// limit: the variable's value when it is set, else kPixelBudget.
void check_pixel_budget(std::size_t width, std::size_t height);

// The most points the traced outline of an image encoded in `source_bytes` may have: the value
// of kMaxOutlineVariable when it is set, else the larger of kOutlinePointFloor and
// kOutlinePointsPerByte per byte.
std::size_t outline_point_limit(std::size_t source_bytes);

// A grey image, row-major, one byte per pixel, held by the caller.
struct GreyView {
  const std::uint8_t* pixels = nullptr;
  std::size_t width = 0;
  std::size_t height = 0;
  std::size_t row_stride = 0;  // bytes from one row to the next
};

// The outline of the ink as closed rings (the last point does not repeat the first), in pixel
// coordinates with y down: pixel (col, row) is the unit square from (col, row), its grey level
// taken at its centre. Ink is darker than `threshold` (lighter with light_ink), a grey level from
// 0 to 255; the outline runs where the grey level, interpolated linearly between pixel centres,
// crosses the level halfway between the grey levels on either side of the threshold (marching
// squares, saddles decided by the mean of the four), and the image is taken to be paper beyond
// its border, so that every ring closes. Rings round ink run counter-clockwise in these axes
// (positive shoelace area), rings round paper inside ink clockwise. Rows are traced in bands on
// the pool; `cancelled` is asked per band. An outline of more than `max_points` points throws
// InputError naming kMaxOutlineVariable as soon as the bands have found them.
struct InkOutline {
  std::vector<Ring> outer;  // round ink
  std::vector<Ring> holes;  // round paper within ink
};
InkOutline trace_ink(const GreyView& image, double threshold, bool light_ink,
                     const CancelCheck& cancelled = {},
                     std::size_t max_points = std::numeric_limits<std::size_t>::max());

// The grey level that parts ink from paper at `threshold`: halfway between the grey levels on
// either side of it, so that ink is exactly the levels beyond it, an image and its negative
// trace alike, and no grey level lies on it. Ink is darker than it (lighter with light_ink).
double ink_level(double threshold, bool light_ink);
inline bool is_ink(double grey, double level, bool light_ink) {
  return light_ink ? grey > level : grey < level;
}

// A field of floats, row-major, held by the caller; a sample's value belongs to its cell's centre
// as a pixel's grey level does.
struct FieldView {
  const float* values = nullptr;
  std::size_t width = 0;
  std::size_t height = 0;
  double floor = 1.0;  // positive: values at or below zero are read as -floor
};

// The outline of where the field is positive, traced as trace_ink traces ink (the level at zero,
// -floor beyond the border), in the same pixel coordinates and orientations.
InkOutline trace_field(const FieldView& field, const CancelCheck& cancelled = {},
                       std::size_t max_points = std::numeric_limits<std::size_t>::max());

}  // namespace linetopo
