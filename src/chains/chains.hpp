// Chain finishing: smoothing, tip straightening, simplification, and per-point widths.
#pragma once

#include <cstddef>
#include <vector>

#include "geometry/geometry.hpp"
#include "graph/graph.hpp"

namespace linetopo {

struct FinishedChain {
  std::vector<Point> points;
  std::size_t start = 0;
  std::size_t end = 0;
};

std::vector<Point> smooth_chain_taubin(const std::vector<Point>& points, std::size_t iterations,
                                       double lambda, double mu);
// Smooths the chain with its ends fixed, straightens tip ends and simplifies with rdp when
// simplification is positive.
FinishedChain finish_chain(const Chain& chain, double simplification);

}  // namespace linetopo
