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
// what a loaded one does, whose maps are reserved exactly. A table halves
// below 1/8 full, so a deleted subtree gives memory back. A key may have
// several entries, side by side.
// Iteration order is unspecified: nothing observable may depend on it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>

#include "platform/huge_pages.h"
#include "platform/prefetch.h"

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
    if (!slots_) return nullptr;
    bool found;
    const std::size_t i = Search(Mix(key), pred, found);
    return found ? &slots_[i].value : nullptr;
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
    if (slots_) {
      bool found;
      const std::size_t i = Search(m, same, found);
      if (found) return slots_[i].value;
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
                                             slots_.get());
    // Pull the rest of the run back over the hole, up to an entry at home.
    for (std::size_t j = Next(i); slots_[j].mixed && Distance(j) > 0; j = Next(j)) {
      slots_[i] = slots_[j];
      i = j;
    }
    slots_[i] = Slot{};
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
    if (!slots_) return;
    const Slot* slot = slots_.get() + Home(Mix(key));
    PrefetchLine(slot);
  }

  // Makes room for `more` further keys at once, so a bulk insertion does
  // not rehash on the way: exactly, unless that is less than one step of
  // growth, so that many small reservations in a row cost linear time.
  void Reserve(std::size_t more) {
    if (slots_ && (size_ + more) * 8 <= capacity_ * 7) return;
    const std::size_t exact = ((size_ + more) * 8 + 6) / 7, grown = Grown(size_ + 1);
    Resize(exact > grown ? exact : grown);
  }

  void Clear() {
    slots_.reset();
    capacity_ = 0;
    size_ = 0;
  }

  // Calls f(key, value) for every entry; f must not insert or erase.
  template <class F>
  void ForEach(F&& f) const {
    for (std::size_t i = 0; i < capacity_; ++i)
      if (slots_[i].mixed) f(static_cast<Key>(Unmix(slots_[i].mixed)), slots_[i].value);
  }

  std::size_t MemoryUsage() const { return capacity_ * sizeof(Slot); }
  // The slot where key's search starts, which tests aim keys with.
  std::size_t HomeOf(Key key) const { return capacity_ ? Home(Mix(key)) : 0; }

  // Checks the numbered invariants above.
  bool Valid() const {
    std::size_t taken = 0;
    for (std::size_t i = 0; i < capacity_; ++i) {
      if (!slots_[i].mixed) continue;
      ++taken;
      for (std::size_t j = Home(slots_[i].mixed); j != i; j = Next(j))
        if (!slots_[j].mixed) return false;
      const std::size_t before = i ? i - 1 : capacity_ - 1;
      if (slots_[before].mixed && Distance(i) > 0 && SortsAfter(before, slots_[before].mixed, Distance(i) - 1, slots_[i].mixed))
        return false;
    }
    return taken == size_ && size_ * 8 <= capacity_ * 7 && (capacity_ == 0) == !slots_;
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
  std::size_t Distance(std::size_t i) const { return Distance(i, Home(slots_[i].mixed)); }
  static constexpr std::size_t kLarge = std::size_t{1} << 16;
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
      const std::uint32_t x = slots_[i].mixed;
      if (x == m) {
        if (pred(slots_[i].value)) return found = true, i;
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
    Slot* const s = slots_.get();
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
    std::unique_ptr<Slot[]> fresh(new Slot[capacity]);
    AdviseHugePages(fresh.get(), capacity * sizeof(Slot));
    std::fill_n(fresh.get(), capacity, Slot{});
    std::unique_ptr<Slot[]> old = std::move(slots_);
    const std::size_t oldCapacity = capacity_;
    slots_ = std::move(fresh);
    capacity_ = static_cast<std::uint32_t>(capacity);
    std::size_t wrapped = 0;  // the entries before it went round the end
    while (wrapped < oldCapacity && old[wrapped].mixed && HomeIn(old[wrapped].mixed, oldCapacity) > wrapped) ++wrapped;
    std::size_t filled = 0;  // one past the slot last filled in order
    for (std::size_t i = wrapped; i < oldCapacity; ++i) {
      if (!old[i].mixed) continue;
      std::size_t at = std::max(Home(old[i].mixed), filled);
      while (at < capacity_ && slots_[at].mixed) ++at;
      if (at == capacity_) {
        PutAt(Place(old[i].mixed), old[i]);
        continue;
      }
      slots_[at] = old[i];
      filled = at + 1;
    }
    for (std::size_t i = 0; i < wrapped; ++i) PutAt(Place(old[i].mixed), old[i]);
  }

  std::unique_ptr<Slot[]> slots_;
  std::uint32_t capacity_ = 0;
  std::uint32_t size_ = 0;
};

}  // namespace nametree
