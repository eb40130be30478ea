// Marching squares over the pixel centres, cell rows in bands on the pool, then the segments
// linked into rings through the grid edges they cross.
#include "raster/trace.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <string>

#include "parallel/parallel.hpp"

namespace linetopo {
namespace {

// Cell rows per band: enough work per task, and a band's segments are few against the image.
constexpr std::size_t kRowsPerBand = 64;
// The lightest grey level; thresholds lie from 0 to it.
constexpr double kWhite = 255.0;

[[noreturn]] void throw_outline_over(std::size_t limit) {
  const std::string why = "a pattern as fine as the pixels: dithering, noise, a checkerboard";
  throw InputError("the ink's outline has more than " + std::to_string(limit) + " points (" + why +
                   "); set " + kMaxOutlineVariable + " to allow more");
}

// One piece of outline in one cell: from the crossing on grid edge `from` to that on `to`, ink
// on its left.
struct Step {
  std::uint64_t from = 0;
  std::uint64_t to = 0;
  Point at;  // the crossing on `from`
};

// A grey image as a field: positive in the ink, never zero.
class GreyField {
 public:
  GreyField(const GreyView& image, double threshold, bool light_ink)
      : image_(image), light_(light_ink) {
    // No sample lies on the level, so every crossing falls strictly inside its grid edge.
    level_ = ink_level(threshold, light_ink);
    // Beyond the border lies paper of the lightest (or, for light ink, darkest) grey, so that
    // ink at the border ends as it would inside; never ink, whatever the level.
    paper_ = std::min(-1.0, light_ink ? -level_ : level_ - kWhite);
  }
  std::size_t width() const { return image_.width; }
  std::size_t height() const { return image_.height; }
  double paper() const { return paper_; }
  double operator()(std::size_t c, std::size_t r) const {
    const double grey = image_.pixels[r * image_.row_stride + c];
    return light_ ? grey - level_ : level_ - grey;
  }

 private:
  GreyView image_;
  bool light_ = false;
  double level_ = 0.0;
  double paper_ = -1.0;
};

// A field of floats as given, a value at or below zero moved to -floor, so that no sample lies
// on the level.
class FloatField {
 public:
  explicit FloatField(const FieldView& field) : field_(field) {}
  std::size_t width() const { return field_.width; }
  std::size_t height() const { return field_.height; }
  double paper() const { return -field_.floor; }
  double operator()(std::size_t c, std::size_t r) const {
    const double v = field_.values[r * field_.width + c];
    return v > 0.0 ? v : std::min(v, -field_.floor);
  }

 private:
  FieldView field_;
};

template <class Field>
class Tracer {
 public:
  explicit Tracer(const Field& field) : field_(field) {}

  // The segments of the cells whose top-left sample lies in rows [first, last), counted from
  // -1 (the paper above the image). Each row's segments are added to `traced`, and more than
  // max_points there (or in this band alone, within a row of a wide image) throws.
  std::vector<Step> band(std::int64_t first, std::int64_t last, std::atomic<std::size_t>& traced,
                         std::size_t max_points) const {
    std::vector<Step> out;
    const auto columns = static_cast<std::int64_t>(field_.width());
    for (std::int64_t r = first; r < last; ++r) {
      const std::size_t before = out.size();
      // Most cells lie wholly in ink or in paper: their corners' sides, carried from one cell to
      // the next, skip them without computing a crossing.
      bool top_left = false;  // column -1 is paper
      bool bottom_left = false;
      for (std::int64_t c = -1; c < columns; ++c) {
        const bool top_right = inside(c + 1, r);
        const bool bottom_right = inside(c + 1, r + 1);
        if (top_left != top_right || top_left != bottom_left || top_left != bottom_right) {
          cell(c, r, out);
          if (out.size() > max_points) throw_outline_over(max_points);
        }
        top_left = top_right;
        bottom_left = bottom_right;
      }
      const std::size_t row = out.size() - before;
      if (traced.fetch_add(row) + row > max_points) throw_outline_over(max_points);
    }
    return out;
  }

 private:
  bool in_image(std::int64_t c, std::int64_t r) const {
    return c >= 0 && r >= 0 && c < static_cast<std::int64_t>(field_.width()) &&
           r < static_cast<std::int64_t>(field_.height());
  }

