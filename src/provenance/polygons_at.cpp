// Point in polygon for many points and polygons at once, through horizontal bands of edges.
#include "provenance/polygons_at.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "parallel/parallel.hpp"

namespace linetopo {
namespace {

// About this many edges per band on average, so that a ray reads few; but bands no thinner than
// keeps the listing of tall edges in every band they reach within this many entries per edge.
constexpr double kEdgesPerBand = 4.0;
constexpr double kEntriesPerEdge = 16.0;
constexpr std::size_t kMaxBands = std::size_t{1} << 20;

struct Edge {
  Point a, b;
  std::size_t polygon = 0;
};

void check_finite(const Ring& ring, std::size_t polygon, const char* what) {
  for (std::size_t k = 0; k < ring.size(); ++k) {
    if (!is_finite(ring[k])) {
      throw_not_finite(ring[k], "polygon " + std::to_string(polygon) + ", " + what + ", point " +
                                    std::to_string(k));
    }
  }
}

}  // namespace

std::vector<std::vector<std::size_t>> polygons_at(const std::vector<Point>& points,
                                                  const std::vector<BufferPolygon>& polygons) {
  for (std::size_t i = 0; i < points.size(); ++i) {
    if (!is_finite(points[i])) throw_not_finite(points[i], "point " + std::to_string(i));
  }
  std::vector<Edge> edges;
  for (std::size_t p = 0; p < polygons.size(); ++p) {
    check_finite(polygons[p].outer, p, "outer ring");
    for (const Ring& hole : polygons[p].holes) check_finite(hole, p, "hole");
    const auto add = [&](const Ring& ring) {
      for (std::size_t k = 0; k < ring.size(); ++k) {
        const Point& a = ring[k];
        const Point& b = ring[(k + 1) % ring.size()];
        if (a.y != b.y) edges.push_back({a, b, p});  // a level edge crosses no ray
      }
    };
    add(polygons[p].outer);
    for (const Ring& hole : polygons[p].holes) add(hole);
  }
  std::vector<std::vector<std::size_t>> out(points.size());
  if (edges.empty()) return out;

  double y0 = edges[0].a.y, y1 = y0, rise = 0.0;
  for (const Edge& e : edges) {
    y0 = std::min({y0, e.a.y, e.b.y});
    y1 = std::max({y1, e.a.y, e.b.y});
    rise += std::fabs(e.b.y - e.a.y);
  }
  const auto count = static_cast<double>(edges.size());
  // An edge rising dy lies in about dy / height + 1 bands.
  const double most = (kEntriesPerEdge - 1.0) * count * (y1 - y0) / rise;
  const auto bands = static_cast<std::size_t>(std::clamp(std::min(count / kEdgesPerBand, most),
                                                         1.0, static_cast<double>(kMaxBands)));
  const double height = (y1 - y0) / static_cast<double>(bands);
  const auto band_of = [&](double y) {
    const double b = height > 0.0 ? std::floor((y - y0) / height) : 0.0;
    return static_cast<std::size_t>(std::clamp(b, 0.0, static_cast<double>(bands - 1)));
  };
  // Each edge listed in every band its y range reaches, by counting.
  std::vector<std::size_t> start(bands + 1, 0);
  for (const Edge& e : edges) {
    for (std::size_t b = band_of(std::min(e.a.y, e.b.y)); b <= band_of(std::max(e.a.y, e.b.y));
         ++b) {
      ++start[b + 1];
    }
  }
  for (std::size_t b = 0; b < bands; ++b) start[b + 1] += start[b];
  std::vector<std::size_t> listed(start.back());
  std::vector<std::size_t> fill(start.begin(), start.end() - 1);
  for (std::size_t i = 0; i < edges.size(); ++i) {
    const Edge& e = edges[i];
    for (std::size_t b = band_of(std::min(e.a.y, e.b.y)); b <= band_of(std::max(e.a.y, e.b.y));
         ++b) {
      listed[fill[b]++] = i;
    }
  }

  parallel_for(points.size(), [&](std::size_t i) {
    const Point& q = points[i];
    if (q.y < y0 || q.y > y1) return;
    // The polygons whose edges the ray to the right crosses, once per crossing.
    std::vector<std::size_t> crossed;
    const std::size_t b = band_of(q.y);
    for (std::size_t k = start[b]; k < start[b + 1]; ++k) {
      const Edge& e = edges[listed[k]];
      if ((e.a.y > q.y) != (e.b.y > q.y) &&
          q.x < e.a.x + (q.y - e.a.y) * (e.b.x - e.a.x) / (e.b.y - e.a.y)) {
        crossed.push_back(e.polygon);
      }
    }
    std::sort(crossed.begin(), crossed.end());
    for (std::size_t k = 0; k < crossed.size();) {
      std::size_t end = k;
      while (end < crossed.size() && crossed[end] == crossed[k]) ++end;
      if ((end - k) % 2 == 1) out[i].push_back(crossed[k]);
      k = end;
    }
  });
  return out;
}

}  // namespace linetopo
