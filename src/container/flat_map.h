// An open-addressing hash map for the tree index: integer keys, small
// trivially copyable values, in one flat array of slots. Key 0 marks an empty
// slot, so 0 is never a key. Linear probing with backward-shift deletion
// keeps the array free of tombstones; the array doubles at 7/8 full and
// halves when it falls below 1/8, so a deleted subtree gives memory back.
// Iteration order is unspecified: nothing observable may depend on it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

namespace nametree {

template <class Key, class Value>
class FlatMap {
  static_assert(sizeof(Key) % 4 == 0 && alignof(Value) <= 4, "keys of whole 32-bit words, small values");
  // A 64-bit key kept as two 32-bit words, so that a 32-bit value does not
  // pad its slot to 16 bytes; key and value share one cache line.
  struct Slot {
    std::uint32_t key[sizeof(Key) / 4];
    Value value;
  };

 public:
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }

  Value* Find(Key key) {
    if (!slots_) return nullptr;
    for (std::size_t i = Home(key);; i = (i + 1) & mask_) {
      const Key k = KeyAt(i);
      if (k == key) return &slots_[i].value;
      if (k == Key{}) return nullptr;
    }
  }
  const Value* Find(Key key) const { return const_cast<FlatMap*>(this)->Find(key); }

  // The value of key, value-initialised when the key is new.
  // REQUIRES: key != 0.
  Value& Insert(Key key) {
    if (!slots_ || (size_ + 1) * 8 > (mask_ + 1) * 7) Resize(slots_ ? (mask_ + 1) * 2 : 8);
    std::size_t i = Home(key);
    for (Key k; (k = KeyAt(i)) != Key{}; i = (i + 1) & mask_)
      if (k == key) return slots_[i].value;
    std::memcpy(slots_[i].key, &key, sizeof(Key));
    slots_[i].value = Value{};
    ++size_;
    return slots_[i].value;
  }

  bool Erase(Key key) {
    if (!slots_) return false;
    std::size_t i = Home(key);
    for (Key k; (k = KeyAt(i)) != key; i = (i + 1) & mask_)
      if (k == Key{}) return false;
    // Pull later entries of the probe run back over the hole.
    for (std::size_t j = (i + 1) & mask_; KeyAt(j) != Key{}; j = (j + 1) & mask_) {
      const std::size_t home = Home(KeyAt(j));
      if (((j - home) & mask_) >= ((j - i) & mask_)) {
        slots_[i] = slots_[j];
        i = j;
      }
    }
    slots_[i] = Slot{};
    --size_;
    if (size_ == 0) {
      Clear();
    } else if (mask_ + 1 > 8 && size_ * 8 < mask_ + 1) {
      // Removal never fails: without room for a smaller array the larger stays.
      try {
        Resize((mask_ + 1) / 2);
      } catch (const std::bad_alloc&) {
      }
    }
    return true;
  }

  // Asks the cache for key's home slot ahead of an Insert or Find; changes
  // nothing.
  void Prefetch(Key key) const {
    if (!slots_) return;
    const Slot* slot = slots_.get() + Home(key);
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
    asm volatile("prefetcht0 %0" : : "m"(*slot));  // GCC 12 drops the builtin here
#else
    __builtin_prefetch(slot);
#endif
  }

  // Makes room for `more` further keys at once, so a bulk insertion does
  // not rehash on the way.
  void Reserve(std::size_t more) {
    std::size_t capacity = slots_ ? mask_ + 1 : 8;
    while ((size_ + more) * 8 > capacity * 7) capacity *= 2;
    if (!slots_ || capacity != mask_ + 1) Resize(capacity);
  }

  void Clear() {
    slots_.reset();
    mask_ = 0;
    size_ = 0;
  }

  // Calls f(key, value) for every entry; f must not insert or erase.
  template <class F>
  void ForEach(F&& f) const {
    for (std::size_t i = 0; slots_ && i <= mask_; ++i)
      if (const Key k = KeyAt(i); k != Key{}) f(k, slots_[i].value);
  }

  std::size_t MemoryUsage() const { return slots_ ? (mask_ + 1) * sizeof(Slot) : 0; }

 private:
  Key KeyAt(std::size_t i) const {
    Key k;
    std::memcpy(&k, slots_[i].key, sizeof(Key));
    return k;
  }

  std::size_t Home(Key key) const {
    std::uint64_t h = static_cast<std::uint64_t>(key);
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    h *= 0xc4ceb9fe1a85ec53ULL;
    h ^= h >> 33;
    return static_cast<std::size_t>(h) & mask_;
  }

  // Either done, or (out of memory) nothing changed.
  void Resize(std::size_t capacity) {
    auto fresh = std::make_unique<Slot[]>(capacity);
    std::unique_ptr<Slot[]> old = std::move(slots_);
    const std::size_t oldCapacity = old ? mask_ + 1 : 0;
    slots_ = std::move(fresh);
    mask_ = capacity - 1;
    for (std::size_t i = 0; i < oldCapacity; ++i) {
      Key k;
      std::memcpy(&k, old[i].key, sizeof(Key));
      if (k == Key{}) continue;
      std::size_t j = Home(k);
      while (KeyAt(j) != Key{}) j = (j + 1) & mask_;
      slots_[j] = old[i];
    }
  }

  std::unique_ptr<Slot[]> slots_;
  std::size_t mask_ = 0;
  std::size_t size_ = 0;
};

}  // namespace nametree
