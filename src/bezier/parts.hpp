// The parts of fitting a chain with cubic pieces: the chain as fitted, its spans, and the fit
// of one span by least squares.
#pragma once

#include <cmath>
#include <cstddef>
#include <vector>

#include "bezier/fit.hpp"

namespace linetopo::bezier_parts {

inline Point operator+(const Point& a, const Point& b) { return {a.x + b.x, a.y + b.y}; }
inline Point operator-(const Point& a, const Point& b) { return {a.x - b.x, a.y - b.y}; }
inline Point operator*(double k, const Point& a) { return {k * a.x, k * a.y}; }
inline double dot(const Point& a, const Point& b) { return a.x * b.x + a.y * b.y; }
inline double cross(const Point& a, const Point& b) { return a.x * b.y - a.y * b.x; }
inline double norm(const Point& a) { return std::hypot(a.x, a.y); }

inline Point unit(const Point& v) {
  const double n = norm(v);
  if (!(n > kLengthEpsilon) || !std::isfinite(n)) return {0.0, 0.0};
  return (1.0 / n) * v;
}

inline Point at(const CubicPiece& c, double u) {
  const double v = 1.0 - u;
  return (v * v * v) * c.p0 + (3.0 * v * v * u) * c.p1 + (3.0 * v * u * u) * c.p2 +
         (u * u * u) * c.p3;
}

inline Point first_derivative(const CubicPiece& c, double u) {
  const double v = 1.0 - u;
  return (3.0 * v * v) * (c.p1 - c.p0) + (6.0 * v * u) * (c.p2 - c.p1) +
         (3.0 * u * u) * (c.p3 - c.p2);
}

inline Point second_derivative(const CubicPiece& c, double u) {
  return (6.0 * (1.0 - u)) * (c.p2 - 2.0 * c.p1 + c.p0) + (6.0 * u) * (c.p3 - 2.0 * c.p2 + c.p1);
}

inline CubicPiece with_handles(const Point& p0, const Point& h1, const Point& h2, const Point& p3) {
  return {p0, p0 + h1, p3 + h2, p3};
}


// The box of a run of consecutive chain segments.
struct SegmentBox {
  Point lo, hi;
};

// Points first..last of the chain, in a straight line.
struct Run {
  std::size_t first = 0;
  std::size_t last = 0;
};

// The chain without repeated points and its arc lengths. A closed chain is stored as three laps
// (seam points shared), so that directions across the seam are plain index ranges: its vertex i
// is also at index laps_offset + i, with a whole lap on either side.
struct Chain {
  Polyline p;
  std::vector<double> s;
  std::size_t n = 0;  // points of one lap, the seam counted at both ends
  std::size_t laps_offset = 0;
  bool closed = false;
  double reach = 0.0;
  // The nearest of the chain's own points (not added along a segment) at or before, and at or
  // after, each index; the first and last index count as own.
  std::vector<std::size_t> prev_own, next_own;
  // The chain as straight runs of its segments, the run of each segment, and a tree of boxes
  // over the runs: node k holds nodes 2k and 2k + 1, the second half the runs' own boxes.
  std::vector<Run> runs;
  std::vector<std::size_t> run_of;
  std::vector<SegmentBox> boxes;
};

// Fills in the chain's runs and their tree of boxes.
void straight_runs(Chain& c, double tolerance);


// One end of a span: its tangent pointing into the span, fixed where a neighbouring piece shares
// it, an estimate the fit may improve on where the end is free (a chain end or a corner).
struct End {
  Point tangent;
  bool fixed = false;
};

struct Span {
  std::size_t first = 0;
  std::size_t last = 0;
  End start;
  End end;
};


struct Fit {
  CubicPiece piece;
  double error = 0.0;
  std::size_t worst = 0;  // the span point where the fit is furthest off
};


// How far a piece strays from its span's polyline, and the interior span vertex nearest to where
// it strays most. Within the tolerance it is an upper bound, so a piece it passes keeps to the
// tolerance everywhere; beyond it, the piece strays or could not be shown not to, and is split.
struct Stray {
  double distance = 0.0;
  std::size_t vertex = 0;
};
Stray stray_from(const Chain& c, const Span& sp, const CubicPiece& piece, double tolerance);

// A straight piece from a to b, its handles at thirds.
CubicPiece straight_piece(const Point& a, const Point& b);

// The better fit of a span: free handles where no neighbour fixes them (fewer pieces), when the
// points determine them and they come out sound; else handles along the estimated tangents. Its
// error is the larger of its points' misses and how far its piece strays from the polyline.
Fit best_fit(const Chain& c, const Span& sp, double tolerance);

}  // namespace linetopo::bezier_parts
