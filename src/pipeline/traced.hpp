// Traced outlines (marching squares' rings, nested into polygons) made ready for the pipeline.
#pragma once

#include <vector>

#include "geometry/geometry.hpp"
#include "parallel/cancel.hpp"
#include "pipeline/settings.hpp"

namespace linetopo {

// A traced outline has a point every pixel or so. Closer together than the weld tolerance, the
// points of a noisy outline make skeleton points that the weld joins across branches, into
// loops; so the rings are thinned to that spacing, as curves are thinned, and smoothed if noisy.
// A polygon whose rings then meet (where they nearly touched) is made valid by a union of its own.
// The polygons are consumed.
std::vector<BufferPolygon> thinned_outlines(std::vector<BufferPolygon> polygons, const Settings& s,
                                            const CancelCheck& cancelled = {});

}  // namespace linetopo
