// The offset of one curve with a radius per vertex, on its own and back in user units.
#pragma once

#include <vector>

#include "inflate/offsets.hpp"

namespace linetopo {

inline std::vector<Polyline> inflate_curve_variable(const Polyline& pts,
                                                    const std::vector<double>& widths,
                                                    double arc_tolerance) {
  std::vector<Polyline> out;
  for (const inflate_parts::c2::Path64& ring :
       inflate_parts::offset_variable(inflate_parts::to_grid(pts), widths, arc_tolerance)) {
    Polyline& r = out.emplace_back();
    for (const inflate_parts::c2::Point64& q : ring) {
      r.push_back({static_cast<double>(q.x) / inflate_parts::kIntegerScale,
                   static_cast<double>(q.y) / inflate_parts::kIntegerScale});
    }
  }
  return out;
}

}  // namespace linetopo
