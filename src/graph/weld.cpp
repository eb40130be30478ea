// Welds skeleton segments into a graph: points in or next to one cell of the weld grid become one
// node.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <utility>

#include "geometry/cell_grid.hpp"
#include "geometry/keys.hpp"
#include "graph/graph.hpp"
#include "parallel/parallel.hpp"

namespace linetopo {
namespace {

using CellIndex = FlatMap<CellKey, std::size_t, CellBlockHash>;
using PairSet = FlatSet<IndexPair>;

// How many points or segments ahead the weld asks for its tables' slots.
constexpr std::size_t kPrefetchAhead = 8;

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
  std::size_t all_points = 0;
  std::size_t segments = 0;
  std::size_t welded_segments = 0;  // with a crowded end: only these can repeat an edge
  for (std::size_t i = 0; i < skeletons.size(); ++i) {
    if (crowded[i].size() != skeletons[i].points.size()) {
      throw InternalError("internal error: weld neighbour flags out of step");
    }
    points += static_cast<std::size_t>(std::count(crowded[i].begin(), crowded[i].end(), 1));
    all_points += skeletons[i].points.size();
    segments += skeletons[i].segments.size();
    // Every segment's ends checked here, so that the passes below may look ahead.
    for (const auto& [pa, pb] : skeletons[i].segments) {
      const std::size_t n = crowded[i].size();
      const bool a = crowded[i][check_index(pa, n, "skeleton point")] != 0;
      const bool b = crowded[i][check_index(pb, n, "skeleton point")] != 0;
      welded_segments += a || b ? 1 : 0;
    }
  }
  Graph graph;
  // At most a node per point and an edge per segment: no regrowth of a huge skeleton's graph.
  graph.nodes.reserve(all_points);
  graph.edges.reserve(segments);
  CellIndex cells(points);
  PairSet seen(welded_segments);
  std::vector<std::size_t> node;
  for (std::size_t i = 0; i < skeletons.size(); ++i) {
    const Skeleton& s = skeletons[i];
    // Welding a point again only finds its own cell, so each point is welded once, in the order
    // the segments first reach it. A point with no other point in or next to its cell would
    // find nothing and leave its cell where nothing looks: it becomes a node of its own.
    node.resize(s.points.size());
    for (std::size_t k = 0; k < s.points.size(); ++k) {
      const std::size_t ahead = k + kPrefetchAhead;
      if (ahead < s.points.size() && crowded[i][ahead]) {
        const CellKey c = weld_cell(s.points[ahead], cell_size);
        for (int dj = -1; dj <= 1; ++dj) {
          for (int di = -1; di <= 1; ++di) {
            cells.prefetch({step_saturating(c.x, di), step_saturating(c.y, dj)});
          }
        }
      }
      if (crowded[i][k]) {
        node[k] = weld_point(s.points[k], cell_size, cells, graph.nodes);
      } else {
        graph.nodes.push_back(s.points[k]);
        node[k] = graph.nodes.size() - 1;
      }
    }
    // A skeleton names each segment once, and a point that is not crowded has a node of its
    // own: only a segment with a welded end can repeat an edge already made.
    for (std::size_t k = 0; k < s.segments.size(); ++k) {
      if (k + kPrefetchAhead < s.segments.size()) {
        const auto [qa, qb] = s.segments[k + kPrefetchAhead];
        if (crowded[i][qa] || crowded[i][qb]) seen.prefetch(index_pair(node[qa], node[qb]));
      }
      const auto [pa, pb] = s.segments[k];
      const std::size_t a = node[check_index(pa, node.size(), "skeleton point")];
      const std::size_t b = node[check_index(pb, node.size(), "skeleton point")];
      if (a == b) continue;
      if ((crowded[i][pa] || crowded[i][pb]) && !seen.insert(index_pair(a, b))) continue;
      graph.edges.emplace_back(a, b);
    }
  }
  return graph;
}

namespace {

struct CellBox {
  std::int64_t lo_x, lo_y, hi_x, hi_y;
};

// The weld cells of all points of the listed skeletons, swept together: sets the crowded flag of
// every point that has another point in or next to its cell, and gives whether no such pair
// joins two skeletons. Keys count cells from (lo_x, lo_y).
bool sweep_cells(std::span<const Skeleton> skeletons, std::span<const std::uint32_t> listed,
                 double cell_size, std::int64_t lo_x, std::int64_t lo_y,
                 std::vector<std::vector<char>>& crowded_points) {
  const auto offset = [](std::int64_t v, std::int64_t lo) {
    return static_cast<std::uint64_t>(v) - static_cast<std::uint64_t>(lo);
  };
  struct Entry {
    std::uint64_t key;
    std::uint32_t skeleton;
    std::uint32_t point;
  };
  std::size_t count = 0;
  for (const std::uint32_t i : listed) count += skeletons[i].points.size();
  std::vector<Entry> entries;
  entries.reserve(count);
  for (const std::uint32_t i : listed) {
    const std::vector<Point>& points = skeletons[i].points;
    for (std::size_t k = 0; k < points.size(); ++k) {
      const CellKey c = weld_cell(points[k], cell_size);
      entries.push_back(
          {(offset(c.y, lo_y) << 32) | offset(c.x, lo_x), i, static_cast<std::uint32_t>(k)});
    }
  }
  const auto before = [](const Entry& a, const Entry& b) {
    return a.key < b.key || (a.key == b.key && (a.skeleton < b.skeleton ||
                                                (a.skeleton == b.skeleton && a.point < b.point)));
  };
  if (listed.size() > 1) {
    parallel_sort(entries.begin(), entries.end(), before);
  } else {
    std::sort(entries.begin(), entries.end(), before);  // one of many jobs on the pool
  }
  // The occupied cells: where each one's entries start, and whether they are of one skeleton.
  // In 32 bits and reserved at once: on scattered shapes nearly every point has its own cell.
  std::vector<std::uint32_t> start;
  std::vector<char> mixed;
  start.reserve(entries.size() + 1);
  mixed.reserve(entries.size());
  for (std::size_t k = 0; k < entries.size(); ++k) {
    if (k == 0 || entries[k].key != entries[k - 1].key) {
      start.push_back(static_cast<std::uint32_t>(k));
      mixed.push_back(0);
    } else if (entries[k].skeleton != entries[k - 1].skeleton) {
      mixed.back() = 1;
    }
  }
  const std::size_t cells = start.size();
  start.push_back(static_cast<std::uint32_t>(entries.size()));
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
    crowded_points[e.skeleton][e.point] = 0;
  }
  return apart;
}

// Per skeleton, whether its cells, grown by one, meet those of another: the others' points lie
// in no 3 x 3 block of its own, so it is swept alone. The boxes are paired within the cells of a
// coarse grid of about one cell per box. Past a bound on the work (a crowd of boxes in one
// place, or boxes across the whole), every skeleton counts as meeting another: always right.
std::vector<char> meeting_boxes(const std::vector<CellBox>& boxes, const std::vector<char>& empty,
                                const CellBox& all) {
  std::vector<char> meets(boxes.size(), 0);
  std::vector<std::uint32_t> listed;
  for (std::size_t i = 0; i < boxes.size(); ++i) {
    if (!empty[i]) listed.push_back(static_cast<std::uint32_t>(i));
  }
  const auto n = static_cast<double>(listed.size());
  const double most = 16.0 * n + 1e6;
  // Cell coordinates less the least of all fit 32 bits (checked by the caller): exact in double.
  const auto at = [](std::int64_t v, std::int64_t lo) {
    return static_cast<double>(static_cast<std::uint64_t>(v) - static_cast<std::uint64_t>(lo));
  };
  const double width = at(all.hi_x, all.lo_x) + 3.0;
  const double height = at(all.hi_y, all.lo_y) + 3.0;
  // About one coarse cell per box, and never more rows or columns than boxes.
  const double coarse =
      std::max({1.0, std::sqrt(width * height / n), std::max(width, height) / (n + 1.0)});
  std::vector<CellSpan> spans(listed.size());
  double entries = 0.0;
  for (std::size_t k = 0; k < listed.size(); ++k) {
    const CellBox& b = boxes[listed[k]];
    // Grown by one cell all round, counted from one cell before the least.
    const double x0 = std::floor(at(b.lo_x, all.lo_x) / coarse);
    const double x1 = std::floor((at(b.hi_x, all.lo_x) + 2.0) / coarse);
    const double y0 = std::floor(at(b.lo_y, all.lo_y) / coarse);
    const double y1 = std::floor((at(b.hi_y, all.lo_y) + 2.0) / coarse);
    entries += (x1 - x0 + 1.0) * (y1 - y0 + 1.0);
    if (entries > most) return std::vector<char>(boxes.size(), 1);
    spans[k] = {static_cast<std::uint32_t>(x0), static_cast<std::uint32_t>(y0),
                static_cast<std::uint32_t>(x1), static_cast<std::uint32_t>(y1)};
  }
  const auto rows = static_cast<std::uint32_t>(std::floor((height - 1.0) / coarse) + 1.0);
  const CellRuns grid = cell_runs(spans, rows);
  double tried = 0.0;
  for (std::size_t c = 0; c + 1 < grid.runs.size(); ++c) {
    for (std::size_t u = grid.runs[c]; u < grid.runs[c + 1]; ++u) {
      const CellRuns::Entry& e = grid.entries[u];
      for (std::size_t v = u + 1; v < grid.runs[c + 1]; ++v) {
        if (++tried > most) return std::vector<char>(boxes.size(), 1);
        const std::uint32_t f = grid.entries[v].item;
        if (!first_shared_cell(spans[e.item], spans[f], e.x, e.y)) continue;
        const CellBox& a = boxes[listed[e.item]];
        const CellBox& b = boxes[listed[f]];
        if (b.lo_x <= a.hi_x + 1 && a.lo_x <= b.hi_x + 1 && b.lo_y <= a.hi_y + 1 &&
            a.lo_y <= b.hi_y + 1) {
          meets[listed[e.item]] = meets[listed[f]] = 1;
        }
      }
    }
  }
  return meets;
}

}  // namespace

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
  constexpr std::int64_t kMost = std::numeric_limits<std::int64_t>::max();
  constexpr std::int64_t kLeast = std::numeric_limits<std::int64_t>::lowest();
  std::vector<CellBox> boxes(skeletons.size(), CellBox{kMost, kMost, kLeast, kLeast});
  std::vector<char> empty(skeletons.size(), 1);
  for (std::size_t i = 0; i < skeletons.size(); ++i) {
    CellBox& box = boxes[i];
    for (const Point& p : skeletons[i].points) {
      const CellKey c = weld_cell(p, cell_size);
      box = {std::min(box.lo_x, c.x), std::min(box.lo_y, c.y), std::max(box.hi_x, c.x),
             std::max(box.hi_y, c.y)};
      empty[i] = 0;
    }
  }
  CellBox all{kMost, kMost, kLeast, kLeast};
  for (const CellBox& b : boxes) {
    all = {std::min(all.lo_x, b.lo_x), std::min(all.lo_y, b.lo_y), std::max(all.hi_x, b.hi_x),
           std::max(all.hi_y, b.hi_y)};
  }
  // Unsigned differences, which cannot overflow.
  const auto span = [](std::int64_t lo, std::int64_t hi) {
    return static_cast<std::uint64_t>(hi) - static_cast<std::uint64_t>(lo);
  };
  constexpr std::uint64_t kMaxSpan = 4294967294U;
  if (count == 0 || count >= UINT32_MAX || skeletons.size() >= UINT32_MAX ||
      span(all.lo_x, all.hi_x) >= kMaxSpan || span(all.lo_y, all.hi_y) >= kMaxSpan) {
    return out;
  }
  // Skeletons whose cells meet no other's are swept each alone on the pool, so that scattered
  // small shapes never hold one entry per point of all at once; the rest are swept together.
  const std::vector<char> meets = meeting_boxes(boxes, empty, all);
  std::vector<std::uint32_t> together;
  std::vector<std::uint32_t> alone;
  for (std::size_t i = 0; i < skeletons.size(); ++i) {
    if (!empty[i]) (meets[i] ? together : alone).push_back(static_cast<std::uint32_t>(i));
  }
  parallel_for(alone.size(), [&](std::size_t k) {
    sweep_cells(skeletons, std::span(&alone[k], 1), cell_size, all.lo_x, all.lo_y, out.crowded);
  });
  out.apart = sweep_cells(skeletons, together, cell_size, all.lo_x, all.lo_y, out.crowded);
  return out;
}

}  // namespace linetopo
