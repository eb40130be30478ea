// The pairing of chain ends at one junction, by trying every pair at small junctions and by
// angular order at large ones.
#include "strokes/junction_pairing.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <span>
#include <tuple>
#include <utility>
#include <vector>

namespace linetopo::strokes_detail {
namespace {

// Junctions of at most this degree pair their ends by trying every pair, which for the few ends
// most junctions have is quicker than ordering them by angle.
constexpr std::size_t kAllPairsDegree = 16;
constexpr double kDegreesPerRadian = 180.0 / kPi;
// An angular gap read off sorted atan2 angles matches turn_degrees only to rounding, well below
// this many degrees: scans reach this much further and leave the decision to turn_degrees.
constexpr double kTurnSlack = 1e-10;

// The angle (radians, within [-pi, pi]) of the opposite direction.
double opposite(double angle) { return angle > 0.0 ? angle - kPi : angle + kPi; }

// Two ends that may join, ranked as pairing ranks them: turn, then the turn between the first
// steps, then the end numbers (a < b).
struct Candidate {
  double turn = std::numeric_limits<double>::infinity();
  double step_turn = std::numeric_limits<double>::infinity();
  std::size_t a = kNoPartner;
  std::size_t b = kNoPartner;
  friend bool operator<(const Candidate& p, const Candidate& q) {
    return std::tie(p.turn, p.step_turn, p.a, p.b) < std::tie(q.turn, q.step_turn, q.a, q.b);
  }
};

// Items at angles on circles that share one array: each circle holds a range of items in
// increasing angle. Items get removed; a scan visits the remaining ones of a circle outwards from
// a target angle, both ways round and nearest first, while their angular gap (in degrees) stays
// within a bound that the visitor may tighten as it goes.
class Circles {
 public:
  void clear() {
    angle_.clear(), live_.clear(), up_.clear(), next_.clear(), prev_.clear(), count_.clear();
    first_.assign(1, 0);
  }

  // Appends an item to the circle being filled; angles must not decrease within a circle.
  void push(double angle) {
    const std::size_t i = angle_.size();
    angle_.push_back(angle), live_.push_back(1), up_.push_back(i + 1);
    next_.push_back(i + 1), prev_.push_back(i - 1);  // closed into a ring by close_circle
  }

  // Ends the circle being filled, numbering circles in order from 0.
  void close_circle() {
    const std::size_t lo = first_.back(), hi = angle_.size();
    if (hi > lo) next_[hi - 1] = lo, prev_[lo] = hi - 1;
    count_.push_back(hi - lo);
    first_.push_back(hi);
  }

  double angle(std::size_t item) const { return angle_[item]; }

  void remove(std::size_t circle, std::size_t item) {
    live_[item] = 0;
    next_[prev_[item]] = next_[item];
    prev_[next_[item]] = prev_[item];
    --count_[circle];
  }

  template <class Bound, class Visit>
  void scan(std::size_t circle, double target, const Bound& bound, const Visit& visit) {
    const std::size_t count = count_[circle];
    if (count == 0) return;
    const std::size_t lo = first_[circle], hi = first_[circle + 1];
    const auto begin = angle_.begin();
    std::size_t start = first_live(
        static_cast<std::size_t>(std::lower_bound(begin + static_cast<std::ptrdiff_t>(lo),
                                                  begin + static_cast<std::ptrdiff_t>(hi), target) -
                                 begin),
        hi);
    if (start == hi) start = first_live(lo, hi);
    // Between the two ways round, every item at most once.
    std::size_t seen = 0;
    const auto within = [&](double gap) {
      if (gap < 0.0) gap += 2.0 * kPi;
      return gap * kDegreesPerRadian <= bound() + kTurnSlack;
    };
    for (std::size_t i = start; seen < count && within(angle_[i] - target); i = next_[i]) {
      ++seen, visit(i);
    }
    for (std::size_t i = prev_[start]; seen < count && within(target - angle_[i]);
         i = prev_[i]) {
      ++seen, visit(i);
    }
  }

 private:
  // The first item left at or after i in a circle ending at hi; hi when there is none.
  std::size_t first_live(std::size_t i, std::size_t hi) {
    std::size_t root = i;
    while (root != hi && !live_[root]) root = up_[root];
    while (i != root) {
      const std::size_t up = up_[i];
      up_[i] = root;
      i = up;
    }
    return root;
  }

