// An open-addressing hash map for the tree index: 32-bit keys, small
// trivially copyable values, in one flat array of 8-byte slots, kept up to
// 7/8 full so that a name costs little more than its slot.
//
// Invariants, true between any two calls:
//  1. a slot holds Mix(key), or 0 when empty; Mix is a bijection that keeps
//     0, so 0 is never a key; an entry's home is Mix(key) scaled to the
//     capacity;
//  2. linear probing: every slot from an entry's home up to the entry is
//     taken;
//  3. Robin Hood order: along a run of taken slots the mixed keys rise
//     (round the end of the array), so homes never fall;
//  4. size() entries, at most 7/8 of the capacity.
// Order (3) is what keeps a map this full cheap: a search stops at the
// first entry that sorts after its key, about as soon for a key that is
// absent as for one that is there, where plain linear probing would walk to
// the end of the run (some 30 slots at 7/8). An insertion moves the rest of
// its run up by one slot and an erasure pulls it back, so there are no
// tombstones; a rehash takes the entries in order and so places each in
// one step. Growth is by half while the array is small (below kLarge
// slots) and by an eighth past that, so a large table is never less than
// 7/9 full after it grows: a tree built name by name then weighs about
// what a loaded one does, whose maps are reserved exactly. Past
// ZeroedBlock::kMappedFrom bytes the array is a mapping of its own, which
// grows where it lies into the same layout a rehash gives (GrowInPlace).
// A table halves below 1/8 full, so a deleted subtree gives memory back. A
// key may have several entries, side by side.
// Iteration order is unspecified: nothing observable may depend on it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>
#include <vector>

#include "platform/prefetch.h"
#include "platform/zeroed_block.h"

namespace nametree {

template <class Key, class Value>
class FlatMap {
  static_assert(sizeof(Key) == 4 && sizeof(Value) <= 4, "32-bit keys, small values");
  struct Slot {
    std::uint32_t mixed;
    Value value;
  };

 public:
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }

  // The first entry under key whose value satisfies pred, or null.
  template <class Pred>
  Value* FindIf(Key key, Pred&& pred) {
    if (!block_) return nullptr;
    bool found;
    const std::size_t i = Search(Mix(key), pred, found);
    return found ? &S()[i].value : nullptr;
  }
  template <class Pred>
  const Value* FindIf(Key key, Pred&& pred) const {
    return const_cast<FlatMap*>(this)->FindIf(key, pred);
  }
  Value* Find(Key key) {
    return FindIf(key, [](const Value&) { return true; });
  }
  const Value* Find(Key key) const { return const_cast<FlatMap*>(this)->Find(key); }

  // The first entry under key whose value satisfies same, or else a new
  // value-initialised one (fresh tells which), in one search.
  // REQUIRES: key != 0.
  template <class Pred>
  Value& FindOrInsert(Key key, Pred&& same, bool& fresh) {
    const std::uint32_t m = Mix(key);
    fresh = false;
    if (block_) {
      bool found;
      const std::size_t i = Search(m, same, found);
      if (found) return S()[i].value;
      if ((size_ + 1) * 8 <= capacity_ * 7) {
        fresh = true;
        ++size_;
        return PutAt(i, Slot{m, Value{}});
      }
    }
    Resize(Grown(size_ + 1));
    fresh = true;
    ++size_;
    return PutAt(Place(m), Slot{m, Value{}});
  }

  // The value of key, value-initialised when the key is new.
  // REQUIRES: key != 0.
  Value& Insert(Key key) {
    bool fresh;
    return FindOrInsert(key, [](const Value&) { return true; }, fresh);
  }

  bool Erase(Key key) {
    Value* v = Find(key);
    if (v) EraseAt(v);
    return v != nullptr;
  }

