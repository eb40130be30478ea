// Polygons given as they are (rivers, road areas, glyphs) made into the valid region the rest of
// the pipeline takes: each polygon filled and holed by the non-zero rule, then all united; and
// traced outlines, already valid, sorted into polygons.
#include <clipper2/clipper.h>

#include <algorithm>
#include <optional>
#include <utility>

#include "inflate/meeting.hpp"
#include "inflate/bands.hpp"
#include "inflate/finish.hpp"
#include "inflate/inflate.hpp"
#include "inflate/nesting.hpp"
#include "inflate/offsets.hpp"
#include "inflate/union_tree.hpp"
#include "parallel/parallel.hpp"

namespace linetopo {
namespace {

using namespace inflate_parts;  // this stage's own parts

// The ring on the grid, or nothing when it has fewer than 3 distinct points.
void add_ring(const Ring& ring, c2::Paths64& out) {
  c2::Path64 path = to_grid(ring);
  c2::Path64 distinct = path;
  std::sort(distinct.begin(), distinct.end(), [](const c2::Point64& a, const c2::Point64& b) {
    return a.x < b.x || (a.x == b.x && a.y < b.y);
  });
  if (std::unique(distinct.begin(), distinct.end()) - distinct.begin() >= 3) {
    out.push_back(std::move(path));
  }
}

// A valid polygon's region without a sweep: rings that neither cross nor touch, themselves or
// each other, are the region's own rings once the outer one runs the positive way and the holes
// the other, less the holes outside the outer ring or inside another hole. Nothing when they
// meet (or finding out would cost about a sweep).
std::optional<Pieces> valid_region(c2::Paths64& outer, c2::Paths64& holes) {
  std::vector<const c2::Path64*> rings{&outer.front()};
  for (const c2::Path64& hole : holes) rings.push_back(&hole);
  const std::optional<Meeting> met =
      meeting(rings, std::vector<std::size_t>(rings.size(), 0), 1, true);
  if (!met || met->self_meets) return std::nullopt;
  const auto orient = [](c2::Path64& path, bool positive) {
    if ((c2::Area(path) > 0.0) != positive) std::reverse(path.begin(), path.end());
  };
  orient(outer.front(), true);
  for (c2::Path64& hole : holes) orient(hole, false);
  std::vector<char> keep(holes.size(), 0);
  if (!holes.empty()) {
    const RingBands bands(rings);
    parallel_for(holes.size(), [&](std::size_t h) {
      const c2::Path64& r = holes[h];
      std::vector<std::size_t> around;
      std::vector<std::size_t> on;
      bands.locate(Wide{r[0].x} + r[1].x, Wide{r[0].y} + r[1].y,
                   [h](std::size_t ring) { return ring == h + 1; }, around, on);
      keep[h] = around.size() == 1 && around.front() == 0 ? 1 : 0;
    });
  }
  c2::Paths64 kept{std::move(outer.front())};
  for (std::size_t h = 0; h < holes.size(); ++h) {
    if (keep[h]) kept.push_back(std::move(holes[h]));
  }
  return pieces_of(std::move(kept));
}

// One polygon's region: what its outer ring encloses less what its holes do, as clean pieces.
// Swept across its short side: a sweep's scanlines cross every edge they pass, and along the
// long side of a comb-like edge that is every tooth on each of them.
Pieces region_of(const BufferPolygon& polygon) {
  c2::Paths64 outer;
  add_ring(polygon.outer, outer);
  if (outer.empty()) return {};
  c2::Paths64 holes;
  for (const Ring& hole : polygon.holes) add_ring(hole, holes);
  if (std::optional<Pieces> valid = valid_region(outer, holes)) return std::move(*valid);
  const c2::Rect64 box = c2::GetBounds(outer);
  const bool wide = box.Width() > box.Height();
  if (wide) {
    transpose(outer);
    transpose(holes);
  }
  c2::Clipper64 clipper;
  clipper.AddSubject(outer);
  clipper.AddClip(holes);
  c2::Paths64 answer;
  clipper.Execute(holes.empty() ? c2::ClipType::Union : c2::ClipType::Difference,
                  c2::FillRule::NonZero, answer);
  if (wide) transpose(answer);
  return pieces_of(std::move(answer));
}

}  // namespace

std::vector<BufferPolygon> unite_polygons(const std::vector<BufferPolygon>& polygons,
                                          const InflateSettings& settings,
                                          const CancelCheck& cancelled) {
  std::vector<const Polyline*> lines;
  for (const BufferPolygon& polygon : polygons) {
    lines.push_back(&polygon.outer);
    for (const Ring& hole : polygon.holes) lines.push_back(&hole);
  }
  const GridFrame frame = grid_frame(lines, settings);
  std::vector<UnionRing> rings;
  try {
    std::vector<Pieces> regions(polygons.size());
    parallel_for(polygons.size(), [&](std::size_t i) {
      throw_if_cancelled(cancelled);
      if (frame.plain()) {
        regions[i] = region_of(polygons[i]);
        return;
      }
      BufferPolygon moved{frame.to_local(polygons[i].outer), {}};
      for (const Ring& hole : polygons[i].holes) moved.holes.push_back(frame.to_local(hole));
      regions[i] = region_of(moved);
    });
    Pieces leaves;
    for (Pieces& region : regions) {
      for (Piece& piece : region) leaves.push_back(std::move(piece));
    }
    if (leaves.empty()) return {};
    Pieces united = unite_in_tree(std::move(leaves), cancelled);
    append_rings(united, rings);
  } catch (const c2::Clipper2Exception&) {
    throw InputError("the polygons reach beyond about 2.3e12, the range of Clipper2's integer "
                     "grid; coordinates must stay below it");
  }
  std::vector<BufferPolygon> out =
      polygons_of(std::move(rings), frame.local_settings(settings).min_hole_area);
  frame.to_world(out);
  return out;
}

std::vector<BufferPolygon> nest_rings(std::vector<Ring> rings, const InflateSettings& settings,
                                      const CancelCheck& cancelled) {
  std::vector<const Polyline*> lines;
  lines.reserve(rings.size());
  for (const Ring& ring : rings) lines.push_back(&ring);
  const GridFrame frame = grid_frame(lines, settings);
  c2::Paths64 paths;
  paths.reserve(rings.size());
  for (Ring& ring : rings) {
    add_ring(frame.plain() ? ring : frame.to_local(ring), paths);
    ring = Ring{};  // freed as it goes: a large scan's outline is most of its memory
  }
  throw_if_cancelled(cancelled);
  std::vector<UnionRing> nested;
  try {
    Pieces pieces = pieces_of(std::move(paths));
    append_rings(pieces, nested);
  } catch (const c2::Clipper2Exception&) {
    throw InputError("the rings reach beyond about 2.3e12, the range of Clipper2's integer grid");
  }
  const InflateSettings local = frame.local_settings(settings);
  std::vector<BufferPolygon> out =
      polygons_of(std::move(nested), local.min_hole_area, local.min_hole_width);
  frame.to_world(out);
  return out;
}

}  // namespace linetopo
