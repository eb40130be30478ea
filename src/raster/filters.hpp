// Separable filters over a field of floats: a Gaussian blur and the maximum over a square.
#pragma once

#include <cstddef>
#include <vector>

#include "parallel/cancel.hpp"
#include "raster/grid.hpp"

namespace linetopo {

// How many cells a Gaussian of deviation `sigma` cells reaches beyond its centre: ceil(3 sigma),
// 0 for sigma 0, saturated far beyond any raster.
double gaussian_reach(double sigma);

// The weights of a sampled Gaussian of deviation `sigma` cells, from the centre out to
// gaussian_reach(sigma) cells, summing to one over both sides; sigma 0 gives the single weight 1.
std::vector<double> gaussian_weights(double sigma);

// Blurs the field (width x height, row-major) with gaussian_weights(sigma) along rows and then
// columns, zero beyond the border, in floats. Rows in blocks on the pool; `scratch` is resized
// and overwritten.
void gaussian_blur(FloatRaster& field, std::size_t width, std::size_t height, double sigma,
                   FloatRaster& scratch, const CancelCheck& cancelled = {});

// Into `out`, the maximum of the field over the square of half-side `reach` cells around each
// cell, in time independent of the reach (van Herk, Gil and Werman), rows and then columns on the
// pool. `out` and `scratch` are resized and overwritten.
void square_maximum(const FloatRaster& field, std::size_t width, std::size_t height,
                    std::size_t reach, FloatRaster& out, FloatRaster& scratch,
                    const CancelCheck& cancelled = {});

}  // namespace linetopo