  // REQUIRES: at was returned by FindIf, Find or an insertion, and the map
  // has not changed since.
  void EraseAt(Value* at) {
    std::size_t i = static_cast<std::size_t>(reinterpret_cast<Slot*>(reinterpret_cast<char*>(at) - offsetof(Slot, value)) -
                                             S());
    // Pull the rest of the run back over the hole, up to an entry at home.
    // mutate: flat-map-erase-pulls-entry-off-home
    for (std::size_t j = Next(i); S()[j].mixed && Distance(j) > 0; j = Next(j)) {
      S()[i] = S()[j];
      i = j;
    }
    S()[i] = Slot{};
    --size_;
    if (size_ == 0) {
      Clear();
    } else if (capacity_ > 8 && size_ * 8 < capacity_) {
      // Removal never fails: without room for a smaller array the larger stays.
      try {
        Resize(capacity_ / 2);
      } catch (const std::bad_alloc&) {
      }
    }
  }

  // Asks the cache for key's home slot ahead of an Insert or Find; changes
  // nothing.
  void Prefetch(Key key) const {
    if (!block_) return;
    const Slot* slot = S() + Home(Mix(key));
    PrefetchLine(slot);
  }

  // Makes room for `more` further keys at once, so a bulk insertion does
  // not rehash on the way: exactly, unless that is less than one step of
  // growth, so that many small reservations in a row cost linear time.
  void Reserve(std::size_t more) {
    if (block_ && (size_ + more) * 8 <= capacity_ * 7) return;
    const std::size_t exact = ((size_ + more) * 8 + 6) / 7, grown = Grown(size_ + 1);
    Resize(exact > grown ? exact : grown);
  }

  void Clear() {
    block_.reset();
    capacity_ = 0;
    size_ = 0;
  }

  // Calls f(key, value) for every entry; f must not insert or erase.
  template <class F>
  void ForEach(F&& f) const {
    for (std::size_t i = 0; i < capacity_; ++i)
      if (S()[i].mixed) f(static_cast<Key>(Unmix(S()[i].mixed)), S()[i].value);
  }

  std::size_t MemoryUsage() const { return capacity_ * sizeof(Slot); }
  // The slot where key's search starts, which tests aim keys with.
  std::size_t HomeOf(Key key) const { return capacity_ ? Home(Mix(key)) : 0; }

  // Checks the numbered invariants above.
  bool Valid() const {
    std::size_t taken = 0;
    for (std::size_t i = 0; i < capacity_; ++i) {
      if (!S()[i].mixed) continue;
      ++taken;
      for (std::size_t j = Home(S()[i].mixed); j != i; j = Next(j))
        if (!S()[j].mixed) return false;
      const std::size_t before = i ? i - 1 : capacity_ - 1;
      if (S()[before].mixed && Distance(i) > 0 && SortsAfter(before, S()[before].mixed, Distance(i) - 1, S()[i].mixed))
        return false;
    }
    return taken == size_ && size_ * 8 <= capacity_ * 7 && (capacity_ == 0) == !block_ && block_.Valid() &&
           block_.bytes() >= capacity_ * sizeof(Slot);
  }

 private:
  // murmur3's 32-bit finaliser, and its inverse for ForEach.
  static_assert(sizeof(Slot) == 8);

  static constexpr std::uint32_t Mix(Key key) {
    std::uint32_t h = static_cast<std::uint32_t>(key);
    h ^= h >> 16;
    h *= 0x85ebca6bu;
    h ^= h >> 13;
    h *= 0xc2b2ae35u;
    h ^= h >> 16;
    return h;
  }
  static constexpr std::uint32_t Inverse(std::uint32_t odd) {
    std::uint32_t x = odd;  // Newton's iteration doubles the correct low bits
    for (int i = 0; i < 5; ++i) x *= 2 - odd * x;
    return x;
  }
  static constexpr std::uint32_t Unmix(std::uint32_t h) {
    h ^= h >> 16;
    h *= Inverse(0xc2b2ae35u);
    h ^= (h >> 13) ^ (h >> 26);
    h *= Inverse(0x85ebca6bu);
    h ^= h >> 16;
    return h;
  }
  static_assert(Unmix(Mix(0x12345678u)) == 0x12345678u && Mix(0) == 0);

