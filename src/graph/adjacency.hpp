// Adjacency lists over a graph's nodes, shared by its clean-up and its cutting into chains.
#pragma once

#include <cstddef>
#include <limits>
#include <vector>

#include "graph/graph.hpp"

namespace linetopo::graph_detail {

inline constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();

// Throws InternalError when an edge names a node the graph does not have.
void check_edges(const Graph& graph);

// Flat adjacency lists: node v's entries are items[offset[v]] .. items[offset[v + 1] - 1].
struct Adjacency {
  std::vector<std::size_t> offset;
  std::vector<std::size_t> items;

  std::size_t degree(std::size_t v) const { return offset[v + 1] - offset[v]; }
  std::size_t at(std::size_t v, std::size_t k) const { return items[offset[v] + k]; }
};

// Lists over n nodes from for_each_entry(emit), which calls emit(node, item) for every entry in
// order; it runs twice, once to count and once to fill.
template <typename ForEachEntry>
void build_lists(std::size_t n, const ForEachEntry& for_each_entry, Adjacency& lists) {
  lists.offset.assign(n + 1, 0);
  for_each_entry([&](std::size_t v, std::size_t) { ++lists.offset[v + 1]; });
  for (std::size_t v = 0; v < n; ++v) lists.offset[v + 1] += lists.offset[v];
  lists.items.resize(lists.offset[n]);
  std::vector<std::size_t> cursor(lists.offset.begin(), lists.offset.end() - 1);
  for_each_entry([&](std::size_t v, std::size_t item) { lists.items[cursor[v]++] = item; });
}

// Neighbours in edge-list order: an edge (a, b) appends b to a's list and a to b's list (a
// self-edge thus appears twice in its node's list). Edges must already be checked.
Adjacency build_neighbours(const Graph& graph);

// The edge ids in the layout of build_neighbours: entry k of node v's list is the edge that
// build_neighbours' entry k of v comes from.
Adjacency build_edge_ids(const Graph& graph);

}  // namespace linetopo::graph_detail
