// Chain finishing: Taubin smoothing with fixed ends, tip straightening and simplification.
#include "chains/chains.hpp"
#include "geometry/rdp.hpp"

namespace linetopo {
namespace {

constexpr std::size_t kTaubinIterations = 3;
constexpr double kTaubinLambda = 0.5;
constexpr double kTaubinMu = -0.53;

// One simultaneous half-step: every interior point moves towards (or away from) the mean of its
// neighbours as they were before the step.
void taubin_step(std::vector<Point>& work, std::vector<Point>& snapshot, double factor) {
  snapshot = work;
  for (std::size_t j = 1; j + 1 < work.size(); ++j) {
    const Point& prev = snapshot[j - 1];
    const Point& cur = snapshot[j];
    const Point& next = snapshot[j + 1];
    work[j].x = cur.x + factor * ((prev.x + next.x) * 0.5 - cur.x);
    work[j].y = cur.y + factor * ((prev.y + next.y) * 0.5 - cur.y);
  }
}

// Moves m halfway onto the line through a and b; a zero-length reference leaves it alone.
Point straighten_end(const Point& m, const Point& b, const Point& a) {
  const Point h{b.x - a.x, b.y - a.y};
  const double len2 = h.x * h.x + h.y * h.y;
  if (len2 == 0.0) return m;
  const double t = (h.x * (m.x - b.x) + h.y * (m.y - b.y)) / len2;
  return Point{(m.x + (b.x + h.x * t)) * 0.5, (m.y + (b.y + h.y * t)) * 0.5};
}

}  // namespace

std::vector<Point> smooth_chain_taubin(const std::vector<Point>& points, std::size_t iterations,
                                       double lambda, double mu) {
  std::vector<Point> work = points;
  if (work.size() < 3) return work;
  std::vector<Point> snapshot;
  for (std::size_t it = 0; it < iterations; ++it) {
    taubin_step(work, snapshot, lambda);
    taubin_step(work, snapshot, mu);
  }
  return work;
}

FinishedChain finish_chain(const Chain& chain, double simplification) {
  std::vector<Point> pts =
      smooth_chain_taubin(chain.points, kTaubinIterations, kTaubinLambda, kTaubinMu);
  const std::size_t n = pts.size();
  // End before start: on three points the start uses the end as already straightened.
  if (chain.end_is_tip && n >= 3) pts[n - 1] = straighten_end(pts[n - 1], pts[n - 2], pts[n - 3]);
  if (chain.start_is_tip && n >= 3) pts[0] = straighten_end(pts[0], pts[1], pts[2]);
  if (simplification > 0.0) pts = rdp(pts, simplification);
  return FinishedChain{std::move(pts), chain.start, chain.end};
}

}  // namespace linetopo
