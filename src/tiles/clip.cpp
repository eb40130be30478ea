// Clipping polylines to boxes, and a tile's chains to its core.
#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <utility>

#include "tiles/clip_lines.hpp"
#include "tiles/tiles.hpp"

namespace linetopo {

namespace tiles_detail {

// The parameter range [t0, t1] of the segment p -> q inside the closed box, if any.
std::optional<std::pair<double, double>> clip_segment(const Point& p, const Point& q,
                                                      const Box& b) {
  double t0 = 0.0;
  double t1 = 1.0;
  // Keeps the part where den * t <= num.
  const auto keep = [&](double num, double den) {
    if (den == 0.0) return num >= 0.0;
    const double t = num / den;
    if (den > 0.0) {
      t1 = std::min(t1, t);
    } else {
      t0 = std::max(t0, t);
    }
    return t0 <= t1;
  };
  const double dx = q.x - p.x;
  const double dy = q.y - p.y;
  if (keep(p.x - b.x0, -dx) && keep(b.x1 - p.x, dx) && keep(p.y - b.y0, -dy) &&
      keep(b.y1 - p.y, dy)) {
    return std::make_pair(t0, t1);
  }
  return std::nullopt;
}

}  // namespace tiles_detail

using tiles_detail::clip_polyline;

void clip_chains_to_core(const std::vector<Polyline>& chains, const Widths& widths, const Box& core,
                         std::vector<CorePiece>& out) {
  // Cores own their lower and left borders only, so that a chain running along a border is kept
  // by one tile, not two; a cut on the open border is put back onto the border itself.
  const double below_x1 = std::nextafter(core.x1, -std::numeric_limits<double>::infinity());
  const double below_y1 = std::nextafter(core.y1, -std::numeric_limits<double>::infinity());
  const Box open{core.x0, core.y0, below_x1, below_y1};
  const auto onto_border = [&](Point& p) {
    if (p.x == below_x1) p.x = core.x1;
    if (p.y == below_y1) p.y = core.y1;
  };
  for (std::size_t i = 0; i < chains.size(); ++i) {
    const std::vector<double>* radii = i < widths.size() ? &widths[i] : nullptr;
    if (radii && radii->size() != chains[i].size()) {
      throw InternalError("internal error: chain widths out of step with the chain");
    }
    const std::size_t first = out.size();
    clip_polyline(
        chains[i], radii, open,
        [&](Point p, double w, bool cut) {
          if (cut) onto_border(p);
          out.push_back(CorePiece{{p}, {}, cut, false});
          if (radii) out.back().widths.push_back(w);
        },
        [&](Point p, double w, bool cut) {
          if (cut) onto_border(p);
          out.back().points.push_back(p);
          if (radii) out.back().widths.push_back(w);
          out.back().end_cut = cut;
        });
    // A part that only touches the core at a point carries no line.
    out.erase(std::remove_if(out.begin() + static_cast<std::ptrdiff_t>(first), out.end(),
                             [](const CorePiece& piece) {
                               return piece.points.size() < 2 ||
                                      (piece.points.size() == 2 &&
                                       piece.points.front() == piece.points.back());
                             }),
              out.end());
  }
}

}  // namespace linetopo