  bool inside(std::int64_t c, std::int64_t r) const { return field(c, r) > 0.0; }

  // Positive inside, never zero.
  double field(std::int64_t c, std::int64_t r) const {
    if (!in_image(c, r)) return field_.paper();
    return field_(static_cast<std::size_t>(c), static_cast<std::size_t>(r));
  }

  // Grid edges: horizontal from sample (c, r) to (c + 1, r), vertical from (c, r) to (c, r + 1),
  // numbered from the padded corner.
  std::uint64_t edge_id(std::int64_t c, std::int64_t r, bool vertical) const {
    const auto cc = static_cast<std::uint64_t>(c + 1);
    const auto rr = static_cast<std::uint64_t>(r + 1);
    return ((rr * (field_.width() + 2) + cc) << 1) | (vertical ? 1U : 0U);
  }

  void cell(std::int64_t c, std::int64_t r, std::vector<Step>& out) const {
    // Corners 0 top-left, 1 top-right, 2 bottom-right, 3 bottom-left; edge k runs from corner k
    // to corner k + 1.
    static constexpr std::array<std::array<int, 2>, 4> kCorner{{{0, 0}, {1, 0}, {1, 1}, {0, 1}}};
    std::array<double, 4> s{};
    std::array<bool, 4> in{};
    int inside = 0;
    for (int k = 0; k < 4; ++k) {
      s[k] = field(c + kCorner[k][0], r + kCorner[k][1]);
      in[k] = s[k] > 0.0;
      inside += in[k] ? 1 : 0;
    }
    if (inside == 0 || inside == 4) return;
    std::array<Point, 4> point{};
    std::array<std::uint64_t, 4> id{};
    std::array<bool, 4> crossed{};
    for (int k = 0; k < 4; ++k) {
      const int j = (k + 1) % 4;
      crossed[k] = in[k] != in[j];
      if (!crossed[k]) continue;
      const double t = s[k] / (s[k] - s[j]);
      const double xk = static_cast<double>(c + kCorner[k][0]) + 0.5;
      const double yk = static_cast<double>(r + kCorner[k][1]) + 0.5;
      const double xj = static_cast<double>(c + kCorner[j][0]) + 0.5;
      const double yj = static_cast<double>(r + kCorner[j][1]) + 0.5;
      point[k] = {xk + t * (xj - xk), yk + t * (yj - yk)};
      // The edge from the lower-numbered sample: top and bottom are horizontal.
      const bool vertical = k % 2 == 1;
      const std::int64_t ec = k == 1 ? c + 1 : c;
      const std::int64_t er = k == 2 ? r + 1 : r;
      id[k] = edge_id(ec, er, vertical);
    }
    const auto emit = [&](int e1, int e2) {
      // The corner between adjacent edges, else the top-left one: ink must lie on the left.
      const int x = (e2 == (e1 + 1) % 4) ? e2 : (e1 == (e2 + 1) % 4) ? e1 : 0;
      const Point corner{static_cast<double>(c + kCorner[x][0]) + 0.5,
                         static_cast<double>(r + kCorner[x][1]) + 0.5};
      const Point& p = point[e1];
      const Point& q = point[e2];
      const double cross = (q.x - p.x) * (corner.y - p.y) - (q.y - p.y) * (corner.x - p.x);
      if ((cross > 0.0) == in[x]) {
        out.push_back({id[e1], id[e2], p});
      } else {
        out.push_back({id[e2], id[e1], q});
      }
    };
    if (inside == 2 && in[0] == in[2]) {
      // A saddle: the mean decides whether the ink corners meet through the middle, and the
      // segments cut off the two corners that do not.
      const bool middle = s[0] + s[1] + s[2] + s[3] > 0.0;
      if (in[1] != middle) {
        emit(0, 1);
        emit(2, 3);
      } else {
        emit(3, 0);
        emit(1, 2);
      }
      return;
    }
    std::array<int, 2> ends{};
    int n = 0;
    for (int k = 0; k < 4; ++k) {
      if (crossed[k]) ends[static_cast<std::size_t>(n++)] = k;
    }
    if (n != 2) {
      throw InternalError("internal error: a cell crossed " + std::to_string(n) + " times");
    }
    emit(ends[0], ends[1]);
  }

