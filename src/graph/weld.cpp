// Welds skeleton segments into a graph: points in or next to one cell of the weld grid become one
// node.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>

#include "geometry/keys.hpp"
#include "graph/graph.hpp"
#include "parallel/parallel.hpp"

namespace linetopo {
namespace {

using CellIndex = FlatMap<CellKey, std::size_t, CellBlockHash>;
using PairSet = FlatSet<IndexPair>;

// Steps a cell coordinate by -1, 0 or +1, holding at the int64 limits instead of wrapping, so a
// saturated far cell never probes the opposite end of the range.
std::int64_t step_saturating(std::int64_t v, int step) {
  if (step > 0 && v == std::numeric_limits<std::int64_t>::max()) return v;
  if (step < 0 && v == std::numeric_limits<std::int64_t>::min()) return v;
  return v + step;
}

// A point's weld cell, saturating at the int64 limits.
CellKey weld_cell(const Point& p, double cell_size) {
  return {round_half_away_i64(p.x / cell_size), round_half_away_i64(p.y / cell_size)};
}

// Resolves a point to a node: its own cell, else the first recorded cell of the 3x3 block in probe
// order, else a new node at exactly this point. The resolved cell is always recorded.
std::size_t weld_point(const Point& p, double cell_size, CellIndex& cells,
                       std::vector<Point>& nodes) {
  const CellKey own = weld_cell(p, cell_size);
  if (!cells.empty()) {
    if (const std::size_t* found = cells.find(own)) return *found;
    for (int di = -1; di <= 1; ++di) {
      for (int dj = -1; dj <= 1; ++dj) {
        if (di == 0 && dj == 0) continue;  // the own cell was looked up first
        const std::size_t* found =
            cells.find({step_saturating(own.x, di), step_saturating(own.y, dj)});
        if (found != nullptr) {
          const std::size_t node = *found;  // copied before the insert may rehash
          cells.try_emplace(own, node);
          return node;
        }
      }
    }
  }
  nodes.push_back(p);
  cells.try_emplace(own, nodes.size() - 1);
  return nodes.size() - 1;
}

}  // namespace

Graph weld_skeletons(std::span<const Skeleton> skeletons,
                     std::span<const std::vector<char>> crowded, double cell_size) {
  if (crowded.size() != skeletons.size()) {
    throw InternalError("internal error: weld neighbour flags out of step");
  }
  std::size_t points = 0;
  std::size_t segments = 0;
  for (std::size_t i = 0; i < skeletons.size(); ++i) {
    if (crowded[i].size() != skeletons[i].points.size()) {
      throw InternalError("internal error: weld neighbour flags out of step");
    }
    points += static_cast<std::size_t>(std::count(crowded[i].begin(), crowded[i].end(), 1));
    segments += skeletons[i].segments.size();
  }
  Graph graph;
  CellIndex cells(points);
  PairSet seen(segments);
  std::vector<std::size_t> node;
  for (std::size_t i = 0; i < skeletons.size(); ++i) {
    const Skeleton& s = skeletons[i];
    // Welding a point again only finds its own cell, so each point is welded once, in the order
    // the segments first reach it. A point with no other point in or next to its cell would
    // find nothing and leave its cell where nothing looks: it becomes a node of its own.
    node.resize(s.points.size());
    for (std::size_t k = 0; k < s.points.size(); ++k) {
      if (crowded[i][k]) {
        node[k] = weld_point(s.points[k], cell_size, cells, graph.nodes);
      } else {
        graph.nodes.push_back(s.points[k]);
        node[k] = graph.nodes.size() - 1;
      }
    }
    // A skeleton names each segment once, and a point that is not crowded has a node of its
    // own: only a segment with a welded end can repeat an edge already made.
    for (const auto& [pa, pb] : s.segments) {
      const std::size_t a = node[check_index(pa, node.size(), "skeleton point")];
      const std::size_t b = node[check_index(pb, node.size(), "skeleton point")];
      if (a == b) continue;
      if ((crowded[i][pa] || crowded[i][pb]) && !seen.insert(index_pair(a, b))) continue;
      graph.edges.emplace_back(a, b);
    }
  }
  return graph;
}

WeldNeighbours weld_neighbours(std::span<const Skeleton> skeletons, double cell_size) {
  WeldNeighbours out;
  out.crowded.resize(skeletons.size());
  std::size_t count = 0;
  for (std::size_t i = 0; i < skeletons.size(); ++i) {
    out.crowded[i].assign(skeletons[i].points.size(), 1);
    count += skeletons[i].points.size();
  }
  out.apart = skeletons.size() < 2;
  // Every point's weld cell, counted from the least cell of all, in rows of at most 2^32 - 2
  // cells so that a key's left neighbour is the key less one. Beyond that, or with too many
  // points to number, every point counts as crowded and the skeletons as close: always right.
  std::int64_t lo_x = std::numeric_limits<std::int64_t>::max();
  std::int64_t lo_y = lo_x;
  std::int64_t hi_x = std::numeric_limits<std::int64_t>::lowest();
  std::int64_t hi_y = hi_x;
  for (const Skeleton& s : skeletons) {
    for (const Point& p : s.points) {
      const CellKey c = weld_cell(p, cell_size);
      lo_x = std::min(lo_x, c.x);
      lo_y = std::min(lo_y, c.y);
      hi_x = std::max(hi_x, c.x);
      hi_y = std::max(hi_y, c.y);
    }
  }
  // Unsigned differences, which cannot overflow.
  const auto offset = [](std::int64_t v, std::int64_t lo) {
    return static_cast<std::uint64_t>(v) - static_cast<std::uint64_t>(lo);
  };
  constexpr std::uint64_t kMaxSpan = 4294967294U;
  if (count == 0 || count >= UINT32_MAX || skeletons.size() >= UINT32_MAX ||
      offset(hi_x, lo_x) >= kMaxSpan || offset(hi_y, lo_y) >= kMaxSpan) {
    return out;
  }
  struct Entry {
    std::uint64_t key;
    std::uint32_t skeleton;
    std::uint32_t point;
  };
  std::vector<Entry> entries;
  entries.reserve(count);
  for (std::size_t i = 0; i < skeletons.size(); ++i) {
    const std::vector<Point>& points = skeletons[i].points;
    for (std::size_t k = 0; k < points.size(); ++k) {
      const CellKey c = weld_cell(points[k], cell_size);
      entries.push_back({(offset(c.y, lo_y) << 32) | offset(c.x, lo_x),
                         static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(k)});
    }
  }
  parallel_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
    return a.key < b.key || (a.key == b.key && (a.skeleton < b.skeleton ||
                                                (a.skeleton == b.skeleton && a.point < b.point)));
  });
  // The occupied cells: where each one's entries start, and whether they are of one skeleton.
  std::vector<std::size_t> start;
  std::vector<char> mixed;
  for (std::size_t k = 0; k < entries.size(); ++k) {
    if (k == 0 || entries[k].key != entries[k - 1].key) {
      start.push_back(k);
      mixed.push_back(0);
    } else if (entries[k].skeleton != entries[k - 1].skeleton) {
      mixed.back() = 1;
    }
  }
  const std::size_t cells = start.size();
  start.push_back(entries.size());
  std::vector<char> crowded(cells, 0);
  bool apart = true;
  const auto meet = [&](std::size_t a, std::size_t b) {
    crowded[a] = crowded[b] = 1;
    if (mixed[a] || mixed[b] || entries[start[a]].skeleton != entries[start[b]].skeleton) {
      apart = false;
    }
  };
  // Each cell against the occupied cells before it in its 3 x 3 block: its left neighbour, and
  // three cells in the row above.
  constexpr std::uint64_t kRow = std::uint64_t{1} << 32;
  std::size_t above = 0;
  for (std::size_t c = 0; c < cells; ++c) {
    const std::uint64_t key = entries[start[c]].key;
    if (start[c + 1] - start[c] > 1) meet(c, c);
    if (c > 0 && entries[start[c - 1]].key + 1 == key) meet(c - 1, c);
    if (key < kRow) continue;
    const std::uint64_t first = key - kRow - ((key & (kRow - 1)) > 0 ? 1 : 0);
    const std::uint64_t last = key - kRow + 1;
    while (above < c && entries[start[above]].key < first) ++above;
    for (std::size_t a = above; a < c && entries[start[a]].key <= last; ++a) meet(a, c);
  }
  for (std::size_t c = 0; c < cells; ++c) {
    if (crowded[c]) continue;
    const Entry& e = entries[start[c]];  // alone in its cell
    out.crowded[e.skeleton][e.point] = 0;
  }
  out.apart = apart;
  return out;
}

}  // namespace linetopo
