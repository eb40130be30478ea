// Tracing the ink of grey images.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "raster/trace.hpp"

namespace linetopo {
namespace {

struct Image {
  std::size_t width, height;
  std::vector<std::uint8_t> pixels;
  GreyView view() const { return {pixels.data(), width, height, width}; }
};

Image paper(std::size_t width, std::size_t height) {
  return {width, height, std::vector<std::uint8_t>(width * height, 255)};
}

TEST(TraceInk, InkAndItsHolesAtSubPixelPositions) {
  // A 5 x 5 block of ink with a hole of one pixel, and one pixel of ink on the border.
  Image im = paper(12, 9);
  for (std::size_t r = 2; r < 7; ++r) {
    for (std::size_t c = 3; c < 8; ++c) im.pixels[r * 12 + c] = 0;
  }
  im.pixels[4 * 12 + 5] = 255;
  im.pixels[0] = 0;
  const InkOutline ink = trace_ink(im.view(), 128, false);
  ASSERT_EQ(ink.outer.size(), 2u);
  ASSERT_EQ(ink.holes.size(), 1u);
  double outer = 0.0;
  for (const Ring& r : ink.outer) outer += signed_area(r);
  // Crossings halfway between ink and paper centres (level 127.5 between 0 and 255): a 5 x 5
  // block loses its four corner triangles of 1/8, a lone pixel is a diamond of 1/2.
  EXPECT_NEAR(outer, 25 - 0.5 + 0.5, 1e-9);
  EXPECT_NEAR(signed_area(ink.holes[0]), -0.5, 1e-9);
  // Light ink on dark paper is the same picture inverted.
  for (std::uint8_t& v : im.pixels) v = static_cast<std::uint8_t>(255 - v);
  const InkOutline light = trace_ink(im.view(), 128, true);
  EXPECT_EQ(light.outer.size(), 2u);
  EXPECT_EQ(light.holes.size(), 1u);
}

TEST(TraceInk, FollowsTheGreyLevels) {
  // Grey rising along x by 10 a pixel: ink below level 99.5 ends between the centres of
  // columns 9 (90) and 10 (100), at 9.5 + 0.95.
  Image im = paper(20, 3);
  for (std::size_t r = 0; r < 3; ++r) {
    for (std::size_t c = 0; c < 20; ++c) im.pixels[r * 20 + c] = static_cast<std::uint8_t>(10 * c);
  }
  const InkOutline ink = trace_ink(im.view(), 100, false);
  ASSERT_EQ(ink.outer.size(), 1u);
  double right = 0.0;
  for (const Point& p : ink.outer[0]) right = std::max(right, p.x);
  EXPECT_NEAR(right, 10.45, 1e-9);
}

TEST(TraceInk, EmptyAndBadInput) {
  EXPECT_TRUE(trace_ink(paper(0, 0).view(), 128, false).outer.empty());
  EXPECT_TRUE(trace_ink(paper(4, 4).view(), 128, false).outer.empty());
  EXPECT_THROW(trace_ink(paper(4, 4).view(), std::nan(""), false), InputError);
  // Saddles: two pixels of ink touching at a corner stay apart (the mean is paper).
  Image im = paper(4, 4);
  im.pixels[1 * 4 + 1] = 0;
  im.pixels[2 * 4 + 2] = 0;
  EXPECT_EQ(trace_ink(im.view(), 128, false).outer.size(), 2u);
}

}  // namespace
}  // namespace linetopo
