// A topology as every entry point returns it, and the numbering of its nodes.
#pragma once

#include <cstddef>
#include <unordered_map>
#include <utility>
#include <vector>

#include "geometry/geometry.hpp"

namespace linetopo {

struct TopologyResult {
  std::vector<Polyline> chains;
  std::vector<Point> nodes;
  std::vector<std::pair<std::size_t, std::size_t>> chain_node_ids;
  Widths widths;
};

// Output node ids for a result's chains: graph nodes numbered in the order the chains first reach
// them, each node placed at the chain end that first reached it.
class NodeNumbering {
 public:
  explicit NodeNumbering(std::vector<Point>& nodes, std::size_t expected = 0) : nodes_(nodes) {
    table_.reserve(expected);
  }

  std::size_t operator()(std::size_t graph_node, const Point& position) {
    const auto [it, inserted] = table_.try_emplace(graph_node, nodes_.size());
    if (inserted) nodes_.push_back(position);
    return it->second;
  }

 private:
  std::vector<Point>& nodes_;
  std::unordered_map<std::size_t, std::size_t> table_;  // looked up only
};

}  // namespace linetopo
