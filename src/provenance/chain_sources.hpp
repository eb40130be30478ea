// Provenance: which input curves run along each chain of a result, so that what the curves carry
// (names, classes, colours, how many traces followed a road) can be handed on to the chains.
#pragma once

#include <cstddef>
#include <vector>

#include "geometry/geometry.hpp"
#include "parallel/cancel.hpp"

namespace linetopo {

// A curve runs along a chain only where its direction is within this many degrees of the chain's,
// unless told otherwise: a street crossing another is not one of its sources.
inline constexpr double kDefaultSourceMaxAngleDegrees = 45.0;
// A curve is a source of a chain when it runs along at least this share of the chain's length,
// unless told otherwise.
inline constexpr double kDefaultSourceMinShare = 0.5;

struct SourceSettings {
  double radius = 0.0;  // how near a curve must pass; positive and finite
  double max_angle_degrees = kDefaultSourceMaxAngleDegrees;  // within [0, 90]
  double min_share = kDefaultSourceMinShare;                 // within [0, 1]
};

struct ChainSource {
  std::size_t curve = 0;
  double share = 0.0;  // of the chain's length, in [0, 1]
  friend bool operator==(const ChainSource&, const ChainSource&) = default;
};

// For each chain, the curves that run along it, by ascending curve index, each with the share of
// the chain's length it runs along.
//
// The chain is measured at sample points spaced at most a quarter of the radius apart along each
// of its segments (closer on a short segment, and at most kMaxSamplesPerSegment per segment), each
// standing for its stretch of the chain. A curve runs along a sample when one of its segments
// passes within the radius of it with a direction, either way round, within max_angle_degrees of
// the chain's there; its share is the length of the samples it runs along over the chain's
// length. A chain without length is one sample that any direction runs along. Curves of fewer
// than two distinct points run along nothing.
//
// Throws InputError for a setting outside its range or a point that is not finite, naming it,
// and for more chain-curve pairs within the radius than kMaxSourcePairsVariable allows.
// `cancelled` is asked once per chain and every 1024 of its segments.
std::vector<std::vector<ChainSource>> chain_sources(const std::vector<Polyline>& chains,
                                                    const std::vector<Polyline>& curves,
                                                    const SourceSettings& settings,
                                                    const CancelCheck& cancelled = {});

// Names the environment variable that sets how many chain-curve pairs may come within the radius
// in about the same direction (by default a number that grows with the points of the chains and
// curves): a radius far beyond the lines' spacing pairs everything with everything.
inline constexpr const char* kMaxSourcePairsVariable = "LINETOPO_MAX_SOURCE_PAIRS";

// The most samples one chain segment is measured at, so that the work stays bounded by the
// chains' points whatever the radius.
inline constexpr std::size_t kMaxSamplesPerSegment = 64;

}  // namespace linetopo
