// Counting sort of segments into grid cells.
#include "geometry/cell_grid.hpp"

#include <algorithm>

#include "geometry/geometry.hpp"

namespace linetopo {

CellRuns cell_runs(const std::vector<CellSpan>& spans, std::uint32_t rows) {
  std::vector<std::size_t> row_start(static_cast<std::size_t>(rows) + 1, 0);
  for (const CellSpan& s : spans) {
    if (s.hi_y >= rows || s.lo_y > s.hi_y || s.lo_x > s.hi_x) {
      throw InternalError("internal error: a cell span outside the grid");
    }
    const std::size_t width = s.hi_x - s.lo_x + 1;
    for (std::uint32_t y = s.lo_y; y <= s.hi_y; ++y) row_start[y + 1] += width;
  }
  for (std::size_t r = 0; r < rows; ++r) row_start[r + 1] += row_start[r];
  CellRuns out;
  out.entries.resize(row_start.back());
  std::uint32_t columns = 0;
  for (const CellSpan& s : spans) columns = std::max(columns, s.hi_x + 1);
  if (columns <= 4 * out.entries.size() + 1024) {
    // Two counting passes, by column and then stably by row: cells in order, each cell's items
    // ascending, in time linear in the entries.
    std::vector<std::size_t> column_start(static_cast<std::size_t>(columns) + 1, 0);
    for (const CellSpan& s : spans) {
      const std::size_t height = s.hi_y - s.lo_y + 1;
      for (std::uint32_t x = s.lo_x; x <= s.hi_x; ++x) column_start[x + 1] += height;
    }
    for (std::size_t c = 0; c < columns; ++c) column_start[c + 1] += column_start[c];
    std::vector<CellRuns::Entry> by_column(out.entries.size());
    for (std::size_t i = 0; i < spans.size(); ++i) {
      const CellSpan& s = spans[i];
      for (std::uint32_t x = s.lo_x; x <= s.hi_x; ++x) {
        for (std::uint32_t y = s.lo_y; y <= s.hi_y; ++y) {
          by_column[column_start[x]++] = {x, y, static_cast<std::uint32_t>(i)};
        }
      }
    }
    std::vector<std::size_t> fill(row_start.begin(), row_start.end() - 1);
    for (const CellRuns::Entry& e : by_column) out.entries[fill[e.y]++] = e;
  } else {
    std::vector<std::size_t> fill(row_start.begin(), row_start.end() - 1);
    for (std::size_t i = 0; i < spans.size(); ++i) {  // items ascending within each row
      const CellSpan& s = spans[i];
      for (std::uint32_t y = s.lo_y; y <= s.hi_y; ++y) {
        for (std::uint32_t x = s.lo_x; x <= s.hi_x; ++x) {
          out.entries[fill[y]++] = {x, y, static_cast<std::uint32_t>(i)};
        }
      }
    }
    for (std::size_t r = 0; r < rows; ++r) {
      // Stable by column keeps the items of each cell ascending.
      std::stable_sort(
          out.entries.begin() + static_cast<std::ptrdiff_t>(row_start[r]),
          out.entries.begin() + static_cast<std::ptrdiff_t>(row_start[r + 1]),
          [](const CellRuns::Entry& a, const CellRuns::Entry& b) { return a.x < b.x; });
    }
  }
  for (std::size_t k = 0; k < out.entries.size(); ++k) {
    if (k == 0 || out.entries[k].x != out.entries[k - 1].x ||
        out.entries[k].y != out.entries[k - 1].y) {
      out.runs.push_back(k);
    }
  }
  out.runs.push_back(out.entries.size());
  return out;
}

}  // namespace linetopo
