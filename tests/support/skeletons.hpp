// One polygon's triangles and skeleton segments, empty where the triangulation rejects it.
#pragma once

#include <vector>

#include "skeleton_cdt/skeleton_cdt.hpp"

namespace linetopo {

inline std::vector<Triangle> get_triangles(const Ring& outer, const std::vector<Ring>& holes) {
  return try_get_triangles(outer, holes).value_or(std::vector<Triangle>{});
}

// Each segment as its two points.
inline std::vector<Segment> segments_of(const Skeleton& skeleton) {
  std::vector<Segment> out;
  out.reserve(skeleton.segments.size());
  for (const auto& [a, b] : skeleton.segments) {
    out.push_back({skeleton.points.at(a), skeleton.points.at(b)});
  }
  return out;
}

inline std::vector<Segment> skeletonize(const Ring& outer, const std::vector<Ring>& holes) {
  const auto skeleton = try_skeleton(outer, holes);
  return skeleton ? segments_of(*skeleton) : std::vector<Segment>{};
}

}  // namespace linetopo
