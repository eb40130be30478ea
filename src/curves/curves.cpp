// Joins curves whose end points share a grid cell into longer curves, and thins dense points.
#include "curves/curves.hpp"

#include <cstdint>
#include <deque>
#include <string>
#include <unordered_map>

#include "geometry/keys.hpp"

namespace linetopo {
namespace {

struct EndpointEntry {
  std::size_t curve = 0;
  bool is_last = false;
};

using EndpointMap = std::unordered_map<CellKey, std::vector<EndpointEntry>, KeyHash>;

CellKey cell_of(const Point& p, double inv) {
  return {round_half_away_i64(p.x * inv), round_half_away_i64(p.y * inv)};
}

// The radii a curve carries into a chain: its own entry when usable, else the uniform radius.
std::vector<double> radii_of(const std::vector<Polyline>& curves,
                             const std::optional<Widths>& widths, std::size_t i,
                             double buffer_distance) {
  const std::size_t n = curves[i].size();
  if (widths && i < widths->size() && !(*widths)[i].empty()) {
    const std::vector<double>& entry = (*widths)[i];
    if (entry.size() != n) {
      throw InternalError("merge_connected: widths entry " + std::to_string(i) + " has " +
                          std::to_string(entry.size()) + " values for " + std::to_string(n) +
                          " points");
    }
    return entry;
  }
  return std::vector<double>(n, buffer_distance);
}

// The free curve that continues the chain through the cell of `end`, if the cell is a joint.
std::optional<EndpointEntry> next_at(const EndpointMap& map, const Point& end, double inv,
                                     const std::vector<bool>& joined) {
  const auto it = map.find(cell_of(end, inv));
  if (it == map.end() || it->second.size() != 2) return std::nullopt;
  const EndpointEntry& a = it->second[0];
  const EndpointEntry& b = it->second[1];
  const bool a_joined = joined[check_index(a.curve, joined.size(), "merge_connected curve")];
  const bool b_joined = joined[check_index(b.curve, joined.size(), "merge_connected curve")];
  if (a_joined == b_joined) return std::nullopt;
  return a_joined ? b : a;
}

}  // namespace

MergedCurves merge_connected(const std::vector<Polyline>& curves,
                             const std::optional<Widths>& widths, double buffer_distance,
                             double merge_tolerance) {
  const double inv = merge_tolerance > 0.0 ? 1.0 / merge_tolerance : 1e9;
  const bool with_widths = widths.has_value();

  EndpointMap map;
  for (std::size_t i = 0; i < curves.size(); ++i) {
    if (curves[i].size() < 2) continue;
    map[cell_of(curves[i].front(), inv)].push_back({i, false});
    map[cell_of(curves[i].back(), inv)].push_back({i, true});
  }

  MergedCurves out;
  if (with_widths) out.widths.emplace();
  std::vector<bool> joined(curves.size(), false);

  for (std::size_t start = 0; start < curves.size(); ++start) {
    if (joined[start] || curves[start].size() < 2) continue;
    joined[start] = true;
    std::deque<Point> pts(curves[start].begin(), curves[start].end());
    std::deque<double> rad;
    if (with_widths) {
      const std::vector<double> r = radii_of(curves, widths, start, buffer_distance);
      rad.assign(r.begin(), r.end());
    }

    // Joins free curves at one end of the chain. At every joint the chain keeps its own point and
    // the joined curve's coinciding end is dropped; in front, points go on nearest the chain first.
    const auto extend = [&](bool at_back) {
      while (const auto c = next_at(map, at_back ? pts.back() : pts.front(), inv, joined)) {
        joined[c->curve] = true;
        const Polyline& q = curves[c->curve];
        const std::vector<double> r = with_widths
                                          ? radii_of(curves, widths, c->curve, buffer_distance)
                                          : std::vector<double>{};
        const std::size_t n = q.size();
        for (std::size_t k = 1; k < n; ++k) {
          const std::size_t j = c->is_last ? n - 1 - k : k;
          if (at_back) {
            pts.push_back(q[j]);
            if (with_widths) rad.push_back(r[j]);
          } else {
            pts.push_front(q[j]);
            if (with_widths) rad.push_front(r[j]);
          }
        }
      }
    };
    extend(true);
    extend(false);

    out.curves.emplace_back(pts.begin(), pts.end());
    if (with_widths) out.widths->emplace_back(rad.begin(), rad.end());
  }

  for (std::size_t i = 0; i < curves.size(); ++i) {
    if (joined[i] || curves[i].size() != 1) continue;
    out.curves.push_back(curves[i]);
    if (with_widths) out.widths->push_back(radii_of(curves, widths, i, buffer_distance));
  }
  return out;
}

Polyline decimate_curve(const Polyline& points, double spacing) {
  const std::size_t n = points.size();
  if (n <= 2) return points;
  const double min_d2 = spacing * spacing;
  Polyline out;
  out.push_back(points.front());
  Point last = points.front();
  for (std::size_t i = 1; i + 1 < n; ++i) {
    // A NaN distance fails the comparison, so such a point is dropped.
    if (dist2(last, points[i]) >= min_d2) {
      out.push_back(points[i]);
      last = points[i];
    }
  }
  out.push_back(points.back());
  return out;
}

std::vector<Polyline> decimate_curves(const std::vector<Polyline>& curves, bool has_widths,
                                      double spacing) {
  // Curves with radii keep every point so the radii stay aligned with them.
  if (has_widths) return curves;
  std::vector<Polyline> out;
  out.reserve(curves.size());
  for (const Polyline& c : curves) out.push_back(decimate_curve(c, spacing));
  return out;
}

}  // namespace linetopo
