// Tiling: curves split with a halo, chains clipped to cores, pieces stitched across borders.
#include <gtest/gtest.h>

#include "tiles/tiles.hpp"

namespace linetopo {
namespace {

TEST(Tiles, CurvesAreCutAtTheHaloWithRadiiInterpolated) {
  TileGrid grid = make_grid({{{0.0, 5.0}, {30.0, 5.0}}}, 10.0);
  EXPECT_EQ(grid.origin_x, -10.0 * kGridOffset);
  grid.origin_x = 0.0;
  grid.origin_y = 0.0;
  // One line through columns 0 to 2 of row 0; the ends reach columns -1 and 3 as well, while
  // rows -1 and 1 are within the halo but beyond the reach.
  const auto tiles =
      split_into_tiles({{{0.0, 5.0}, {30.0, 5.0}}}, Widths{{{1.0, 4.0}}}, grid, 1.0, 2.0);
  ASSERT_EQ(tiles.size(), 5u);
  const TileCurves& middle = tiles[2];
  EXPECT_EQ(middle.col, 1);
  EXPECT_EQ(middle.row, 0);
  ASSERT_EQ(middle.curves.size(), 1u);
  EXPECT_EQ(middle.curves[0], (Polyline{{8.0, 5.0}, {22.0, 5.0}}));
  ASSERT_TRUE(middle.widths);
  EXPECT_DOUBLE_EQ((*middle.widths)[0][0], 1.8);
  EXPECT_DOUBLE_EQ((*middle.widths)[0][1], 3.2);
  EXPECT_THROW(make_grid({}, 0.0), InputError);
}

TEST(Tiles, ChainsAreClippedToTheCoreWithCutsOnTheBorder) {
  std::vector<CorePiece> pieces;
  // In, out and back in: two pieces; the chain's own ends are not cuts.
  clip_chains_to_core({{{2.0, 2.0}, {12.0, 2.0}, {12.0, 8.0}, {3.0, 8.0}}}, {},
                      Box{0.0, 0.0, 10.0, 10.0}, pieces);
  ASSERT_EQ(pieces.size(), 2u);
  EXPECT_EQ(pieces[0].points, (Polyline{{2.0, 2.0}, {10.0, 2.0}}));
  EXPECT_FALSE(pieces[0].start_cut);
  EXPECT_TRUE(pieces[0].end_cut);
  EXPECT_EQ(pieces[1].points, (Polyline{{10.0, 8.0}, {3.0, 8.0}}));
  EXPECT_TRUE(pieces[1].start_cut);
  EXPECT_FALSE(pieces[1].end_cut);
}

TEST(Tiles, StitchingJoinsCutsAndDropsStubs) {
  const TileGrid grid{0.0, 0.0, 10.0};
  // A line crossing x = 10, seen a little differently by its two tiles, into a junction just
  // right of the border; the left tile placed one of its arms across the border, which leaves the
  // right tile with a short stub from the border to the junction.
  std::vector<CorePiece> pieces = {
      {{{2.0, 5.0}, {10.0, 5.1}}, {}, false, true},
      {{{10.0, 4.9}, {10.3, 5.0}}, {}, true, false},
      {{{10.3, 5.0}, {18.0, 5.0}}, {}, false, false},
      {{{10.3, 5.0}, {10.3, 9.0}}, {}, false, false},
      {{{10.0, 5.6}, {10.3, 5.0}}, {}, true, false},
  };
  const TopologyResult r = stitch_pieces(pieces, grid, 0.5);
  ASSERT_EQ(r.chains.size(), 3u);
  ASSERT_EQ(r.nodes.size(), 4u);
  int through = 0;
  for (const Polyline& c : r.chains) {
    for (const Point& p : c) through += p == Point{10.0, 5.0};
  }
  EXPECT_EQ(through, 1);  // the paired cut ends became one interior point
  // Nothing longer than twice the tolerance is dropped.
  pieces.back().points = {{10.0, 5.6}, {11.5, 7.0}, {10.3, 5.0}};
  EXPECT_EQ(stitch_pieces(pieces, grid, 0.5).chains.size(), 4u);
}

// A segment two tiles both hold (a chain along a corner both cores reach) is one edge.
TEST(Tiles, StitchingKeepsASegmentTwoTilesHoldOnce) {
  const TileGrid grid{0.0, 0.0, 10.0};
  const CorePiece along{{{10.0, 2.0}, {10.0, 6.0}, {14.0, 6.0}}, {}, false, false};
  const CorePiece twice{{{10.0, 2.0}, {10.0, 6.0}}, {}, false, false};
  const TopologyResult once = stitch_pieces({along}, grid, 0.5);
  const TopologyResult r = stitch_pieces({along, twice}, grid, 0.5);
  EXPECT_EQ(r.chains, once.chains);
  EXPECT_EQ(r.chain_node_ids, once.chain_node_ids);
}

}  // namespace
}  // namespace linetopo
