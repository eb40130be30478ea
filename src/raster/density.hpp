// How many curves pass through each cell of a lattice: the traffic of GPS traces.
#pragma once

#include <vector>

#include "geometry/geometry.hpp"
#include "parallel/cancel.hpp"
#include "raster/grid.hpp"

namespace linetopo {

// Per cell, the number of curves whose segments cross it (touching its closed square), each
// curve counted once however often it returns; parts outside the lattice are left out. Curves
// are counted in blocks on the pool; the counts do not depend on the thread count. `cancelled`
// is asked per block.
FloatRaster count_curves(const std::vector<Polyline>& curves, const CellLattice& lattice,
                         const CancelCheck& cancelled = {});

}  // namespace linetopo