  std::vector<double> angle_;
  std::vector<char> live_;
  std::vector<std::size_t> up_;  // towards the next item left, for removed items
  std::vector<std::size_t> next_, prev_;  // the items left, as a ring per circle
  std::vector<std::size_t> first_, count_;
};

// Pairs the ends at a junction as joining pairs of least (turn, step turn, a, b) one by one,
// while both ends are free, would. Ends whose directions and first steps agree to the bit make a
// class: pairs between two classes differ only in end numbers, so the best of them joins the two
// lowest free ends, and classes are taken from the front. A turn is the angle between one
// direction and the opposite of the other, so a class finds its best partner class near its
// mirrored direction in an angular order of the directions, and within that direction near its
// mirrored first step. A heap holds each class's best pair as last found; ends only get taken, so
// no pair found earlier is better than the best one now, and a top pair whose ends are both still
// free is the best pair left. O(d log d) for d ends, unless many distinct directions lie within
// kTurnSlack of each other.
class Pairing {
 public:
  Pairing(const std::vector<Point>& direction, const std::vector<Point>& step,
                  double max_turn, std::vector<std::size_t>& partner)
      : direction_(direction), step_(step), max_turn_(max_turn), partner_(partner) {}

  void pair(std::span<const std::size_t> ends) {
    if (ends.size() <= kAllPairsDegree) {
      pair_all(ends);
      return;
    }
    classify(ends);
    heap_.clear();
    for (std::size_t k = 0; k < head_.size(); ++k) offer(k);
    while (!heap_.empty()) {
      std::pop_heap(heap_.begin(), heap_.end(), later);
      const Offer top = heap_.back();
      heap_.pop_back();
      if (partner_[top.pair.a] == kNoPartner && partner_[top.pair.b] == kNoPartner) {
        join(top.pair.a, top.pair.b);
        take(top.from), take(top.to);
      }
      offer(top.from);
    }
  }

 private:
  struct End {
    double angle, step_angle;
    std::uint64_t x, y, step_x, step_y;  // bits
    char moving;                         // a first step off the node; zero steps first
    std::size_t end;
    auto key() const { return std::tie(angle, x, y, moving, step_angle, step_x, step_y, end); }
  };
  struct Offer {
    Candidate pair;
    std::size_t from, to;  // classes
  };
  static bool later(const Offer& p, const Offer& q) { return q.pair < p.pair; }

  void join(std::size_t a, std::size_t b) {
    partner_[check_index(a, partner_.size(), "stroke end")] = b;
    partner_[check_index(b, partner_.size(), "stroke end")] = a;
  }

  void pair_all(std::span<const std::size_t> ends) {
    candidates_.clear();
    for (std::size_t i = 0; i < ends.size(); ++i) {
      const std::size_t a = ends[i];
      if (!has_direction(direction_[a])) continue;
      for (std::size_t j = i + 1; j < ends.size(); ++j) {
        const std::size_t b = ends[j];
        if (!has_direction(direction_[b])) continue;
        const double turn = turn_degrees(direction_[a], direction_[b]);
        if (turn <= max_turn_) {
          candidates_.push_back({turn, turn_degrees(step_[a], step_[b]), a, b});
        }
      }
    }
    std::sort(candidates_.begin(), candidates_.end());
    for (const Candidate& p : candidates_) {
      if (partner_[p.a] == kNoPartner && partner_[p.b] == kNoPartner) join(p.a, p.b);
    }
  }

