// A raster of square cells laid over the plane, and a field of floats on it.
#pragma once

#include <cstddef>
#include <vector>

namespace linetopo {

// Cell (col, row) covers [origin_x + col * cell, origin_x + (col + 1) * cell) along x, and the
// same along y from origin_y; its value belongs to its centre.
struct CellLattice {
  double origin_x = 0.0;
  double origin_y = 0.0;
  double cell = 1.0;
  std::size_t width = 0;
  std::size_t height = 0;
  std::size_t size() const { return width * height; }
};

// Row-major values, one per cell of a lattice.
using FloatRaster = std::vector<float>;

}  // namespace linetopo
