// Offsets every curve with Clipper2, unites the shapes and sorts the rings into buffer polygons.
#include "inflate/inflate.hpp"

#include <clipper2/clipper.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>
#include <utility>

namespace linetopo {
namespace {

namespace c2 = Clipper2Lib;

constexpr double kIntegerScale = 1e6;  // per-vertex route: coordinates and radii in micro-units
constexpr int kPrecision = 6;          // decimal places of the uniform offset and of the union
constexpr double kArcToleranceFactor = 0.2;
constexpr double kUniformMiterLimit = 0.0;
constexpr double kVariableMiterLimit = 2.0;
constexpr double kRepeatDist2 = 1e-10;
constexpr double kMinHoleAreaFactor = 0.1;

std::string number_text(double v) {
  if (std::isnan(v)) return "nan";
  if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
  char buf[32];
  const auto res = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, res.ptr);
}

// Throws when v cannot be put on Clipper2's integer grid; `what` names the value.
void check_value(double v, const std::string& what) {
  if (!std::isfinite(v)) {
    throw InputError(what + " is " + number_text(v) + "; it must be a finite number");
  }
  if (std::fabs(v) > kMaxInflationMagnitude) {
    throw InputError(what + " is " + number_text(v) + "; its magnitude must be at most 1e12");
  }
}

std::string at(std::size_t curve, std::size_t point) {
  return " of curve " + std::to_string(curve) + ", point " + std::to_string(point);
}

bool has_radii(const std::optional<Widths>& widths, std::size_t i) {
  return widths && i < widths->size() && !(*widths)[i].empty();
}

double signed_area(const c2::PathD& p) {
  double twice = 0.0;
  const std::size_t n = p.size();
  for (std::size_t k = 0; k < n; ++k) {
    const c2::PointD& a = p[k];
    const c2::PointD& b = p[(k + 1) % n];
    twice += a.x * b.y - b.x * a.y;
  }
  return 0.5 * twice;
}

Ring without_repeats(const c2::PathD& p) {
  Ring r;
  r.reserve(p.size());
  for (const c2::PointD& q : p) {
    const Point pt{q.x, q.y};
    if (r.empty() || dist2(r.back(), pt) > kRepeatDist2) r.push_back(pt);
  }
  return r;
}

double open_length(const Ring& r) {
  double len = 0.0;
  for (std::size_t k = 1; k < r.size(); ++k) len += dist(r[k - 1], r[k]);
  return len;
}

// Even-odd ray casting towards +x.
bool inside(const Point& p, const Ring& ring) {
  bool in = false;
  const std::size_t n = ring.size();
  for (std::size_t i = 0, j = n - 1; i < n; j = i++) {
    const Point& a = ring[i];
    const Point& b = ring[j];
    if ((p.y < a.y) != (p.y < b.y) && p.x < a.x + (p.y - a.y) * (b.x - a.x) / (b.y - a.y)) {
      in = !in;
    }
  }
  return in;
}

struct OuterCandidate {
  Ring ring;
  double length = 0.0;
  double area = 0.0;
};

struct HoleCandidate {
  Ring ring;
  double area = 0.0;
  bool taken = false;
};

c2::PathsD offset_curves(const std::vector<Polyline>& curves, const std::optional<Widths>& widths,
                         double buffer_distance, double feature_size) {
  const double arc_tolerance = kArcToleranceFactor * feature_size;
  c2::PathsD all;
  for (std::size_t i = 0; i < curves.size(); ++i) {
    const Polyline& curve = curves[i];
    if (curve.size() < 2) continue;
    if (has_radii(widths, i)) {
      for (const std::vector<Point>& path :
           inflate_curve_variable(curve, (*widths)[i], arc_tolerance)) {
        c2::PathD d;
        d.reserve(path.size());
        for (const Point& p : path) d.emplace_back(p.x, p.y);
        all.push_back(std::move(d));
      }
      continue;
    }
    c2::PathD d;
    d.reserve(curve.size());
    for (const Point& p : curve) d.emplace_back(p.x, p.y);
    c2::PathsD shape =
        c2::InflatePaths(c2::PathsD{std::move(d)}, buffer_distance, c2::JoinType::Square,
                         c2::EndType::Square, kUniformMiterLimit, kPrecision, arc_tolerance);
    for (c2::PathD& p : shape) all.push_back(std::move(p));
  }
  return all;
}

}  // namespace

