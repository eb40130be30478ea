// One large triangulation in vertical strips on the pool, joined into the one-piece result.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>
#include <utility>

#include "geometry/keys.hpp"
#include "parallel/parallel.hpp"
#include "skeleton_cdt/cdt_detail.hpp"

namespace linetopo::cdt_detail {
namespace {

// A circle that comes closer to a cut than this share of its radius is left to the second
// triangulation: its centre is only as exact as floating point makes it.
constexpr double kCircleMargin = 1e-6;

constexpr std::uint32_t kUnset = std::numeric_limits<std::uint32_t>::max();

struct Slab {
  double lo, hi;  // -inf and +inf for the outer strips
};

// A strip's problem: its points (each with its index in the whole, or kNone for a point where a
// contour edge meets a cut) and the contours clipped to the strip, closed along its cuts.
struct Local {
  std::vector<Point> points;
  std::vector<std::size_t> whole;
  std::vector<std::vector<std::size_t>> contours;
};

struct Vertex {
  Point p;
  std::size_t whole;
};

// Sutherland-Hodgman against one side of the slab; where a ring leaves and enters again, the
// clipped ring runs along the cut and back, which cancels out under the even-odd rule.
std::vector<Vertex> clip(const std::vector<Vertex>& ring, double at, bool keep_right) {
  const auto inside = [&](const Vertex& v) { return keep_right ? v.p.x >= at : v.p.x <= at; };
  const auto cut = [&](const Vertex& a, const Vertex& b) {
    const double t = (at - a.p.x) / (b.p.x - a.p.x);
    return Vertex{{at, a.p.y + t * (b.p.y - a.p.y)}, kNone};
  };
  std::vector<Vertex> out;
  for (std::size_t i = 0; i < ring.size(); ++i) {
    const Vertex& prev = ring[(i + ring.size() - 1) % ring.size()];
    const Vertex& cur = ring[i];
    if (inside(cur)) {
      if (!inside(prev)) out.push_back(cut(prev, cur));
      out.push_back(cur);
    } else if (inside(prev)) {
      out.push_back(cut(prev, cur));
    }
  }
  return out;
}

// Each contour's least and greatest x.
std::vector<Slab> x_ranges(const std::vector<Point>& points,
                           const std::vector<std::vector<std::size_t>>& contours) {
  std::vector<Slab> ranges(contours.size());
  parallel_for(contours.size(), [&](std::size_t c) {
    Slab range{std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()};
    for (const std::size_t v : contours[c]) {
      range.lo = std::fmin(range.lo, points[v].x);
      range.hi = std::fmax(range.hi, points[v].x);
    }
    ranges[c] = range;
  });
  return ranges;
}

// Contours wholly outside the slab are passed over and those wholly inside taken as they are, so
// that a strip costs about what it holds.
Local clip_to_slab(const std::vector<Point>& points,
                   const std::vector<std::vector<std::size_t>>& contours,
                   const std::vector<Slab>& ranges, const Slab& slab) {
  Local out;
  std::vector<std::uint32_t> local_of(points.size(), kUnset);
  for (std::size_t c = 0; c < contours.size(); ++c) {
    const auto& contour = contours[c];
    if (ranges[c].hi < slab.lo || ranges[c].lo > slab.hi) continue;
    std::vector<Vertex> ring;
    const std::size_t m = contour.size() > 1 && contour.front() == contour.back()
                              ? contour.size() - 1
                              : contour.size();
    ring.reserve(m);
    for (std::size_t i = 0; i < m; ++i) ring.push_back({points[contour[i]], contour[i]});
    if (std::isfinite(slab.lo) && ranges[c].lo < slab.lo) ring = clip(ring, slab.lo, true);
    if (std::isfinite(slab.hi) && ranges[c].hi > slab.hi) ring = clip(ring, slab.hi, false);
    if (ring.size() < 3) continue;
    std::vector<std::size_t> local;
    for (const Vertex& v : ring) {
      if (v.whole == kNone) {
        local.push_back(out.points.size());
        out.points.push_back(v.p);
        out.whole.push_back(kNone);
        continue;
      }
      std::uint32_t& slot = local_of[v.whole];
      if (slot == kUnset) {
        slot = static_cast<std::uint32_t>(out.points.size());
        out.points.push_back(v.p);
        out.whole.push_back(v.whole);
      }
      local.push_back(slot);
    }
    local.push_back(local.front());
    out.contours.push_back(std::move(local));
  }
  return out;
}

// Whether the circumcircle of a, b, c lies inside the slab, clear of its cuts.
bool circle_inside(const Point& a, const Point& b, const Point& c, const Slab& slab) {
  const double bx = b.x - a.x, by = b.y - a.y, cx = c.x - a.x, cy = c.y - a.y;
  const double d = 2.0 * (bx * cy - by * cx);
  const double b2 = bx * bx + by * by, c2 = cx * cx + cy * cy;
  if (!(std::fabs(d) > 1e-12 * (b2 + c2))) return false;  // a sliver: left to the rest
  const double ux = (cy * b2 - by * c2) / d, uy = (bx * c2 - cx * b2) / d;
  const double r = std::hypot(ux, uy);
  const double centre = a.x + ux;
  const double margin = kCircleMargin * r + 1e-12 * std::fabs(a.x);
  return centre - r - margin > slab.lo && centre + r + margin < slab.hi;
}

}  // namespace

std::optional<std::optional<std::vector<IndexTriangle>>> triangulate_split(
    const std::vector<Point>& points, const std::vector<std::vector<std::size_t>>& contours,
    std::size_t strips, std::vector<Across>* across, const CancelCheck& cancelled) {
  const std::size_t n = points.size();
  if (strips < 2 || n >= std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
  // The lowest index at each place, as the one-piece triangulation names its vertices.
  const std::vector<std::uint32_t> rep = first_alike(points);
  // Cuts halfway between neighbouring distinct x, so that no point lies on one.
  std::vector<double> xs(n);
  for (std::size_t i = 0; i < n; ++i) xs[i] = points[i].x;
  parallel_sort(xs.begin(), xs.end(), std::less<>());
  xs.erase(std::unique(xs.begin(), xs.end()), xs.end());
  if (xs.size() < 4 * strips) return std::nullopt;
  std::vector<Slab> slabs(strips);
  double lo = -std::numeric_limits<double>::infinity();
  for (std::size_t k = 0; k < strips; ++k) {
    const std::size_t i = (k + 1) * xs.size() / strips;
    const double hi = k + 1 == strips ? std::numeric_limits<double>::infinity()
                                      : 0.5 * (xs[i - 1] + xs[i]);
    slabs[k] = {lo, hi};
    lo = hi;
  }

  // Each strip on its own, and the inside triangles it alone decides.
  std::vector<Local> locals(strips);
  std::vector<std::optional<std::vector<IndexTriangle>>> inside(strips);
  std::vector<std::vector<Across>> local_across(strips);
  const std::vector<Slab> ranges = x_ranges(points, contours);
  parallel_for(strips, [&](std::size_t k) {
    locals[k] = clip_to_slab(points, contours, ranges, slabs[k]);
    inside[k] = triangulate_whole(locals[k].points, locals[k].contours, &local_across[k],
                                  cancelled);
  });
  for (std::size_t k = 0; k < strips; ++k) {
    if (!inside[k]) return std::nullopt;  // the whole decides whether constraints cross
  }
  // The kept triangles, strip after strip in each one's order: marked and counted per strip on
  // the pool, then numbered.
  std::vector<std::vector<std::size_t>> kept_index(strips);  // per local triangle, or kNone
  std::vector<std::size_t> first_kept(strips + 1, 0);
  parallel_for(strips, [&](std::size_t k) {
    const Local& local = locals[k];
    kept_index[k].assign(inside[k]->size(), kNone);
    std::size_t kept = 0;
    for (std::size_t t = 0; t < inside[k]->size(); ++t) {
      const IndexTriangle& lt = (*inside[k])[t];
      if (local.whole[lt[0]] != kNone && local.whole[lt[1]] != kNone &&
          local.whole[lt[2]] != kNone &&
          circle_inside(local.points[lt[0]], local.points[lt[1]], local.points[lt[2]],
                        slabs[k])) {
        kept_index[k][t] = kept++;
      }
    }
    first_kept[k + 1] = kept;
  });
  for (std::size_t k = 0; k < strips; ++k) first_kept[k + 1] += first_kept[k];
  std::vector<IndexTriangle> out(first_kept.back());
  parallel_for(strips, [&](std::size_t k) {
    const Local& local = locals[k];
    for (std::size_t t = 0; t < inside[k]->size(); ++t) {
      std::size_t& g = kept_index[k][t];
      if (g == kNone) continue;
      g += first_kept[k];
      const IndexTriangle& lt = (*inside[k])[t];
      out[g] = {rep[local.whole[lt[0]]], rep[local.whole[lt[1]]], rep[local.whole[lt[2]]]};
    }
  });
  throw_if_cancelled(cancelled);
  std::vector<Across> links;

  // The kept triangles' neighbours: kept ones directly; across a contour edge none; the others
  // across the outline of the kept triangles, whose edges bound what is triangulated again.
  links.assign(out.size(), {kNone, kNone, kNone});
  // Per strip on the pool, in triangle order: the links between kept triangles, and the edges
  // of kept triangles along a contour and along the outline, each as 3 * triangle + edge.
  std::vector<std::vector<std::size_t>> contour_sides(strips), outline_sides(strips);
  parallel_for(strips, [&](std::size_t k) {
    for (std::size_t t = 0; t < inside[k]->size(); ++t) {
      const std::size_t g = kept_index[k][t];
      if (g == kNone) continue;
      for (std::size_t i = 0; i < 3; ++i) {
        const std::size_t other = local_across[k][t][i];
        if (other == kNone) {
          contour_sides[k].push_back(3 * g + i);
        } else if (kept_index[k][other] != kNone) {
          links[g][i] = kept_index[k][other];
        } else {
          outline_sides[k].push_back(3 * g + i);
        }
      }
    }
  });
  const auto ends = [&](std::size_t side) {
    const IndexTriangle& t = out[side / 3];
    return std::pair{t[(side % 3 + 1) % 3], t[(side % 3 + 2) % 3]};
  };
  // Contour edges beside a kept triangle: per vertex the other end of one, and a set for the
  // rare vertex with more (rings touching there).
  std::vector<std::uint32_t> kept_partner(n, kUnset);
  FlatSet<IndexPair> kept_contour;
  std::size_t outline_count = 0;
  for (std::size_t k = 0; k < strips; ++k) {
    outline_count += outline_sides[k].size();
    for (const std::size_t side : contour_sides[k]) {
      const auto [u, v] = ends(side);
      std::uint32_t& partner = kept_partner[u];
      if (partner == kUnset) {
        partner = static_cast<std::uint32_t>(v);
      } else {
        kept_contour.insert(index_pair(u, v));
      }
    }
  }
  FlatMap<IndexPair, std::size_t> outline(outline_count);  // looked up only
  std::vector<std::vector<std::size_t>> rest_contours;
  rest_contours.reserve(outline_count);
  for (std::size_t k = 0; k < strips; ++k) {
    for (const std::size_t side : outline_sides[k]) {
      const auto [u, v] = ends(side);
      if (!outline.try_emplace(index_pair(u, v), side).second) return std::nullopt;
      rest_contours.push_back({u, v});
    }
  }
  for (const auto& contour : contours) {
    for (std::size_t i = 0; i + 1 < contour.size(); ++i) {
      const std::size_t u = rep[contour[i]], v = rep[contour[i + 1]];
      const bool kept = kept_partner[u] == v || kept_partner[v] == u ||
                        (!kept_contour.empty() && kept_contour.find(index_pair(u, v)));
      if (u != v && !kept) rest_contours.push_back({u, v});
    }
  }
  // The rest: its points renumbered, triangulated in one piece.
  std::vector<std::uint32_t> rest_of(n, kUnset);
  std::vector<Point> rest_points;
  std::vector<std::size_t> rest_whole;
  for (auto& edge : rest_contours) {
    for (std::size_t& v : edge) {
      std::uint32_t& slot = rest_of[v];
      if (slot == kUnset) {
        slot = static_cast<std::uint32_t>(rest_points.size());
        rest_points.push_back(points[v]);
        rest_whole.push_back(v);
      }
      v = slot;
    }
  }
  std::vector<Across> rest_across;
  const auto rest = triangulate_whole(rest_points, rest_contours, &rest_across, cancelled);
  if (!rest) return std::nullopt;
  const std::size_t base = out.size();
  out.reserve(base + rest->size());
  links.reserve(base + rest->size());
  std::size_t joined = 0;
  for (std::size_t t = 0; t < rest->size(); ++t) {
    const IndexTriangle& rt = (*rest)[t];
    out.push_back({rep[rest_whole[rt[0]]], rep[rest_whole[rt[1]]], rep[rest_whole[rt[2]]]});
    Across link{kNone, kNone, kNone};
    for (std::size_t i = 0; i < 3; ++i) {
      if (rest_across[t][i] != kNone) {
        link[i] = base + rest_across[t][i];
        continue;
      }
      const IndexTriangle& w = out.back();
      const std::size_t* found = outline.find(index_pair(w[(i + 1) % 3], w[(i + 2) % 3]));
      if (found == nullptr) continue;  // a contour edge
      const std::size_t g = *found / 3, slot = *found % 3;
      if (links[g][slot] != kNone) return std::nullopt;  // two triangles beyond one edge
      links[g][slot] = base + t;
      link[i] = g;
      ++joined;
    }
    links.push_back(link);
  }
  if (joined != outline.size()) return std::nullopt;  // the pieces do not fit together
  if (across) *across = std::move(links);
  return std::optional<std::vector<IndexTriangle>>(std::move(out));
}

}  // namespace linetopo::cdt_detail
