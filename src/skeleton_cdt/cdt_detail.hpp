// The triangulation behind triangulate_contours, in one piece or split across the pool.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

#include "parallel/cancel.hpp"
#include "skeleton_cdt/skeleton_cdt.hpp"

namespace linetopo::cdt_detail {

inline constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();

// Per returned triangle, the returned triangle across its edge i (opposite vertex i), or kNone.
using Across = std::array<std::size_t, 3>;

// Per point, the lowest index of the points at its place (exactly equal coordinates, -0.0 and
// 0.0 alike). Fewer than 2^32 points.
std::vector<std::uint32_t> first_alike(const std::vector<Point>& points);

// Deterministic displacement by global index, by at most a hair, that breaks exact cocircular
// and collinear ties. Repeated coordinates (rings touching at a vertex) all take the displacement
// of their first index: displaced apart, one ring could poke through the other and the library
// would reject the polygon, while kept together they share one vertex.
void jitter(std::vector<Point>& points, const std::vector<std::vector<std::size_t>>& contours);

// The triangles inside the contours by the even-odd rule (contours need not be closed: each
// consecutive pair is an edge), counter-clockwise, a vertex named by the lowest index of the
// points at its place; nullopt when constraints cross. With `across`, each triangle's returned
// neighbours.
std::optional<std::vector<IndexTriangle>> triangulate_whole(
    const std::vector<Point>& points, const std::vector<std::vector<std::size_t>>& contours,
    std::vector<Across>* across, const CancelCheck& cancelled);

// The same triangles from `strips` vertical strips triangulated on the pool: in each strip the
// contours cut along the strip's sides, and kept the inside triangles whose circumcircle stays
// clear of the cuts, which every point and contour edge that could touch them decides alone; the
// inside triangles around the cuts come from one more triangulation of what the kept ones leave,
// bounded by their outline. Nothing when the pieces do not fit together (the caller then
// triangulates in one piece); nullopt inside when constraints cross.
std::optional<std::optional<std::vector<IndexTriangle>>> triangulate_split(
    const std::vector<Point>& points, const std::vector<std::vector<std::size_t>>& contours,
    std::size_t strips, std::vector<Across>* across, const CancelCheck& cancelled);

}  // namespace linetopo::cdt_detail
