// Hash-map keys shared by the stages: grid cells and unordered index pairs. Maps keyed by them are
// only looked up, never iterated for output, so no result depends on the hash.
#pragma once

#include <cstddef>
#include <cstdint>

namespace linetopo {

// A square grid cell, by its signed integer coordinates.
struct CellKey {
  std::int64_t x = 0;
  std::int64_t y = 0;
  friend bool operator==(const CellKey&, const CellKey&) = default;
};

// An undirected pair of indices, always stored as (smaller, larger).
struct IndexPair {
  std::size_t lo = 0;
  std::size_t hi = 0;
  friend bool operator==(const IndexPair&, const IndexPair&) = default;
};

inline IndexPair index_pair(std::size_t a, std::size_t b) {
  return a < b ? IndexPair{a, b} : IndexPair{b, a};
}

// splitmix64 finaliser.
inline std::uint64_t mix64(std::uint64_t z) {
  z += 0x9e3779b97f4a7c15ULL;
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

struct KeyHash {
  std::size_t operator()(const CellKey& k) const noexcept {
    return static_cast<std::size_t>(
        mix64(static_cast<std::uint64_t>(k.x) ^ mix64(static_cast<std::uint64_t>(k.y))));
  }
  std::size_t operator()(const IndexPair& p) const noexcept {
    return static_cast<std::size_t>(mix64(p.lo ^ mix64(p.hi)));
  }
};

}  // namespace linetopo
