// The skeleton graph, its clean-up stages and chain extraction.
#pragma once

#include <cstddef>
#include <functional>
#include <span>
#include <utility>

#include "geometry/geometry.hpp"
#include "skeleton_cdt/skeleton_cdt.hpp"

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

// The chains of extract_chains in its two lists: first those that start at an end or a junction,
// then the closed loops.
struct ChainLists {
  std::vector<Chain> open;
  std::vector<Chain> loops;
};

// Per skeleton point, whether another point's weld cell is its own or next to it; and whether
// all such pairs lie within one skeleton, so that welding each skeleton alone gives, node for
// node, what welding them together does.
struct WeldNeighbours {
  std::vector<std::vector<char>> crowded;
  bool apart = false;
};

WeldNeighbours weld_neighbours(std::span<const Skeleton> skeletons, double cell_size);
// The graph of the skeletons' segments welded in order, given their points' crowded flags (all
// set is always right).
Graph weld_skeletons(std::span<const Skeleton> skeletons,
                     std::span<const std::vector<char>> crowded, double cell_size);
Graph merge_close_junctions(const Graph& graph, double merge_distance);
// Removes tips (paths from a node of degree 1 to the nearest node of another degree) shorter
// than min_tip_length, pass after pass until none is left. With keep_components, a connected
// component that would lose every edge keeps its longest path instead: small shapes stay. With
// junction_reach, a tip that ends at a junction is measured from where it leaves the stroke
// there: its length less junction_reach at the junction (the stroke's half-width), so that a
// bump of the outline goes and a serif or crossbar that reaches past the stroke stays.
Graph prune_short_tips(const Graph& graph, double min_tip_length, bool keep_components = false,
                       const std::function<double(const Point&)>& junction_reach = {});
std::vector<Chain> extract_chains(const Graph& graph);
ChainLists extract_chain_lists(const Graph& graph);

}  // namespace linetopo
