// The union tree: leaves in Z order, united kTreeFanout at a time, only where boxes meet.
#include "inflate/union_tree.hpp"

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <utility>

#include "inflate/apart.hpp"
#include "inflate/nesting.hpp"
#include "parallel/parallel.hpp"

namespace linetopo::inflate_parts {
namespace {

// Shapes united per call at each level of the union tree.
constexpr std::size_t kTreeFanout = 4;

}  // namespace

c2::Paths64 union_of(c2::Paths64 subjects) {
  if (subjects.empty()) return {};  // and no box, whose width would overflow
  const c2::Rect64 box = c2::GetBounds(subjects);
  const bool wide = box.Width() > box.Height();
  if (wide) transpose(subjects);
  c2::Clipper64 clipper;
  clipper.AddSubject(subjects);
  subjects.clear();
  c2::Paths64 answer;
  clipper.Execute(c2::ClipType::Union, c2::FillRule::NonZero, answer);
  if (wide) transpose(answer);
  return answer;
}

Pieces unite(c2::Paths64 subjects) { return pieces_of(union_of(std::move(subjects))); }

void append_rings(Pieces& pieces, std::vector<UnionRing>& rings) {
  for (Piece& piece : pieces) {
    const auto base = static_cast<std::ptrdiff_t>(rings.size());
    for (UnionRing& r : piece.rings) {
      rings.push_back({std::move(r.path), r.parent < 0 ? -1 : r.parent + base});
    }
  }
}

namespace {

bool overlap(const c2::Rect64& a, const c2::Rect64& b) {
  return a.left <= b.right && b.left <= a.right && a.top <= b.bottom && b.top <= a.bottom;
}

// Unites the children of one tree node. Only pieces whose boxes meet a piece of another child
// (and pieces not yet clean) go into a union; the others pass through untouched, so a sweep
// never revisits a region that nothing new reaches. Pieces that go in are united in groups
// whose boxes chain together: a sweep's cost grows with the width of what it holds, and groups
// whose boxes never meet cannot touch.
Pieces merge_children(std::vector<Pieces>& children) {
  struct Entry {
    Piece* piece;
    std::size_t child;
  };
  std::vector<Entry> all;
  for (std::size_t c = 0; c < children.size(); ++c) {
    for (Piece& p : children[c]) all.push_back({&p, c});
  }
  std::vector<std::size_t> by_left(all.size());
  std::iota(by_left.begin(), by_left.end(), std::size_t{0});
  std::sort(by_left.begin(), by_left.end(), [&](std::size_t a, std::size_t b) {
    return all[a].piece->box.left < all[b].piece->box.left ||
           (all[a].piece->box.left == all[b].piece->box.left && a < b);
  });
  std::vector<char> take(all.size(), 0);
  for (std::size_t i = 0; i < all.size(); ++i) take[i] = all[i].piece->clean ? 0 : 1;
  std::vector<std::pair<std::size_t, std::size_t>> meeting;
  for (std::size_t k = 0; k < by_left.size(); ++k) {
    const Entry& a = all[by_left[k]];
    for (std::size_t m = k + 1; m < by_left.size(); ++m) {
      const Entry& b = all[by_left[m]];
      if (b.piece->box.left > a.piece->box.right) break;
      if (!overlap(a.piece->box, b.piece->box)) continue;
      meeting.emplace_back(by_left[k], by_left[m]);
      if (a.child != b.child) {
        take[by_left[k]] = 1;
        take[by_left[m]] = 1;
      }
    }
  }
  std::vector<std::size_t> group(all.size());
  std::iota(group.begin(), group.end(), std::size_t{0});
  const auto root = [&group](std::size_t v) {
    while (group[v] != v) v = group[v] = group[group[v]];
    return v;
  };
  for (const auto& [a, b] : meeting) {
    if (take[a] && take[b]) group[root(a)] = root(b);
  }
  // Groups in the order of their first piece, each piece's rings in piece order.
  std::vector<std::size_t> slot(all.size(), all.size());
  std::vector<std::vector<c2::Paths64>> shapes;  // per group, per piece
  std::vector<char> clean;                       // per group: every piece clean
  Pieces out;
  for (std::size_t i = 0; i < all.size(); ++i) {
    if (!take[i]) {
      out.push_back(std::move(*all[i].piece));
      continue;
    }
    std::size_t& s = slot[root(i)];
    if (s == all.size()) {
      s = shapes.size();
      shapes.emplace_back();
      clean.push_back(1);
    }
    if (!all[i].piece->clean) clean[s] = 0;
    c2::Paths64& shape = shapes[s].emplace_back();
    for (UnionRing& r : all[i].piece->rings) shape.push_back(std::move(r.path));
  }
  std::vector<Pieces> united(shapes.size());
  parallel_for(shapes.size(), [&](std::size_t g) {
    if (clean[g]) {
      united[g] = unite_apart(std::move(shapes[g]));
      return;
    }
    c2::Paths64 subjects;
    for (c2::Paths64& shape : shapes[g]) {
      for (c2::Path64& path : shape) subjects.push_back(std::move(path));
    }
    united[g] = unite(std::move(subjects));
  });
  for (Pieces& pieces : united) {
    for (Piece& p : pieces) out.push_back(std::move(p));
  }
  return out;
}

// Interleaves the bits of x (even positions) and y (odd positions).
std::uint64_t morton(std::uint32_t x, std::uint32_t y) {
  const auto spread = [](std::uint64_t v) {
    v = (v | (v << 16)) & 0x0000FFFF0000FFFFULL;
    v = (v | (v << 8)) & 0x00FF00FF00FF00FFULL;
    v = (v | (v << 4)) & 0x0F0F0F0F0F0F0F0FULL;
    v = (v | (v << 2)) & 0x3333333333333333ULL;
    v = (v | (v << 1)) & 0x5555555555555555ULL;
    return v;
  };
  return spread(x) | (spread(y) << 1);
}

// Orders the leaves along a Z curve through their bounding-box centres, so that each node of
// the union tree holds neighbours. Ties keep the curve order.
void sort_spatially(Pieces& leaves) {
  const c2::Rect64 all = bounds_of(leaves);
  const double w = std::max(1.0, static_cast<double>(all.right) - static_cast<double>(all.left));
  const double h = std::max(1.0, static_cast<double>(all.bottom) - static_cast<double>(all.top));
  const auto cell = [](double offset, double extent) {
    return static_cast<std::uint32_t>(std::clamp(offset / extent, 0.0, 1.0) * 4294967295.0);
  };
  std::vector<std::pair<std::uint64_t, std::size_t>> keys(leaves.size());
  for (std::size_t i = 0; i < leaves.size(); ++i) {
    const c2::Rect64& b = leaves[i].box;
    const double cx = 0.5 * (static_cast<double>(b.left) + static_cast<double>(b.right));
    const double cy = 0.5 * (static_cast<double>(b.top) + static_cast<double>(b.bottom));
    keys[i] = {morton(cell(cx - static_cast<double>(all.left), w),
                      cell(cy - static_cast<double>(all.top), h)),
               i};
  }
  std::sort(keys.begin(), keys.end());
  Pieces sorted;
  sorted.reserve(leaves.size());
  for (const auto& [key, i] : keys) sorted.push_back(std::move(leaves[i]));
  leaves = std::move(sorted);
}

// The union of the leaves [first, first + kTreeFanout^height) that exist: a node of the union
// tree, whose children are the nodes of one height less over consecutive ranges. Children unite
// as tasks on the pool, so that a node starts once its own children are done.
Pieces unite_subtree(Pieces& leaves, std::size_t first, std::size_t height,
                     const CancelCheck& cancelled) {
  std::size_t span = 1;  // leaves under each child
  for (std::size_t h = 1; h < height; ++h) span *= kTreeFanout;
  std::vector<std::size_t> starts;
  for (std::size_t c = 0; c < kTreeFanout && first + c * span < leaves.size(); ++c) {
    starts.push_back(first + c * span);
  }
  std::vector<Pieces> children(starts.size());
  if (height == 1) {
    for (std::size_t c = 0; c < starts.size(); ++c)
      children[c].push_back(std::move(leaves[starts[c]]));
  } else {
    parallel_for(starts.size(), [&](std::size_t c) {
      children[c] = unite_subtree(leaves, starts[c], height - 1, cancelled);
    });
  }
  throw_if_cancelled(cancelled);
  return merge_children(children);
}

}  // namespace

Pieces unite_in_tree(Pieces leaves, const CancelCheck& cancelled) {
  sort_spatially(leaves);
  std::size_t height = 1;
  for (std::size_t reach = kTreeFanout; reach < leaves.size(); reach *= kTreeFanout) ++height;
  return unite_subtree(leaves, 0, height, cancelled);
}

}  // namespace linetopo::inflate_parts
