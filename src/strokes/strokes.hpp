// Strokes: the chains of a topology joined through their nodes into one polyline per drawn line,
// pairing at every junction the chain ends that continue each other most straightly.
#pragma once

#include <cstddef>
#include <optional>
#include <utility>
#include <vector>

#include "geometry/geometry.hpp"

namespace linetopo {

// Without an explicit reach, end directions are measured over this many mean segment lengths:
// far enough to look past the wobble of the last few points at a junction, near enough to stay on
// the local course of the line.
inline constexpr double kDefaultReachSegments = 3.0;

// The largest turn, in degrees, at which two chain ends continue each other unless told otherwise.
inline constexpr double kDefaultMaxTurnDegrees = 45.0;

struct StrokeSettings {
  // Two chain ends at a junction join only when the line turns by at most this many degrees
  // there; within [0, 180].
  double max_turn_degrees = kDefaultMaxTurnDegrees;
  // Arc length from a chain end over which its direction is measured; positive and finite.
  // Absent: kDefaultReachSegments times the mean segment length, repeated points left out.
  std::optional<double> tangent_reach;
};

// One chain of a stroke; a reversed chain is walked from its last point to its first.
struct StrokeChain {
  std::size_t chain = 0;
  bool reversed = false;
  friend bool operator==(const StrokeChain&, const StrokeChain&) = default;
};

struct Strokes {
  std::vector<Polyline> strokes;
  std::vector<std::vector<StrokeChain>> stroke_chains;  // per stroke, in walking order
};

// Joins chains (as topologize returns them: chain i runs from node chain_node_ids[i].first to
// node chain_node_ids[i].second, and its end points are those nodes' positions) into strokes.
//
// The direction of a chain end points from the end to the point at arc length `reach` along the
// chain, or to its far end when the chain is shorter. A chain whose first and last points
// coincide is measured over at most a quarter of its length, so that a loop's two ends keep
// distinct directions. An end whose chain has no point off the end point has no direction.
//
// The degree of a node is its number of chain ends (a loop counts twice). At a node of degree 2
// the two ends always join; at degree 1 the stroke ends. At degree 3 or more the pair of ends
// whose directions are closest to opposite joins, if the turn there (180 degrees minus the angle
// between the directions) is at most max_turn_degrees; then the closest pair of the remaining
// ends, and so on. Equal turns go to the pair that turns least between the first points off the
// node, then to the lower chain index, a chain's first point before its last. Ends without a
// direction never join there. Ends left over end their strokes.
//
// Every chain lies in exactly one stroke. A joint keeps one copy of its node's point, so a stroke
// has the points of its chains minus one per joint. A stroke whose pairings close into a cycle
// repeats its first point at the end and starts at its lowest chain index, walked forwards. An
// open stroke runs in the direction in which its point sequence is lexicographically smaller (by
// x, then y) than its reverse; a stroke equal to its reverse walks its lowest chain forwards.
// Strokes are ordered by their lowest chain index. Thus the strokes, as point sequences, depend
// neither on the order of the chains and nodes nor on the direction of each chain, apart from
// where a closed stroke starts and from ties that only the chain index breaks (mirror images).
//
// Costs O(N log N) for N chain points, however many chains meet at a node; more only where
// many ends at a node head within 1e-10 degrees of each other without heading exactly alike.
// Throws InputError, naming the argument as the Python caller knows it (chains, nodes,
// chain_node_ids, max_turn, tangent_reach), for a chain of fewer than 2 points, a non-finite
// coordinate, a node id out of range, a chain_node_ids list whose size differs from that of
// chains, a max_turn outside [0, 180], or a tangent_reach that is not positive and finite.
Strokes build_strokes(const std::vector<Polyline>& chains, const std::vector<Point>& nodes,
                      const std::vector<std::pair<std::size_t, std::size_t>>& chain_node_ids,
                      const StrokeSettings& settings);

}  // namespace linetopo
