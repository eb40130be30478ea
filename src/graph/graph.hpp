// The skeleton graph, its clean-up stages and chain extraction.
#pragma once

#include <cstddef>
#include <utility>

#include "geometry/geometry.hpp"

namespace linetopo {

using Edge = std::pair<std::size_t, std::size_t>;

struct Graph {
  std::vector<Point> nodes;
  std::vector<Edge> edges;  // undirected, each stored once
};

struct Chain {
  std::vector<Point> points;
  std::size_t start = 0;
  std::size_t end = 0;
  bool start_is_tip = false;
  bool end_is_tip = false;
};

Graph segments_to_graph(const std::vector<Segment>& segments, double cell_size);
Graph merge_close_junctions(const Graph& graph, double merge_distance);
Graph prune_short_tips(const Graph& graph, double min_tip_length);
std::vector<Chain> extract_chains(const Graph& graph);

}  // namespace linetopo
