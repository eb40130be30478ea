// Which of several shapes come close enough to touch once united, found without a sweep.
#pragma once

#include <optional>
#include <vector>

#include "inflate/pieces.hpp"

namespace linetopo::inflate_parts {

// How the rings of several shapes meet. `group[s]` is the least shape linked to shape s through
// rings of different shapes that come within a few grid units of each other (close enough that a
// union's rounding could make them touch). `self_meets` tells whether some shape's own rings meet
// each other or themselves (other than neighbouring edges at their shared vertex), asked only
// when `within` is set.
struct Meeting {
  std::vector<std::size_t> group;
  bool self_meets = false;
};

// How the rings meet, ring i belonging to shape owner[i] < shapes; nothing where finding out
// would cost about as much as a sweep (edges far longer than their mean, crowded cells,
// coordinates beyond what doubles hold exactly).
std::optional<Meeting> meeting(const std::vector<const c2::Path64*>& rings,
                               const std::vector<std::size_t>& owner, std::size_t shapes,
                               bool within);

}  // namespace linetopo::inflate_parts
