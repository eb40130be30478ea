// Adjacency lists over a graph's nodes.
#include "graph/adjacency.hpp"

namespace linetopo::graph_detail {

void check_edges(const Graph& graph) {
  const std::size_t n = graph.nodes.size();
  for (const auto& [a, b] : graph.edges) {
    check_index(a, n, "graph edge node");
    check_index(b, n, "graph edge node");
  }
}

// Neighbours in edge-list order: an edge (a, b) appends b to a's list and a to b's list (a
// self-edge thus appears twice in its node's list). Edges must already be checked.
Adjacency build_neighbours(const Graph& graph) {
  Adjacency adj;
  build_lists(
      graph.nodes.size(),
      [&](const auto& emit) {
        for (const auto& [a, b] : graph.edges) {
          emit(a, b);
          emit(b, a);
        }
      },
      adj);
  return adj;
}

// The edge ids in the layout of build_neighbours: entry k of node v's list is the edge that
// build_neighbours' entry k of v comes from.
Adjacency build_edge_ids(const Graph& graph) {
  Adjacency ids;
  build_lists(
      graph.nodes.size(),
      [&](const auto& emit) {
        for (std::size_t id = 0; id < graph.edges.size(); ++id) {
          emit(graph.edges[id].first, id);
          emit(graph.edges[id].second, id);
        }
      },
      ids);
  return ids;
}

}  // namespace linetopo::graph_detail
