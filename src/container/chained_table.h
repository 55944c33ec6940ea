// A hash table with a fixed number of buckets, each a singly linked chain.
// Its walk order is part of the library's observable behaviour (lists and
// stream bytes follow it), so it is spelled out here and nowhere else:
//
//  - an ID key belongs to bucket (key >> 4) % B; a text key to h % B, where
//    h = h * 33 + unit over its UTF-16 code units (32-bit, wrapping);
//  - a new key goes to the front of its chain; giving an existing key a new
//    value keeps its place; removal unlinks and keeps the others in order;
//  - a walk visits buckets 0..B-1, each chain front to back;
//  - the bucket array is made at the first insertion (or on request) and
//    released when the table becomes empty; B stays.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>

#include "nametree/types.h"

namespace nametree {

struct IdKeyHash {
  std::uint32_t operator()(std::uint32_t key) const { return key >> 4; }
};

struct TextKeyHash {
  std::uint32_t operator()(const CString& key) const {
    std::uint32_t h = 0;
    for (char16_t c : key) {
      if (c == 0) break;  // texts hash up to their terminating zero
      h = h * 33 + c;
    }
    return h;
  }
};

inline constexpr std::uint32_t kDefaultBuckets = 17;

template <class Key, class Value, class Hash>
class ChainedTable {
  struct Node {
    Node* next;
    Key key;
    Value value;
  };

 public:
  explicit ChainedTable(std::uint32_t buckets = kDefaultBuckets) : buckets_(buckets ? buckets : 1) {}
  ChainedTable(const ChainedTable&) = delete;
  ChainedTable& operator=(const ChainedTable&) = delete;
  ~ChainedTable() { RemoveAll(); }

  // Empties the table and sets its bucket count; with makeArray the bucket
  // array is made at once rather than at the first insertion.
  void InitHashTable(std::uint32_t buckets, bool makeArray = true) {
    RemoveAll();
    buckets_ = buckets ? buckets : 1;
    if (makeArray) array_ = std::make_unique<Node*[]>(buckets_);
  }

  std::uint32_t BucketCount() const { return buckets_; }
  bool HasArray() const { return array_ != nullptr; }
  std::size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  std::uint32_t BucketOf(const Key& key) const { return Hash{}(key) % buckets_; }

  Value* Lookup(const Key& key) {
    Node* n = Find(key);
    return n ? &n->value : nullptr;
  }
  const Value* Lookup(const Key& key) const {
    Node* n = Find(key);
    return n ? &n->value : nullptr;
  }
  bool Contains(const Key& key) const { return Find(key) != nullptr; }

  // Sets the value of key: in place when present, else a new entry at the
  // front of its chain. Returns the stored value.
  template <class V>
  Value& SetAt(const Key& key, V&& value) {
    if (Node* n = Find(key)) {
      n->value = std::forward<V>(value);
      return n->value;
    }
    if (!array_) array_ = std::make_unique<Node*[]>(buckets_);
    Node*& head = array_[BucketOf(key)];
    head = new Node{head, key, std::forward<V>(value)};
    ++count_;
    return head->value;
  }

  // Unlinks key; hands its value to `out` when given. False if absent.
  bool RemoveKey(const Key& key, Value* out = nullptr) {
    if (!array_) return false;
    for (Node** link = &array_[BucketOf(key)]; *link; link = &(*link)->next) {
      if ((*link)->key == key) {
        Node* dead = *link;
        *link = dead->next;
        if (out) *out = std::move(dead->value);
        delete dead;
        if (--count_ == 0) array_.reset();
        return true;
      }
    }
    return false;
  }

  void RemoveAll() {
    if (!array_) return;
    for (std::uint32_t b = 0; b < buckets_; ++b) {
      for (Node* n = array_[b]; n;) {
        Node* next = n->next;
        delete n;
        n = next;
      }
    }
    array_.reset();
    count_ = 0;
  }

  // Calls f(key, value) in walk order. f returns false to stop; the walk
  // returns false when it was stopped. f may remove the entry it was given.
  template <class F>
  bool Walk(F&& f) const {
    if (!array_) return true;
    for (std::uint32_t b = 0; b < buckets_ && array_; ++b) {
      for (Node* n = array_[b]; n;) {
        Node* next = n->next;
        if (!f(static_cast<const Key&>(n->key), n->value)) return false;
        n = next;
      }
    }
    return true;
  }

 private:
  Node* Find(const Key& key) const {
    if (!array_) return nullptr;
    for (Node* n = array_[BucketOf(key)]; n; n = n->next)
      if (n->key == key) return n;
    return nullptr;
  }

  std::uint32_t buckets_;
  std::unique_ptr<Node*[]> array_;
  std::size_t count_ = 0;
};

}  // namespace nametree
