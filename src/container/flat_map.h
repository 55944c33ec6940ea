// An open-addressing hash map for the tree index: integer keys, small
// trivially copyable values, in two flat arrays. Key 0 marks an empty
// slot, so 0 is never a key. Linear probing with backward-shift deletion
// keeps the array free of tombstones; the array doubles at 7/8 full and
// halves when it falls below 1/8, so a deleted subtree gives memory back.
// Iteration order is unspecified: nothing observable may depend on it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace nametree {

template <class Key, class Value>
class FlatMap {
 public:
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }

  Value* Find(Key key) {
    if (!keys_) return nullptr;
    for (std::size_t i = Home(key);; i = (i + 1) & mask_) {
      if (keys_[i] == key) return &values_[i];
      if (keys_[i] == Key{}) return nullptr;
    }
  }
  const Value* Find(Key key) const { return const_cast<FlatMap*>(this)->Find(key); }

  // The value of key, value-initialised when the key is new.
  // REQUIRES: key != 0.
  Value& Insert(Key key) {
    if (!keys_ || (size_ + 1) * 8 > (mask_ + 1) * 7) Resize(keys_ ? (mask_ + 1) * 2 : 8);
    std::size_t i = Home(key);
    for (; keys_[i] != Key{}; i = (i + 1) & mask_)
      if (keys_[i] == key) return values_[i];
    keys_[i] = key;
    values_[i] = Value{};
    ++size_;
    return values_[i];
  }

  bool Erase(Key key) {
    if (!keys_) return false;
    std::size_t i = Home(key);
    while (keys_[i] != key) {
      if (keys_[i] == Key{}) return false;
      i = (i + 1) & mask_;
    }
    // Pull later entries of the probe run back over the hole.
    for (std::size_t j = (i + 1) & mask_; keys_[j] != Key{}; j = (j + 1) & mask_) {
      const std::size_t home = Home(keys_[j]);
      if (((j - home) & mask_) >= ((j - i) & mask_)) {
        keys_[i] = keys_[j];
        values_[i] = values_[j];
        i = j;
      }
    }
    keys_[i] = Key{};
    --size_;
    if (size_ == 0) {
      Clear();
    } else if (mask_ + 1 > 8 && size_ * 8 < mask_ + 1) {
      Resize((mask_ + 1) / 2);
    }
    return true;
  }

  void Clear() {
    keys_.reset();
    values_.reset();
    mask_ = 0;
    size_ = 0;
  }

  // Calls f(key, value) for every entry; f must not insert or erase.
  template <class F>
  void ForEach(F&& f) const {
    for (std::size_t i = 0; keys_ && i <= mask_; ++i)
      if (keys_[i] != Key{}) f(keys_[i], values_[i]);
  }

  std::size_t MemoryUsage() const { return keys_ ? (mask_ + 1) * (sizeof(Key) + sizeof(Value)) : 0; }

 private:
  std::size_t Home(Key key) const {
    std::uint64_t h = static_cast<std::uint64_t>(key);
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    h *= 0xc4ceb9fe1a85ec53ULL;
    h ^= h >> 33;
    return static_cast<std::size_t>(h) & mask_;
  }

  void Resize(std::size_t capacity) {
    std::unique_ptr<Key[]> oldKeys = std::move(keys_);
    std::unique_ptr<Value[]> oldValues = std::move(values_);
    const std::size_t oldCapacity = oldKeys ? mask_ + 1 : 0;
    keys_ = std::make_unique<Key[]>(capacity);
    values_ = std::make_unique_for_overwrite<Value[]>(capacity);
    mask_ = capacity - 1;
    for (std::size_t i = 0; i < oldCapacity; ++i) {
      if (oldKeys[i] == Key{}) continue;
      std::size_t j = Home(oldKeys[i]);
      while (keys_[j] != Key{}) j = (j + 1) & mask_;
      keys_[j] = oldKeys[i];
      values_[j] = oldValues[i];
    }
  }

  // Keys and values apart, so that neither pads the other.
  std::unique_ptr<Key[]> keys_;
  std::unique_ptr<Value[]> values_;
  std::size_t mask_ = 0;
  std::size_t size_ = 0;
};

}  // namespace nametree
