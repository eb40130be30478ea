// The union in vertical strips, joined pairwise along their seams.
#include "inflate/strips.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

#include "geometry/geometry.hpp"
#include "inflate/apart.hpp"
#include "inflate/bands.hpp"
#include "inflate/union_tree.hpp"
#include "parallel/parallel.hpp"

namespace linetopo::inflate_parts {
namespace {

// Strips are cheap only where the ink covers its box: sparse strokes fuse little, and for them
// the tree is as fast without the seams' extra work.
constexpr double kDenseCover = 0.4;
constexpr std::size_t kMinLeafVertices = 20000;
constexpr std::int64_t kMinStrips = 8;
// Strips this many buffer radii wide: wide enough that most holes lie inside one, narrow enough
// that a sweep across one meets few edges at a time.
constexpr double kStripRadii = 20.0;
// A strip whose shapes together cover at most this share of its box (strokes side by side) is
// united in one sweep; where they pile up deeper (many traces along one street), the tree's early
// merges shrink what its later sweeps hold.
constexpr double kFlatCover = 1.0;
// A vertex the cuts left on a seam is dropped when it lies within this many grid units of the
// line through its neighbours: two strips round the point where an edge crosses their seam each
// on its own.
constexpr std::int64_t kSeamSnap = 2;

bool holds(const c2::Rect64& outer, const c2::Rect64& inner) {
  return outer.left <= inner.left && inner.right <= outer.right && outer.top <= inner.top &&
         inner.bottom <= outer.bottom;
}

// A ring of the old pieces that stays as it is, with the rings nested in it, and what must hold
// it now: the new ring that took over `around` (an outer ring of the old piece that went into
// the sweep; a hole then) or the new hole it lies in (`around` was a hole that went in).
struct Kept {
  std::vector<UnionRing> rings;  // the ring first, parents within this list
  bool in_outer;
  std::size_t around;  // for in_outer: the entry of `around` in the join's list of them
};

// An outer ring that went into the sweep and held kept rings: all of them go to the one new outer
// ring that took it over, found once from its box and a few of its vertices.
struct Around {
  c2::Rect64 box;
  c2::Path64 sample;
};

constexpr std::size_t kSample = 16;

// A ring of the sweep's answer, as the search for holders sees it.
struct NewRing {
  std::ptrdiff_t piece, ring;
  c2::Rect64 box;
  bool outer;
  double area;  // absolute
};

// The sweep's answer for the searches: its rings, and their edges in bands.
struct Answer {
  std::vector<NewRing> rings;
  RingBands bands;
};

// Which new ring now holds `kept`: among the new rings of the right kind, the one of least area
// around one of its vertices (the first that lies on none of them); where every vertex touches
// one, the least whose box holds its box. {-1, -1} for none.
std::pair<std::ptrdiff_t, std::ptrdiff_t> holder(const Answer& answer, const Kept& kept) {
  const c2::Path64& ring = kept.rings.front().path;
  const auto other_kind = [&](std::size_t r) { return answer.rings[r].outer != kept.in_outer; };
  std::vector<std::size_t> around;
  std::vector<std::size_t> on;
  const NewRing* best = nullptr;
  for (const c2::Point64& v : ring) {
    answer.bands.locate(2 * Wide{v.x}, 2 * Wide{v.y}, other_kind, around, on);
    if (!on.empty()) continue;
    for (const std::size_t r : around) {
      if (best == nullptr || answer.rings[r].area < best->area) best = &answer.rings[r];
    }
    break;
  }
  if (best == nullptr) {
    const c2::Rect64 box = c2::GetBounds(ring);
    for (const NewRing& n : answer.rings) {
      if (n.outer != kept.in_outer || !holds(n.box, box)) continue;
      if (best == nullptr || n.area < best->area) best = &n;
    }
  }
  if (best == nullptr) return {-1, -1};
  return {best->piece, best->ring};
}

// The new outer ring that holds the old outer ring `around`: of those whose box holds its box,
// the one that holds most of its sampled vertices and, of those, the least (the union only
// merges outer rings, so one takes it over; others touch it, or hold it whole around a hole, as
// the rings of concentric annuli do). {-1, -1} where none holds its box: holes that touch the old
// ring, or each other, at single points can pinch it into parts, which the union returns as
// rings of their own.
std::pair<std::ptrdiff_t, std::ptrdiff_t> holder(const Answer& answer, const Around& around) {
  const auto hole = [&](std::size_t r) { return !answer.rings[r].outer; };
  std::vector<std::pair<std::size_t, std::size_t>> tally;  // ring, vertices held
  std::vector<std::size_t> inside;
  std::vector<std::size_t> on;
  for (const c2::Point64& v : around.sample) {
    answer.bands.locate(2 * Wide{v.x}, 2 * Wide{v.y}, hole, inside, on);
    inside.insert(inside.end(), on.begin(), on.end());
    for (const std::size_t r : inside) {
      if (!holds(answer.rings[r].box, around.box)) continue;
      auto it =
          std::find_if(tally.begin(), tally.end(), [r](const auto& t) { return t.first == r; });
      if (it == tally.end()) {
        tally.emplace_back(r, 1);
      } else {
        ++it->second;
      }
    }
  }
  if (tally.empty()) {  // held by no sampled vertex: the least ring whose box holds its box
    for (std::size_t r = 0; r < answer.rings.size(); ++r) {
      if (answer.rings[r].outer && holds(answer.rings[r].box, around.box)) tally.emplace_back(r, 0);
    }
  }
  if (tally.empty()) return {-1, -1};
  std::sort(tally.begin(), tally.end());
  const auto* best = &tally.front();
  for (const auto& t : tally) {
    const double area = answer.rings[t.first].area;
    if (t.second > best->second ||
        (t.second == best->second && area < answer.rings[best->first].area)) {
      best = &t;
    }
  }
  const NewRing& n = answer.rings[best->first];
  return {n.piece, n.ring};
}

// Two neighbouring groups of strips joined along their seam. Only the rings that reach the seam
// are swept again; the others, most holes of a dense region, keep their places in the new
// pieces, since nothing of the other side lies on their side of the seam.
Pieces join(Pieces left, Pieces right, std::int64_t seam) {
  std::vector<c2::Paths64> subjects;  // per piece that reaches the seam
  std::vector<Kept> kept;
  std::vector<Around> arounds;
  Pieces out;
  for (Pieces* side : {&left, &right}) {
    const bool is_left = side == &left;
    const auto reaches = [&](const c2::Rect64& b) {
      return is_left ? b.right >= seam : b.left <= seam;
    };
    for (Piece& p : *side) {
      if (!reaches(p.box)) {
        out.push_back(std::move(p));
        continue;
      }
      c2::Paths64& shape = subjects.emplace_back();
      // Rings come after the rings that hold them, so one pass finds each kept ring's place:
      // its own list when its holder went into the sweep, its holder's list otherwise.
      std::vector<std::ptrdiff_t> list(p.rings.size(), -1);
      std::vector<std::ptrdiff_t> index(p.rings.size(), -1);
      std::vector<char> outer(p.rings.size());
      std::vector<std::ptrdiff_t> around_of(p.rings.size(), -1);
      for (std::size_t i = 0; i < p.rings.size(); ++i) {
        UnionRing& ring = p.rings[i];
        const c2::Rect64 box = c2::GetBounds(ring.path);
        if (i == 0 || reaches(box)) {
          // Asked before the path moves away, for the rings it holds.
          outer[i] = c2::Area(ring.path) > 0.0 ? 1 : 0;
          if (outer[i]) {
            around_of[i] = static_cast<std::ptrdiff_t>(arounds.size());
            const auto n = static_cast<std::ptrdiff_t>(std::min(kSample, ring.path.size()));
            arounds.push_back({box, c2::Path64(ring.path.begin(), ring.path.begin() + n)});
          }
          shape.push_back(std::move(ring.path));
          continue;
        }
        const auto up = static_cast<std::size_t>(ring.parent);
        if (list[up] < 0) {
          list[i] = static_cast<std::ptrdiff_t>(kept.size());
          index[i] = 0;
          const bool in_outer = outer[up] != 0;
          kept.push_back({{{std::move(ring.path), -1}},
                          in_outer,
                          in_outer ? static_cast<std::size_t>(around_of[up]) : 0});
        } else {
          Kept& home = kept[static_cast<std::size_t>(list[up])];
          list[i] = list[up];
          index[i] = static_cast<std::ptrdiff_t>(home.rings.size());
          home.rings.push_back({std::move(ring.path), index[up]});
        }
      }
    }
  }
  Pieces united = subjects.empty() ? Pieces{} : unite_apart(std::move(subjects), true);
  // Where each kept ring goes, found before any is added so that the searches see only the
  // new rings.
  std::vector<NewRing> rings;
  std::vector<const c2::Path64*> paths;
  for (std::size_t q = 0; q < united.size() && !kept.empty(); ++q) {
    for (std::size_t r = 0; r < united[q].rings.size(); ++r) {
      const c2::Path64& path = united[q].rings[r].path;
      const double area = c2::Area(path);
      rings.push_back({static_cast<std::ptrdiff_t>(q), static_cast<std::ptrdiff_t>(r),
                       c2::GetBounds(path), area > 0.0, std::fabs(area)});
      paths.push_back(&path);
    }
  }
  const Answer answer{std::move(rings), RingBands(paths)};
  // Only the outer rings that held kept rings are looked for.
  std::vector<char> held(arounds.size(), 0);
  for (const Kept& k : kept) {
    if (k.in_outer) held[k.around] = 1;
  }
  std::vector<std::pair<std::ptrdiff_t, std::ptrdiff_t>> homes_of_arounds(arounds.size());
  parallel_for(arounds.size(), [&](std::size_t a) {
    if (held[a]) homes_of_arounds[a] = holder(answer, arounds[a]);
  });
  std::vector<std::pair<std::ptrdiff_t, std::ptrdiff_t>> homes(kept.size());
  parallel_for(kept.size(), [&](std::size_t k) {
    // A ring kept in a pinched outer ring finds the part that holds it on its own.
    const bool shared = kept[k].in_outer && homes_of_arounds[kept[k].around].first >= 0;
    homes[k] = shared ? homes_of_arounds[kept[k].around] : holder(answer, kept[k]);
  });
  for (std::size_t k = 0; k < kept.size(); ++k) {
    const auto [q, r] = homes[k];
    if (q < 0 && kept[k].in_outer) {
      throw InternalError("internal error: a hole kept through a strip seam has no outer ring");
    }
    if (q < 0) {  // an island no new hole holds: a piece of its own
      Piece piece;
      piece.box = c2::GetBounds(kept[k].rings.front().path);
      piece.clean = true;
      piece.rings = std::move(kept[k].rings);
      out.push_back(std::move(piece));
      continue;
    }
    std::vector<UnionRing>& into = united[static_cast<std::size_t>(q)].rings;
    const auto base = static_cast<std::ptrdiff_t>(into.size());
    for (UnionRing& ring : kept[k].rings) {
      into.push_back({std::move(ring.path), ring.parent < 0 ? r : ring.parent + base});
    }
  }
  for (Piece& p : united) out.push_back(std::move(p));
  return out;
}

// Whether v lies on a seam, at most kSeamSnap grid units off the line from a to b.
bool seam_vertex(const c2::Point64& a, const c2::Point64& v, const c2::Point64& b,
                 const std::vector<std::int64_t>& seams) {
  if (!std::binary_search(seams.begin(), seams.end(), v.x)) return false;
  const Wide turn = static_cast<Wide>(v.x - a.x) * (b.y - a.y) -
                    static_cast<Wide>(v.y - a.y) * (b.x - a.x);
  const double length = std::hypot(static_cast<double>(b.x - a.x), static_cast<double>(b.y - a.y));
  return std::fabs(static_cast<double>(turn)) <= static_cast<double>(kSeamSnap) * length;
}

// Drops the vertices the cuts left on the seams, in one walk that compares each vertex with the
// last one kept and the next one.
void drop_seam_vertices(c2::Path64& ring, const std::vector<std::int64_t>& seams) {
  const std::size_t n = ring.size();
  if (n < 4) return;
  // Start from a vertex off every seam, so that the walk's first kept vertex is a real one.
  std::size_t start = n;
  for (std::size_t k = 0; k < n && start == n; ++k) {
    if (!std::binary_search(seams.begin(), seams.end(), ring[k].x)) start = k;
  }
  if (start == n) return;
  c2::Path64 out;
  out.reserve(n);
  out.push_back(ring[start]);
  for (std::size_t step = 1; step < n; ++step) {
    const c2::Point64& v = ring[(start + step) % n];
    const c2::Point64& next = ring[(start + step + 1) % n];
    if (!seam_vertex(out.back(), v, next, seams)) out.push_back(v);
  }
  if (out.size() >= 3) ring = std::move(out);
}

// The summed area of the pieces' rings over the area of their box: how deep they cover it.
double cover(const Pieces& pieces) {
  double area = 0.0;
  for (const Piece& p : pieces) {
    for (const UnionRing& r : p.rings) area += c2::Area(r.path);
  }
  const c2::Rect64 all = bounds_of(pieces);
  const double box = (static_cast<double>(all.right) - static_cast<double>(all.left)) *
                     (static_cast<double>(all.bottom) - static_cast<double>(all.top));
  return box > 0.0 ? std::fabs(area) / box : 0.0;
}

Pieces unite_strip(Pieces pieces, const CancelCheck& cancelled) {
  if (!(cover(pieces) <= kFlatCover)) return unite_in_tree(std::move(pieces), cancelled);
  c2::Paths64 all;
  for (Piece& piece : pieces) {
    for (UnionRing& r : piece.rings) all.push_back(std::move(r.path));
  }
  pieces.clear();
  return unite(std::move(all));
}

}  // namespace

bool fuses(const Pieces& leaves) {
  std::size_t vertices = 0;
  for (const Piece& p : leaves) {
    for (const UnionRing& r : p.rings) vertices += r.path.size();
  }
  return vertices >= kMinLeafVertices && cover(leaves) >= kDenseCover;
}

Pieces unite_in_strips(Pieces leaves, double radius, const CancelCheck& cancelled) {
  if (leaves.empty()) return {};
  const c2::Rect64 all = bounds_of(leaves);
  const double extent = static_cast<double>(all.right) - static_cast<double>(all.left);
  const double step = std::min(kStripRadii * radius, extent / static_cast<double>(kMinStrips));
  if (!(step >= 1.0)) return unite_in_tree(std::move(leaves), cancelled);
  const auto count = static_cast<std::size_t>(std::ceil(extent / step));
  std::vector<std::int64_t> seams;  // between strip k - 1 and strip k, for k = 1 .. count - 1
  for (std::size_t k = 1; k < count; ++k) {
    seams.push_back(all.left + std::llround(step * static_cast<double>(k)));
  }
  const auto strip_of = [&](std::int64_t x) {  // the strip whose [seam, next seam) holds x
    return static_cast<std::size_t>(std::upper_bound(seams.begin(), seams.end(), x) -
                                    seams.begin());
  };
  const auto rect_of = [&](std::size_t k) {
    return c2::Rect64(k == 0 ? all.left - 1 : seams[k - 1], all.top - 1,
                      k == seams.size() ? all.right + 1 : seams[k], all.bottom + 1);
  };

  // Each leaf whole in the one strip it lies in, or clipped into each strip it crosses.
  std::vector<std::vector<std::pair<std::size_t, Piece>>> cut(leaves.size());
  parallel_for(leaves.size(), [&](std::size_t i) {
    Piece& whole = leaves[i];
    const std::size_t first = strip_of(whole.box.left);
    const std::size_t last = std::max(first, strip_of(whole.box.right - 1));
    if (first == last) {
      cut[i].emplace_back(first, std::move(whole));
      return;
    }
    c2::Paths64 paths;
    for (UnionRing& r : whole.rings) paths.push_back(std::move(r.path));
    for (std::size_t k = first; k <= last; ++k) {
      const c2::Rect64 rect = rect_of(k);
      c2::Paths64 part = c2::RectClip(rect, paths);
      // The clip rounds where an edge leaves the strip, sometimes a unit off its side: put
      // such points back on it, so that both sides of a seam meet along one line.
      for (c2::Path64& path : part) {
        for (c2::Point64& v : path) {
          if (k > 0 && v.x - rect.left <= kSeamSnap) v.x = rect.left;
          if (k < seams.size() && rect.right - v.x <= kSeamSnap) v.x = rect.right;
        }
      }
      if (!part.empty()) cut[i].emplace_back(k, leaf(std::move(part)));
    }
  });
  std::vector<Pieces> strips(count);
  for (auto& parts : cut) {
    for (auto& [k, piece] : parts) strips[k].push_back(std::move(piece));
  }
  leaves.clear();
  parallel_for(count, [&](std::size_t k) {
    throw_if_cancelled(cancelled);
    strips[k] = unite_strip(std::move(strips[k]), cancelled);
  });

  // Neighbours joined pairwise, level by level: at each level strip groups 2j and 2j + 1 meet
  // along the seam that starts group 2j + 1.
  std::vector<std::size_t> firsts(count);  // each group's first strip
  for (std::size_t k = 0; k < count; ++k) firsts[k] = k;
  while (strips.size() > 1) {
    const std::size_t pairs = strips.size() / 2;
    std::vector<Pieces> joined((strips.size() + 1) / 2);
    parallel_for(pairs, [&](std::size_t j) {
      throw_if_cancelled(cancelled);
      joined[j] = join(std::move(strips[2 * j]), std::move(strips[2 * j + 1]),
                       seams[firsts[2 * j + 1] - 1]);
    });
    std::vector<std::size_t> next_firsts;
    next_firsts.reserve(joined.size());
    for (std::size_t j = 0; j < joined.size(); ++j) next_firsts.push_back(firsts[2 * j]);
    if (strips.size() % 2 == 1) joined.back() = std::move(strips.back());
    strips = std::move(joined);
    firsts = std::move(next_firsts);
  }
  Pieces out = std::move(strips.front());
  parallel_for(out.size(), [&](std::size_t i) {
    for (UnionRing& r : out[i].rings) drop_seam_vertices(r.path, seams);
  });
  return out;
}

}  // namespace linetopo::inflate_parts
