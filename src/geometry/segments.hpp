// Whether two closed segments share a point, for any point type with x and y and any cross
// product: exact on integers with a wide product, approximate on doubles.
#pragma once

#include <algorithm>

namespace linetopo {

// cross(o, a, b) is the z of (a - o) x (b - o): its sign tells on which side of o->a b lies.
template <class P, class Cross>
bool segments_meet(const P& a, const P& b, const P& c, const P& d, const Cross& cross) {
  // p within the box of st, which for a p on the line st means on the segment.
  const auto within = [](const P& s, const P& t, const P& p) {
    return std::min(s.x, t.x) <= p.x && p.x <= std::max(s.x, t.x) && std::min(s.y, t.y) <= p.y &&
           p.y <= std::max(s.y, t.y);
  };
  const auto d1 = cross(c, d, a);
  const auto d2 = cross(c, d, b);
  const auto d3 = cross(a, b, c);
  const auto d4 = cross(a, b, d);
  if (((d1 > 0 && d2 < 0) || (d1 < 0 && d2 > 0)) && ((d3 > 0 && d4 < 0) || (d3 < 0 && d4 > 0))) {
    return true;
  }
  return (d1 == 0 && within(c, d, a)) || (d2 == 0 && within(c, d, b)) ||
         (d3 == 0 && within(a, b, c)) || (d4 == 0 && within(a, b, d));
}

}  // namespace linetopo