void check_inflation_input(const std::vector<Polyline>& curves, const std::optional<Widths>& widths,
                           double buffer_distance) {
  bool uses_buffer_distance = false;
  for (std::size_t i = 0; i < curves.size(); ++i) {
    const Polyline& curve = curves[i];
    if (curve.size() < 2) continue;
    for (std::size_t k = 0; k < curve.size(); ++k) {
      check_value(curve[k].x, "x coordinate" + at(i, k));
      check_value(curve[k].y, "y coordinate" + at(i, k));
    }
    if (has_radii(widths, i)) {
      const std::vector<double>& radii = (*widths)[i];
      for (std::size_t k = 0; k < radii.size(); ++k) check_value(radii[k], "radius" + at(i, k));
    } else {
      uses_buffer_distance = true;
    }
  }
  if (uses_buffer_distance) check_value(buffer_distance, "buffer_distance");
}

std::vector<std::vector<Point>> inflate_curve_variable(const Polyline& pts,
                                                       const std::vector<double>& widths,
                                                       double arc_tolerance) {
  const double scale = kIntegerScale;
  c2::Path64 path;
  path.reserve(pts.size());
  for (const Point& p : pts) {
    path.emplace_back(round_half_away_i64(p.x * scale), round_half_away_i64(p.y * scale));
  }
  c2::ClipperOffset offsetter(kVariableMiterLimit, arc_tolerance * scale, false, false);
  offsetter.AddPath(path, c2::JoinType::Square, c2::EndType::Square);
  if (widths.size() != pts.size()) {
    throw InternalError("inflate_curve_variable: widths.len() (" + std::to_string(widths.size()) +
                        ") must equal pts.len() (" + std::to_string(pts.size()) + ")");
  }
  // The offsetter passes indices into its own copy of the path, which has repeats removed and
  // so is never longer than the radii.
  c2::DeltaCallback64 delta = [radii = widths, scale](const c2::Path64&, const c2::PathD&,
                                                      std::size_t curr, std::size_t) {
    return radii[check_index(curr, radii.size(), "inflate_curve_variable vertex")] * scale;
  };
  c2::Paths64 solution;
  offsetter.Execute(delta, solution);

  std::vector<std::vector<Point>> out;
  out.reserve(solution.size());
  for (const c2::Path64& s : solution) {
    std::vector<Point> ring;
    ring.reserve(s.size());
    for (const c2::Point64& q : s) {
      ring.push_back({static_cast<double>(q.x) / scale, static_cast<double>(q.y) / scale});
    }
    out.push_back(std::move(ring));
  }
  return out;
}

std::vector<BufferPolygon> inflate(const std::vector<Polyline>& curves,
                                   const std::optional<Widths>& widths, double buffer_distance,
                                   double feature_size) {
  check_inflation_input(curves, widths, buffer_distance);

  c2::PathsD united;
  try {
    const c2::PathsD shapes = offset_curves(curves, widths, buffer_distance, feature_size);
    if (shapes.empty()) return {};
    united = c2::Union(shapes, c2::FillRule::NonZero, kPrecision);
  } catch (const c2::Clipper2Exception&) {
    // Each value is within range, but a wide buffer near the limit can still leave the grid.
    throw InputError(
        "the buffer around the curves reaches beyond about 2.3e12, the range of Clipper2's "
        "integer grid; coordinates plus radii must stay below it");
  }

  std::vector<OuterCandidate> outers;
  std::vector<HoleCandidate> holes;
  const double min_hole_area = kMinHoleAreaFactor * feature_size * feature_size;
  for (const c2::PathD& p : united) {
    if (p.size() < 2) continue;
    Ring r = without_repeats(p);
    if (r.size() < 3) continue;
    const double a = signed_area(p);
    if (a > 0.0) {
      const double len = open_length(r);
      outers.push_back({std::move(r), len, a});
    } else if (min_hole_area <= -a) {
      holes.push_back({std::move(r), -a, false});
    }
  }

  std::stable_sort(
      outers.begin(), outers.end(),
      [](const OuterCandidate& a, const OuterCandidate& b) { return a.length < b.length; });

  std::vector<BufferPolygon> polygons;
  polygons.reserve(outers.size());
  for (OuterCandidate& o : outers) {
    BufferPolygon poly;
    for (HoleCandidate& h : holes) {
      // The area test keeps a hole from going to an island that lies inside it.
      if (h.taken || !(h.area < o.area) || !inside(h.ring.front(), o.ring)) continue;
      poly.holes.push_back(std::move(h.ring));
      h.taken = true;
    }
    poly.outer = std::move(o.ring);
    polygons.push_back(std::move(poly));
  }
  return polygons;
}

}  // namespace linetopo
