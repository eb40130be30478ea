// Boundary preparation: ring simplification, subdivision, uniform and adaptive resampling.
#pragma once

#include <cstddef>
#include <optional>

#include "geometry/geometry.hpp"

namespace linetopo {

// Most boundary points one preparation step may create; far above any sensible input, it stops a
// tiny spacing or ratio from exhausting memory.
constexpr std::size_t kMaxBoundaryPoints = 50'000'000;

// Points already created by the current call and the option to blame when a step would pass
// kMaxBoundaryPoints.
struct PointBudget {
  const char* option = "spacing";
  std::size_t used = 0;
};

// Throws InputError naming budget.option when budget.used + count exceeds kMaxBoundaryPoints.
void check_point_budget(const PointBudget& budget, std::size_t count);

namespace detail {

// A non-negative double as an unsigned count: NaN and values <= 0 give 0, too large saturates.
std::size_t saturating_count(double v);

// a + b, saturating at the largest size_t.
std::size_t saturating_add(std::size_t a, std::size_t b);

// The ring with edge i cut into pieces[i] equal parts; total is the output size, already checked
// against the point budget.
Ring cut_edges(const Ring& ring, const std::vector<std::size_t>& pieces, std::size_t total);

}  // namespace detail

// Never fails on degenerate geometry; throws InputError when a setting would create more boundary
// points than kMaxBoundaryPoints.
std::vector<BufferPolygon> preprocess_boundaries(const std::vector<BufferPolygon>& polygons,
                                                 double feature_size, double buffer_distance,
                                                 std::optional<double> subdivision_ratio,
                                                 std::optional<double> resample,
                                                 std::optional<double> boundary_simplification);

// Cuts every edge longer than max_len (the closing edge too) into ceil(len / max_len) equal pieces.
Ring subdivide_ring(const Ring& ring, double max_len, const PointBudget& budget = {"max_len", 0});

}  // namespace linetopo
