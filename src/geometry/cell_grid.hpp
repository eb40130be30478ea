// Segments listed per cell of a square grid, so that only segments that share a cell are paired:
// the sweep behind the simplicity and ring-crossing checks, in about the segments' count.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace linetopo {

// The cells a segment's box covers, counted from the grid's corner: [lo_x, hi_x] x [lo_y, hi_y].
struct CellSpan {
  std::uint32_t lo_x, lo_y, hi_x, hi_y;
};

// Every item once per cell its span covers, grouped by cell: cells by row, then by column, and
// within a cell items in ascending order. runs[c] is where cell c's items start, and its last
// entry the end of all.
struct CellRuns {
  struct Entry {
    std::uint32_t x, y, item;
  };
  std::vector<Entry> entries;
  std::vector<std::size_t> runs;
};

// Counting-sorts the entries by row and each row by column, so the cost grows with the entries,
// not with the log of their count. Every span's hi_y must be below `rows`.
CellRuns cell_runs(const std::vector<CellSpan>& spans, std::uint32_t rows);

// Whether segment j's pair with segment i (both in the cell at x, y) is seen there for the first
// time: in the first cell, by row then column, that both spans reach.
inline bool first_shared_cell(const CellSpan& a, const CellSpan& b, std::uint32_t x,
                              std::uint32_t y) {
  return (a.lo_x > b.lo_x ? a.lo_x : b.lo_x) == x && (a.lo_y > b.lo_y ? a.lo_y : b.lo_y) == y;
}

}  // namespace linetopo