  static std::size_t HomeIn(std::uint32_t mixed, std::size_t capacity) {
    return static_cast<std::size_t>((std::uint64_t{mixed} * capacity) >> 32);
  }
  std::size_t Home(std::uint32_t mixed) const { return HomeIn(mixed, capacity_); }
  std::size_t Next(std::size_t i) const { return i + 1 == capacity_ ? 0 : i + 1; }
  // How far slot i lies beyond slot from, round the end.
  std::size_t Distance(std::size_t i, std::size_t from) const { return i >= from ? i - from : i + capacity_ - from; }
  std::size_t Distance(std::size_t i) const { return Distance(i, Home(S()[i].mixed)); }
  static constexpr std::size_t kLarge = std::size_t{1} << 16;
  // mutate: flat-map-large-grows-by-half
  static std::size_t Step(std::size_t capacity) { return capacity < kLarge ? capacity / 2 : capacity / 8; }
  std::size_t Grown(std::size_t need) const {
    std::size_t capacity = capacity_ < 8 ? 8 : capacity_ + Step(capacity_);
    while (need * 8 > capacity * 7) capacity += Step(capacity);
    return capacity;
  }

  // Whether the entry x in slot i sorts after a key mixed to m that would
  // sit d slots past its own home there: its home is later, or the same
  // and x is greater.
  bool SortsAfter(std::size_t i, std::uint32_t x, std::size_t d, std::uint32_t m) const {
    const std::size_t dx = Distance(i, Home(x));
    return dx < d || (dx == d && x > m);
  }

  // The slot of the first entry mixed to m whose value satisfies pred
  // (found), or else where such an entry belongs in order.
  // REQUIRES: a free slot.
  template <class Pred>
  std::size_t Search(std::uint32_t m, Pred&& pred, bool& found) const {
    for (std::size_t i = Home(m), d = 0;; i = Next(i), ++d) {
      const std::uint32_t x = S()[i].mixed;
      if (x == m) {
        if (pred(S()[i].value)) return found = true, i;
      // mutate: flat-map-search-stops-on-greater-key
      } else if (!x || SortsAfter(i, x, d, m)) {
        return found = false, i;
      }
    }
  }
  // Where the key mixed to m belongs in order. REQUIRES: a free slot.
  std::size_t Place(std::uint32_t m) const {
    bool found;
    return Search(m, [](const Value&) { return false; }, found);
  }

  // Puts the entry in slot i, moving the rest of the run up by one; the
  // caller counts it. REQUIRES: a free slot.
  Value& PutAt(std::size_t i, Slot entry) {
    Slot* const s = S();
    for (std::size_t j = i; entry.mixed; j = Next(j)) std::swap(entry, s[j]);
    return s[i].value;
  }

  // Either done, or (out of memory) nothing changed. Read from slot 0 on,
  // the entries come in rising order but for those at the array's start
  // that went round its end: those go in last. Taken in rising order, an
  // entry belongs in the first free slot from its home, and every slot from
  // the previous one's home to where it went is taken, so the search starts
  // past that; only an entry whose run would go round the new array's end
  // is placed by a full search.
  void Resize(std::size_t capacity) {
    // mutate: flat-map-mapped-growth-copies
    if (capacity > capacity_ && block_.mapped() && GrowInPlace(capacity)) return;
    ZeroedBlock fresh(capacity * sizeof(Slot));
    ZeroedBlock oldBlock = std::move(block_);
    const Slot* old = static_cast<const Slot*>(oldBlock.get());
    const std::size_t oldCapacity = capacity_;
    block_ = std::move(fresh);
    capacity_ = static_cast<std::uint32_t>(capacity);
    const std::size_t wrapped = WrappedIn(old, oldCapacity);
    std::size_t filled = 0;  // one past the slot last filled in order
    for (std::size_t i = wrapped; i < oldCapacity; ++i) {
      if (!old[i].mixed) continue;
      // mutate: flat-map-rehash-ignores-home
      std::size_t at = std::max(Home(old[i].mixed), filled);
      while (at < capacity_ && S()[at].mixed) ++at;
      if (at == capacity_) {
        // mutate: flat-map-rehash-overflow-at-front
        PutAt(Place(old[i].mixed), old[i]);
        continue;
      }
      S()[at] = old[i];
      filled = at + 1;
    }
    for (std::size_t i = 0; i < wrapped; ++i) PutAt(Place(old[i].mixed), old[i]);
  }

