// Private bindings of the tiled run's steps, for running tiles on other machines.
#pragma once

#include <pybind11/pybind11.h>

namespace linetopo::py_tiles {

// Adds _plan_tiles, _run_tile and _stitch to the module.
void register_tiles(pybind11::module_& m);

}  // namespace linetopo::py_tiles
