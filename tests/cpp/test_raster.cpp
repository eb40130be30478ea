// Tracing the ink of grey images.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "raster/stroke_width.hpp"
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

TEST(StrokeWidth, TheStrokesNotTheBlobsOrTheMargin) {
  // Strokes of an odd number of pixels give their width, wherever they lie and however they
  // turn; a dark margin and a large blob do not move the median.
  for (const std::size_t width : {1U, 3U, 5U, 7U}) {
    Image im = paper(300, 200);
    for (std::size_t k = 0; k < 6; ++k) {
      for (std::size_t r = 20 + 30 * k; r < 20 + 30 * k + width; ++r) {
        for (std::size_t c = 10; c < 200; ++c) im.pixels[r * 300 + c] = 0;  // across
      }
    }
    for (std::size_t r = 10; r < 190; ++r) {
      for (std::size_t c = 230; c < 230 + width; ++c) im.pixels[r * 300 + c] = 0;  // down
    }
    for (std::size_t r = 0; r < 200; ++r) {
      for (std::size_t c = 270; c < 300; ++c) im.pixels[r * 300 + c] = 20;  // the margin
    }
    const std::optional<double> found = median_stroke_width(im.view(), 128, false);
    ASSERT_TRUE(found.has_value());
    EXPECT_DOUBLE_EQ(*found, static_cast<double>(width));
    // The same inverted, as light ink.
    for (std::uint8_t& v : im.pixels) v = static_cast<std::uint8_t>(255 - v);
    EXPECT_DOUBLE_EQ(*median_stroke_width(im.view(), 128, true), static_cast<double>(width));
  }
  // Specks of noise on the paper and pinholes in the ink, one or two pixels each, are left
  // out: two thousand of them do not move the median of five wide strokes.
  Image noisy = paper(300, 200);
  for (std::size_t k = 0; k < 5; ++k) {
    for (std::size_t r = 20 + 35 * k; r < 31 + 35 * k; ++r) {
      for (std::size_t c = 10; c < 290; ++c) noisy.pixels[r * 300 + c] = 0;
    }
  }
  std::mt19937 rng(3);
  for (int k = 0; k < 2000; ++k) {
    const std::size_t r = 2 + rng() % 196;
    const std::size_t c = 2 + rng() % 294;
    const std::uint8_t v = noisy.pixels[r * 300 + c] == 0 ? 255 : 0;
    noisy.pixels[r * 300 + c] = v;
    if (k % 3 == 0) noisy.pixels[r * 300 + c + 1] = v;
  }
  EXPECT_NEAR(*median_stroke_width(noisy.view(), 128, false), 11.0, 1.0);
  // A filled disc alone: about its diameter (a digital disc has a few medial pixels near its
  // centre).
  Image disc = paper(41, 41);
  for (std::size_t r = 0; r < 41; ++r) {
    for (std::size_t c = 0; c < 41; ++c) {
      const double dx = static_cast<double>(c) - 20.0;
      const double dy = static_cast<double>(r) - 20.0;
      if (dx * dx + dy * dy <= 15.0 * 15.0) disc.pixels[r * 41 + c] = 0;
    }
  }
  EXPECT_NEAR(*median_stroke_width(disc.view(), 128, false), 30.0, 2.0);
  EXPECT_FALSE(median_stroke_width(paper(5, 5).view(), 128, false).has_value());
}

}  // namespace
}  // namespace linetopo