  // The entries at the array's start that went round its end.
  static std::size_t WrappedIn(const Slot* s, std::size_t capacity) {
    std::size_t wrapped = 0;
    while (wrapped < capacity && s[wrapped].mixed && HomeIn(s[wrapped].mixed, capacity) > wrapped) ++wrapped;
    return wrapped;
  }

  // Resize's growth of a mapped array where it lies, to the same layout.
  // In rising order an entry's new slot is the later of its new home and
  // one past the previous entry's, so it never comes before its old slot:
  // moved from the last down, no entry lands on one not yet moved. A first
  // pass, which reads only, records where each chunk's entries start and
  // sets aside those that go round either end; everything that can fail
  // happens before the array changes. False: the system gave no room, and
  // nothing changed.
  bool GrowInPlace(std::size_t capacity) {
    constexpr std::size_t kChunk = 4096;
    const std::size_t oldCapacity = capacity_;
    const std::size_t wrapped = WrappedIn(S(), oldCapacity);
    std::vector<std::uint32_t> starts;  // per chunk: one past the slot filled before it
    starts.reserve((oldCapacity - wrapped) / kChunk + 1);
    std::vector<Slot> aside;  // put in last, in this order
    std::size_t filled = 0;
    for (std::size_t i = wrapped; i < oldCapacity; ++i) {
      if ((i - wrapped) % kChunk == 0) starts.push_back(static_cast<std::uint32_t>(filled));
      if (S()[i].mixed && !PlaceInOrder(S()[i].mixed, capacity, filled)) aside.push_back(S()[i]);
    }
    for (std::size_t i = 0; i < wrapped; ++i) aside.push_back(S()[i]);
    std::vector<Slot> moving;
    std::vector<std::uint32_t> to;
    moving.reserve(kChunk);
    to.reserve(kChunk);
    if (!block_.GrowInPlace(capacity * sizeof(Slot))) return false;
    capacity_ = static_cast<std::uint32_t>(capacity);
    Slot* const s = S();
    // mutate: flat-map-in-place-keeps-wrapped
    for (std::size_t i = 0; i < wrapped; ++i) s[i] = Slot{};
    for (std::size_t c = starts.size(); c-- > 0;) {
      const std::size_t from = wrapped + c * kChunk, end = std::min(from + kChunk, oldCapacity);
      moving.clear();
      to.clear();
      // mutate: flat-map-in-place-chunk-from-zero
      std::size_t next = starts[c];
      for (std::size_t i = from; i < end; ++i) {
        if (!s[i].mixed) continue;
        if (PlaceInOrder(s[i].mixed, capacity_, next)) {
          moving.push_back(s[i]);
          to.push_back(static_cast<std::uint32_t>(next - 1));
        }
        s[i] = Slot{};
      }
      for (std::size_t k = 0; k < moving.size(); ++k) s[to[k]] = moving[k];
    }
    for (const Slot& e : aside) PutAt(Place(e.mixed), e);
    return true;
  }

  // Both passes of GrowInPlace place by this one rule, so that they agree:
  // the next entry in rising order goes to the later of its home and
  // `filled`, which then moves past it; false, with `filled` kept, when that
  // would go round the end.
  static bool PlaceInOrder(std::uint32_t mixed, std::size_t capacity, std::size_t& filled) {
    const std::size_t at = std::max(HomeIn(mixed, capacity), filled);
    if (at >= capacity) return false;
    filled = at + 1;
    return true;
  }

  Slot* S() const { return static_cast<Slot*>(block_.get()); }

  ZeroedBlock block_;
  std::uint32_t capacity_ = 0;
  std::uint32_t size_ = 0;
};

}  // namespace nametree
