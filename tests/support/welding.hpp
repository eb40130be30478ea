// The graph of loose segments welded in order, each end its own point.
#pragma once

#include <span>
#include <vector>

#include "graph/graph.hpp"

namespace linetopo {

inline Graph segments_to_graph(const std::vector<Segment>& segments, double cell_size) {
  Skeleton all;
  all.points.reserve(2 * segments.size());
  for (const Segment& s : segments) {
    all.points.push_back(s.a);
    all.points.push_back(s.b);
    all.segments.emplace_back(all.points.size() - 2, all.points.size() - 1);
  }
  const std::vector<char> crowded(all.points.size(), 1);  // all set is always right
  return weld_skeletons(std::span(&all, 1), std::span(&crowded, 1), cell_size);
}

}  // namespace linetopo