  // Sorts the ends with a direction into classes, grouped by direction in increasing angle and,
  // within a direction, zero first steps first, then by the first step's angle.
  void classify(std::span<const std::size_t> ends) {
    sorted_.clear();
    for (const std::size_t e : ends) {
      const Point& d = direction_[e];
      const Point& s = step_[e];
      if (!has_direction(d)) continue;
      const char moving = has_direction(s) ? 1 : 0;
      sorted_.push_back({std::atan2(d.y, d.x),
                         moving ? std::atan2(s.y, s.x) : -std::numeric_limits<double>::infinity(),
                         std::bit_cast<std::uint64_t>(d.x), std::bit_cast<std::uint64_t>(d.y),
                         std::bit_cast<std::uint64_t>(s.x), std::bit_cast<std::uint64_t>(s.y),
                         moving, e});
    }
    std::sort(sorted_.begin(), sorted_.end(),
              [](const End& p, const End& q) { return p.key() < q.key(); });
    ends_.clear(), head_.clear(), end_.clear(), group_.clear(), moving_.clear();
    group_first_.clear(), group_direction_.clear(), group_free_.clear();
    by_direction_.clear(), by_step_.clear();
    for (std::size_t i = 0; i < sorted_.size(); ++i) {
      const End& e = sorted_[i];
      const End* before = i > 0 ? &sorted_[i - 1] : nullptr;
      if (!before || before->x != e.x || before->y != e.y) {
        if (before) by_step_.close_circle();
        group_first_.push_back(head_.size());
        group_direction_.push_back(direction_[e.end]);
        group_free_.push_back(0);
        by_direction_.push(e.angle);
      } else if (before->step_x == e.step_x && before->step_y == e.step_y) {
        ends_.push_back(e.end), ++end_.back(), ++group_free_.back();
        continue;
      }
      head_.push_back(ends_.size()), end_.push_back(ends_.size() + 1);
      group_.push_back(group_free_.size() - 1), moving_.push_back(e.moving);
      by_step_.push(e.step_angle);
      ends_.push_back(e.end), ++group_free_.back();
    }
    if (!sorted_.empty()) by_step_.close_circle();
    by_direction_.close_circle();
    group_first_.push_back(head_.size());
    // Zero first steps turn 0 or 180 degrees to any step, whatever its angle: tried one by one.
    for (std::size_t k = 0; k < head_.size(); ++k) {
      if (!moving_[k]) by_step_.remove(group_[k], k);
    }
  }

  void take(std::size_t k) {
    if (++head_[k] == end_[k] && moving_[k]) by_step_.remove(group_[k], k);
    if (--group_free_[group_[k]] == 0) by_direction_.remove(0, group_[k]);
  }

  // Pushes class k's best pair, if it has one.
  void offer(std::size_t k) {
    if (head_[k] == end_[k]) return;
    Offer best{{}, k, kNoPartner};
    Candidate& b = best.pair;
    const std::size_t x = ends_[head_[k]];
    const Point& u = direction_[x];
    const Point& s = step_[x];
    const double step_target = moving_[k] ? opposite(by_step_.angle(k)) : 0.0;
    const auto consider = [&](double turn, std::size_t c) {
      const std::size_t h = head_[c] + (c == k ? 1 : 0);
      if (h >= end_[c]) return;
      const std::size_t y = ends_[h];
      const Candidate p{turn, turn_degrees(s, step_[y]), std::min(x, y), std::max(x, y)};
      if (p < b) b = p, best.to = c;
    };
    const auto visit_direction = [&](std::size_t g) {
      const double turn = turn_degrees(u, group_direction_[g]);
      if (turn > max_turn_ || turn > b.turn) return;
      for (std::size_t c = group_first_[g]; c < group_first_[g + 1] && !moving_[c]; ++c) {
        consider(turn, c);
      }
      const auto step_bound = [&] {
        return moving_[k] && b.turn == turn ? b.step_turn : std::numeric_limits<double>::infinity();
      };
      by_step_.scan(g, step_target, step_bound, [&](std::size_t c) { consider(turn, c); });
    };
    by_direction_.scan(
        0, opposite(by_direction_.angle(group_[k])), [&] { return std::min(b.turn, max_turn_); },
        visit_direction);
    if (best.to == kNoPartner) return;
    heap_.push_back(best);
    std::push_heap(heap_.begin(), heap_.end(), later);
  }

  const std::vector<Point>& direction_;
  const std::vector<Point>& step_;
  const double max_turn_;
  std::vector<std::size_t>& partner_;
  std::vector<Candidate> candidates_;
  std::vector<End> sorted_;
  // Class k holds ends_[head_[k], end_[k]), its free ones from head_[k], in increasing number.
  std::vector<std::size_t> ends_, head_, end_, group_;
  std::vector<char> moving_;
  // Direction g (an item of by_direction_, a circle of by_step_) has classes
  // [group_first_[g], group_first_[g + 1]), with group_free_[g] free ends between them.
  std::vector<std::size_t> group_first_, group_free_;
  std::vector<Point> group_direction_;
  Circles by_direction_, by_step_;  // items are directions and classes
  std::vector<Offer> heap_;
};

}  // namespace

class JunctionPairing::Impl : public Pairing {
 public:
  using Pairing::Pairing;
};

JunctionPairing::JunctionPairing(const std::vector<Point>& direction,
                                 const std::vector<Point>& step, double max_turn,
                                 std::vector<std::size_t>& partner)
    : impl_(std::make_unique<Impl>(direction, step, max_turn, partner)) {}

JunctionPairing::~JunctionPairing() = default;

void JunctionPairing::pair(std::span<const std::size_t> ends) { impl_->pair(ends); }

}  // namespace linetopo::strokes_detail
