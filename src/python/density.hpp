// The binding of density_centerline: a map of the streets many GPS traces follow.
#pragma once

#include <pybind11/pybind11.h>

namespace linetopo::py_density {

// Adds density_centerline(curves, feature_size, *, cell, sigma, radius, relative, min_count,
// **options) to the module.
void register_density(pybind11::module_& m);

}  // namespace linetopo::py_density
