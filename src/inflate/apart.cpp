// The union of shapes apart: each linked group swept on its own, the rest nested by rays.
#include "inflate/apart.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <utility>

#include "inflate/bands.hpp"
#include "inflate/meeting.hpp"
#include "inflate/nesting.hpp"
#include "inflate/union_tree.hpp"
#include "parallel/parallel.hpp"

namespace linetopo::inflate_parts {
namespace {

// Scanline crossings on average from which a sweep is crowded enough to look for shapes apart
// first: nested rings reach hundreds, dense street grids in strips and dense drawings stay
// below 20.
constexpr double kCrowdedSweep = 32.0;

// Whether a sweep over the rings would hold many edges at once: the edges a scanline crosses on
// average (their summed rise over the height, or run over the width where the sweep goes across
// a wide box's short side) reach kCrowdedSweep. Below, the sweep is cheap and finding which
// shapes meet would cost about as much.
bool crowded_sweep(const std::vector<const c2::Path64*>& rings) {
  double rise = 0.0;
  double run = 0.0;
  c2::Rect64 box = c2::InvalidRect64;
  for (const c2::Path64* ring : rings) {
    const c2::Path64& r = *ring;
    for (std::size_t k = 0; k < r.size(); ++k) {
      const c2::Point64& next = r[(k + 1) % r.size()];
      rise += std::fabs(static_cast<double>(next.y - r[k].y));
      run += std::fabs(static_cast<double>(next.x - r[k].x));
      box.left = std::min(box.left, r[k].x);
      box.right = std::max(box.right, r[k].x);
      box.top = std::min(box.top, r[k].y);
      box.bottom = std::max(box.bottom, r[k].y);
    }
  }
  if (box.top > box.bottom) return false;
  const bool wide = box.Width() > box.Height();
  const double across = wide ? run : rise;
  const double extent = static_cast<double>(wide ? box.Width() : box.Height()) + 1.0;
  return across >= kCrowdedSweep * extent;
}

}  // namespace

Pieces unite_apart(std::vector<c2::Paths64> shapes, bool side_by_side) {
  std::vector<const c2::Path64*> rings;
  std::vector<std::size_t> owner;
  for (std::size_t s = 0; s < shapes.size(); ++s) {
    for (const c2::Path64& path : shapes[s]) {
      rings.push_back(&path);
      owner.push_back(s);
    }
  }
  const auto flat = [&shapes] {
    c2::Paths64 all;
    for (c2::Paths64& shape : shapes) {
      for (c2::Path64& path : shape) all.push_back(std::move(path));
    }
    return unite(std::move(all));
  };
  if (shapes.size() < 2) return flat();
  if (!crowded_sweep(rings)) return flat();
  const std::optional<Meeting> met = meeting(rings, owner, shapes.size(), false);
  if (!met) return flat();
  // Groups in the order of their least shape.
  std::vector<std::size_t> slot(shapes.size(), shapes.size());
  std::vector<std::vector<std::size_t>> groups;
  for (std::size_t s = 0; s < shapes.size(); ++s) {
    std::size_t& g = slot[met->group[s]];
    if (g == shapes.size()) {
      g = groups.size();
      groups.emplace_back();
    }
    groups[g].push_back(s);
  }
  if (groups.size() == 1) return flat();
  // Each linked group united on its own; a shape alone keeps its rings.
  std::vector<c2::Paths64> answers(groups.size());
  parallel_for(groups.size(), [&](std::size_t g) {
    if (groups[g].size() == 1) {
      answers[g] = std::move(shapes[groups[g].front()]);
      return;
    }
    c2::Paths64 subjects;
    for (std::size_t s : groups[g]) {
      for (c2::Path64& path : shapes[s]) subjects.push_back(std::move(path));
    }
    answers[g] = union_of(std::move(subjects));
  });
  std::vector<const c2::Path64*> all;
  std::vector<std::size_t> group_of;
  std::vector<c2::Rect64> boxes;
  std::vector<c2::Rect64> group_boxes(answers.size(), c2::InvalidRect64);
  for (std::size_t g = 0; g < answers.size(); ++g) {
    for (const c2::Path64& path : answers[g]) {
      all.push_back(&path);
      group_of.push_back(g);
      const c2::Rect64 box = c2::GetBounds(path);
      boxes.push_back(box);
      c2::Rect64& around = group_boxes[g];
      around = {std::min(around.left, box.left), std::min(around.top, box.top),
                std::max(around.right, box.right), std::max(around.bottom, box.bottom)};
    }
  }
  // A ring stays a boundary of the union unless another group's region covers it. Groups lie
  // apart, so any point of it tells: the winding of the other groups' rings there, each group's
  // region counted once and all with the same sense. Only a ring in another group's box asks.
  constexpr std::size_t kBoxChecks = std::size_t{1} << 22;
  std::vector<char> asks(all.size(), side_by_side ? 0 : 1);
  if (!side_by_side && all.size() * group_boxes.size() <= kBoxChecks) {
    for (std::size_t i = 0; i < all.size(); ++i) {
      const c2::Rect64& box = boxes[i];
      asks[i] = 0;
      for (std::size_t g = 0; g < group_boxes.size() && !asks[i]; ++g) {
        const c2::Rect64& h = group_boxes[g];
        const bool holds = g != group_of[i] && h.left <= box.left && box.right <= h.right &&
                           h.top <= box.top && box.bottom <= h.bottom;
        asks[i] = holds ? 1 : 0;
      }
    }
  }
  std::vector<char> keep(all.size(), 1);
  if (std::find(asks.begin(), asks.end(), 1) != asks.end()) {
    const RingBands bands(all);
    parallel_for(all.size(), [&](std::size_t i) {
      if (!asks[i]) return;
      const c2::Path64& r = *all[i];
      const Wide px = Wide{r[0].x} + r[1 % r.size()].x;
      const Wide py = Wide{r[0].y} + r[1 % r.size()].y;
      long winding = 0;
      for (const RingBands::Edge& e : bands.at_doubled(py)) {
        if (group_of[e.ring] != group_of[i]) winding += crossing_doubled(e.a, e.b, px, py);
      }
      keep[i] = winding == 0 ? 1 : 0;
    });
  }
  c2::Paths64 kept;
  std::size_t i = 0;
  for (c2::Paths64& answer : answers) {
    for (c2::Path64& path : answer) {
      if (keep[i++]) kept.push_back(std::move(path));
    }
  }
  return pieces_of(std::move(kept));
}

}  // namespace linetopo::inflate_parts
