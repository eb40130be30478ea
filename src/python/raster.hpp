// The binding of scanned line art: a grey image traced and run as polygons, for linetopo.raster.
#pragma once

#include <pybind11/pybind11.h>

namespace linetopo::py_raster {

// Adds the submodule _raster with centerline(pixels, width, height, threshold, light_ink,
// feature_size, options).
void register_raster(pybind11::module_& m);

}  // namespace linetopo::py_raster