  Field field_;
};

template <class Field>
InkOutline trace(const Field& field, const CancelCheck& cancelled, std::size_t max_points) {
  InkOutline out;
  if (field.width() == 0 || field.height() == 0) return out;
  const Tracer<Field> tracer(field);
  const auto rows = static_cast<std::int64_t>(field.height()) + 1;  // from -1 to height - 1
  const auto band_rows = static_cast<std::int64_t>(kRowsPerBand);
  const auto bands = static_cast<std::size_t>((rows + band_rows - 1) / band_rows);
  std::vector<std::vector<Step>> per_band(bands);
  std::atomic<std::size_t> traced{0};
  parallel_for(bands, [&](std::size_t b) {
    throw_if_cancelled(cancelled);
    const std::int64_t first = -1 + static_cast<std::int64_t>(b) * band_rows;
    per_band[b] = tracer.band(first, std::min(first + band_rows, rows - 1), traced, max_points);
  });
  std::vector<Step> segments;
  for (std::vector<Step>& band : per_band) {
    segments.insert(segments.end(), band.begin(), band.end());
    band = {};
  }
  parallel_sort(segments.begin(), segments.end(),
                [](const Step& a, const Step& b) { return a.from < b.from; });
  throw_if_cancelled(cancelled);

  // Every crossing starts one segment and ends another, so following `to` closes each ring.
  std::vector<char> used(segments.size(), 0);
  const auto find = [&](std::uint64_t from) {
    const auto it = std::lower_bound(
        segments.begin(), segments.end(), from,
        [](const Step& s, std::uint64_t id) { return s.from < id; });
    if (it == segments.end() || it->from != from) {
      throw InternalError("internal error: an outline that does not close");
    }
    return static_cast<std::size_t>(it - segments.begin());
  };
  for (std::size_t start = 0; start < segments.size(); ++start) {
    if (used[start]) continue;
    Ring ring;
    std::size_t k = start;
    while (!used[k]) {
      used[k] = 1;
      ring.push_back(segments[k].at);
      k = find(segments[k].to);
    }
    if (k != start) throw InternalError("internal error: outline segments that branch");
    (signed_area(ring) > 0.0 ? out.outer : out.holes).push_back(std::move(ring));
  }
  return out;
}

}  // namespace

double ink_level(double threshold, bool light_ink) {
  return light_ink ? std::floor(threshold) + 0.5 : std::ceil(threshold) - 0.5;
}

void check_pixel_budget(std::size_t width, std::size_t height) {
  const std::size_t limit = count_from_environment(kMaxPixelsVariable).value_or(kPixelBudget);
  if (height == 0 || width <= limit / height) return;
  throw InputError("an image of " + std::to_string(width) + " x " + std::to_string(height) +
                   " pixels is more than the limit of " + std::to_string(limit) + " pixels; set " +
                   kMaxPixelsVariable + " to allow more");
}

std::size_t outline_point_limit(std::size_t source_bytes) {
  return budget_limit(kMaxOutlineVariable, source_bytes, kOutlinePointsPerByte,
                      kOutlinePointFloor);
}

InkOutline trace_ink(const GreyView& image, double threshold, bool light_ink,
                     const CancelCheck& cancelled, std::size_t max_points) {
  // The negation catches NaN too; far beyond the grey levels, the level would lose the crossings'
  // precision.
  if (!(threshold >= 0.0 && threshold <= kWhite)) {
    throw InputError("threshold must be a grey level from 0 to 255, got " + number_text(threshold));
  }
  if (image.width == 0 || image.height == 0) return {};
  if (image.pixels == nullptr || image.row_stride < image.width) {
    throw InternalError("internal error: an image view without its pixels");
  }
  return trace(GreyField(image, threshold, light_ink), cancelled, max_points);
}

InkOutline trace_field(const FieldView& field, const CancelCheck& cancelled,
                       std::size_t max_points) {
  if (field.width == 0 || field.height == 0) return {};
  if (field.values == nullptr || !(field.floor > 0.0)) {
    throw InternalError("internal error: a field view without its values or floor");
  }
  return trace(FloatField(field), cancelled, max_points);
}

}  // namespace linetopo
