// Cuts a graph into chains: maximal paths between nodes whose degree is not 2, then loops.
#include <algorithm>
#include <limits>
#include <utility>

#include "graph/adjacency.hpp"
#include "graph/graph.hpp"

namespace linetopo {

using graph_detail::Adjacency;
using graph_detail::build_edge_ids;
using graph_detail::build_neighbours;
using graph_detail::check_edges;
using graph_detail::kNone;

std::vector<Chain> extract_chains(const Graph& graph) {
  ChainLists lists = extract_chain_lists(graph);
  std::vector<Chain> chains = std::move(lists.open);
  chains.insert(chains.end(), std::make_move_iterator(lists.loops.begin()),
                std::make_move_iterator(lists.loops.end()));
  return chains;
}

ChainLists extract_chain_lists(const Graph& graph) {
  check_edges(graph);
  const std::size_t n = graph.nodes.size();
  const Adjacency adj = build_neighbours(graph);
  const Adjacency ids = build_edge_ids(graph);
  // By edge: edges are distinct node pairs, so this is the pair (a, b) seen either way round.
  std::vector<char> visited(graph.edges.size(), 0);
  const auto visit = [&](std::size_t v, std::size_t k) {
    char& seen = visited[ids.at(v, k)];
    return std::exchange(seen, char{1}) == 0;
  };
  ChainLists lists;
  std::vector<Chain>* chains = &lists.open;

  const auto trace = [&](std::size_t s, std::size_t k) {
    if (!visit(s, k)) return;
    const std::size_t first = adj.at(s, k);
    Chain chain;
    chain.points = {graph.nodes[s], graph.nodes[first]};
    std::size_t prev = s;
    std::size_t cur = first;
    while (adj.degree(cur) == 2) {
      const std::size_t j = adj.at(cur, 0) == prev ? 1 : 0;
      const std::size_t next = adj.at(cur, j);
      if (next == prev) break;
      // A visited edge here is the loop closing at its start.
      if (!visit(cur, j)) break;
      chain.points.push_back(graph.nodes[next]);
      prev = cur;
      cur = next;
    }
    chain.start = s;
    chain.end = cur;
    chain.start_is_tip = adj.degree(s) == 1;
    chain.end_is_tip = adj.degree(cur) == 1;
    chains->push_back(std::move(chain));
  };

  for (std::size_t s = 0; s < n; ++s) {
    if (adj.degree(s) == 0 || adj.degree(s) == 2) continue;
    for (std::size_t k = 0; k < adj.degree(s); ++k) trace(s, k);
  }
  // Only closed loops of degree-2 nodes are left; each starts at its lowest node.
  chains = &lists.loops;
  for (std::size_t s = 0; s < n; ++s) {
    for (std::size_t k = 0; k < adj.degree(s); ++k) trace(s, k);
  }
  return lists;
}

}  // namespace linetopo
