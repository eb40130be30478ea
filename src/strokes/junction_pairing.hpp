// The pairing of chain ends at one junction: the ends that continue each other most straightly
// join first.
#pragma once

#include <cmath>
#include <cstddef>
#include <limits>
#include <memory>
#include <span>
#include <vector>

#include "geometry/geometry.hpp"

namespace linetopo::strokes_detail {

// partner[e] of an end that joins none.
inline constexpr std::size_t kNoPartner = std::numeric_limits<std::size_t>::max();

// The turn in degrees when a line arrives along -u and leaves along v. Exactly symmetric in u and
// v, so that a pair's turn never depends on which end is listed first.
inline double turn_degrees(const Point& u, const Point& v) {
  const double cross = u.x * v.y - u.y * v.x;
  const double dot = u.x * v.x + u.y * v.y;
  return std::atan2(std::fabs(cross), -dot) * (180.0 / kPi);
}

inline bool has_direction(const Point& d) { return d.x != 0.0 || d.y != 0.0; }

// Pairs the ends at junctions, one junction per call, into `partner` (both ends of a pair point
// at each other): of the pairs whose ends both have a direction and whose turn is at most
// max_turn degrees, the pair of least (turn, turn between first steps, lower end, higher end)
// joins while both its ends are free, then the next. direction and step are indexed by end.
// O(d log d) for d ends, unless many distinct directions lie within 1e-10 degrees of each other.
class JunctionPairing {
 public:
  JunctionPairing(const std::vector<Point>& direction, const std::vector<Point>& step,
                  double max_turn, std::vector<std::size_t>& partner);
  ~JunctionPairing();
  JunctionPairing(const JunctionPairing&) = delete;
  JunctionPairing& operator=(const JunctionPairing&) = delete;

  void pair(std::span<const std::size_t> ends);

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace linetopo::strokes_detail
