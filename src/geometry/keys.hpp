// Hash-map keys shared by the stages: grid cells and unordered index pairs. Maps keyed by them are
// only looked up, never iterated for output, so no result depends on the hash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

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

// Keeps neighbouring cells near each other in a table: each 8 x 8 block of cells fills 64
// consecutive slots, and blocks are scattered by the mixer. Welding probes a cell's neighbours,
// which then share cache lines.
struct CellBlockHash {
  std::size_t operator()(const CellKey& k) const noexcept {
    const auto x = static_cast<std::uint64_t>(k.x);
    const auto y = static_cast<std::uint64_t>(k.y);
    const std::uint64_t block = mix64((x >> 3) ^ mix64(y >> 3));
    return static_cast<std::size_t>((block << 6) | ((x & 7) | ((y & 7) << 3)));
  }
};

// An insert-only hash map with open addressing and linear probing, for look-ups on the hot
// paths: one probe touches one slot, where a node-based map chases two pointers.
template <class Key, class Value, class Hash = KeyHash>
class FlatMap {
 public:
  explicit FlatMap(std::size_t expected = 0) { rebuild(capacity_for(expected)); }

  const Value* find(const Key& key) const {
    for (std::size_t i = home(key);; i = (i + 1) & mask_) {
      const Slot& s = slots_[i];
      if (!s.used) return nullptr;
      if (s.key == key) return &s.value;
    }
  }

  // Inserts (key, value) unless key is present; returns the stored value and whether it is new.
  std::pair<Value*, bool> try_emplace(const Key& key, Value value) {
    if (2 * (size_ + 1) > slots_.size()) grow();
    for (std::size_t i = home(key);; i = (i + 1) & mask_) {
      Slot& s = slots_[i];
      if (!s.used) {
        s = Slot{key, std::move(value), true};
        ++size_;
        return {&s.value, true};
      }
      if (s.key == key) return {&s.value, false};
    }
  }

  // Asks the processor to start loading key's first slot, for a look-up a few steps later: on a
  // table far larger than the cache, each look-up otherwise waits for memory in turn.
  void prefetch(const Key& key) const { __builtin_prefetch(&slots_[home(key)]); }

  // For a set: true when key was not yet present.
  bool insert(const Key& key) { return try_emplace(key, Value{}).second; }

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }

 private:
  struct Slot {
    Key key{};
    Value value{};
    bool used = false;
  };

  std::size_t home(const Key& key) const { return Hash{}(key)&mask_; }

  static std::size_t capacity_for(std::size_t expected) {
    std::size_t c = 16;
    while (c < 2 * expected) c *= 2;
    return c;
  }

  void rebuild(std::size_t capacity) {
    slots_.assign(capacity, Slot{});
    mask_ = capacity - 1;
    size_ = 0;
  }

  void grow() {
    std::vector<Slot> old = std::move(slots_);
    rebuild(2 * old.size());
    for (Slot& s : old) {
      if (s.used) try_emplace(s.key, std::move(s.value));
    }
  }

  std::vector<Slot> slots_;
  std::size_t mask_ = 0;
  std::size_t size_ = 0;
};

template <class Key, class Hash = KeyHash>
using FlatSet = FlatMap<Key, char, Hash>;

}  // namespace linetopo
