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
//
// Storage: a table of at most kListLimit keys keeps no buckets at all: its
// entries form one list in walk order (bucket by bucket, each chain front
// to back), and a chain is the run of the list in its bucket. Past that it
// splits the list into chains, keeping their order. A table of many
// buckets then keeps only its non-empty buckets, sorted by index, and turns
// into a full bucket array once a quarter of the buckets are in use (where
// the two cost about the same). Every form walks in the same order, so the
// choice is invisible to callers; it only keeps a container with a handful
// of names from costing bucket storage of its own.
//
// Long chains: a table holding many more keys than buckets (17 buckets of
// an uninitialised container, 101 of a sub-container table with thousands
// of children) also keeps a ChainIndex, so that finding and unlinking a key
// costs the same in a chain of thousands as in a chain of one. It changes
// no chain; it is dropped when the table shrinks well below that size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "container/chain_index.h"
#include "container/sparse_buckets.h"
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
  // array counts as made at once rather than at the first insertion.
  void InitHashTable(std::uint32_t buckets, bool makeArray = true) {
    RemoveAll();
    buckets_ = buckets ? buckets : 1;
    if (makeArray) MakeArray();
  }

  std::uint32_t BucketCount() const { return buckets_; }
  bool HasArray() const { return made_; }
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
  // front of its chain. Returns the stored value. A key passed as an
  // rvalue is moved into the entry rather than copied.
  template <class K, class V>
  Value& SetAt(K&& key, V&& value) {
    if (Node* n = Find(key)) {
      n->value = std::forward<V>(value);
      return n->value;
    }
    // Out of memory the table is left as it was: the entry and its bucket
    // are made before anything is linked, and the chain index, which only
    // speeds lookups up, is dropped rather than left behind.
    if (!made_) MakeArray();
    const std::uint32_t bucket = BucketOf(key);
    std::unique_ptr<Node> fresh(new Node{nullptr, Key(std::forward<K>(key)), std::forward<V>(value)});
    Node* const entry = fresh.get();
    if (listed_) {
      // At the front of its bucket's run.
      Node** link = &list_;
      while (*link && BucketOf((*link)->key) < bucket) link = &(*link)->next;
      fresh->next = *link;
      *link = fresh.release();
      ++count_;
      if (count_ > kListLimit) {
        try {
          SplitList();
        } catch (const std::bad_alloc&) {
          // Still whole as a list, only slower; a later insertion tries again.
        }
      }
      return entry->value;
    }
    Node*& head = HeadForInsert(bucket);
    fresh->next = head;
    if (index_ && head) index_->Move(head, &fresh->next);
    head = fresh.release();
    ++count_;
    try {
      if (index_) {
        index_->Insert(&head);
      } else if (count_ > IndexFrom()) {
        BuildIndex();
      }
    } catch (const std::bad_alloc&) {
      index_.reset();
    }
    return entry->value;
  }

  // Unlinks key; hands its value to `out` when given. False if absent.
  bool RemoveKey(const Key& key, Value* out = nullptr) {
    if (index_) return RemoveIndexed(key, out);
    if (listed_) {
      for (Node** link = &list_; *link; link = &(*link)->next) {
        if ((*link)->key == key) {
          Node* dead = *link;
          *link = dead->next;
          if (out) *out = std::move(dead->value);
          delete dead;
          if (--count_ == 0) Release();
          return true;
        }
      }
      return false;
    }
    const std::uint32_t b = BucketOf(key);
    Node** head = HeadAt(b);
    if (!head) return false;
    for (Node** link = head; *link; link = &(*link)->next) {
      if ((*link)->key == key) {
        Node* dead = *link;
        *link = dead->next;
        if (out) *out = std::move(dead->value);
        delete dead;
        --count_;
        if (count_ == 0) {
          Release();
        } else if (!dense_ && !*head) {
          EraseSlot(b);
        }
        return true;
      }
    }
    return false;
  }

  void RemoveAll() {
    if (listed_) {
      FreeChain(list_);
    } else if (dense_) {
      for (std::uint32_t b = 0; b < buckets_; ++b) FreeChain(dense_[b]);
    } else {
      sparse_.Walk([](std::uint32_t, Node* head) {
        FreeChain(head);
        return true;
      });
    }
    Release();
  }

  // Calls f(key, value) in walk order. f returns false to stop; the walk
  // returns false when it was stopped. f may remove the entry it was given.
  template <class F>
  bool Walk(F&& f) const {
    if (listed_) return WalkChain(list_, f);
    if (dense_) {
      for (std::uint32_t b = 0; b < buckets_ && dense_; ++b) {
        if (!WalkChain(dense_[b], f)) return false;
      }
      return true;
    }
    return sparse_.Walk([&](std::uint32_t, Node* head) { return WalkChain(head, f); });
  }

  // The walk one entry at a time, for readers that hold a place rather
  // than pass a callback: FirstEntry, then NextEntry until nullptr. A place
  // is good until the table changes.
  const Node* FirstEntry() const { return FirstFrom(0); }
  const Node* NextEntry(const Node* n) const {
    if (n->next) return n->next;
    const std::uint32_t b = BucketOf(n->key);
    return b + 1 < buckets_ ? FirstFrom(b + 1) : nullptr;
  }
  const Node* FindEntry(const Key& key) const { return Find(key); }
  static const Key& KeyOf(const Node* n) { return n->key; }
  static const Value& ValueOf(const Node* n) { return n->value; }

  // Bytes held by the table itself: bucket storage and entries (not the
  // heap memory that the keys and values own).
  std::size_t MemoryUsage() const {
    if (listed_) return count_ * sizeof(Node);
    return (dense_ ? buckets_ * sizeof(Node*) : sparse_.MemoryUsage()) + count_ * sizeof(Node) +
           (index_ ? sizeof(*index_) + index_->MemoryUsage() : 0);
  }

 private:
  // Tables this small use their bucket array from the start.
  static constexpr std::uint32_t kAlwaysDense = 32;

  void MakeArray() { made_ = true; }

  // Tables this small keep their entries in one list.
  static constexpr std::size_t kListLimit = 16;

  // Splits the list into chains: bucket storage first, so that out of
  // memory the list stays as it was, then the list is cut at each bucket's
  // end. No allocation after the first link is cut.
  void SplitList() {
    std::unique_ptr<Node*[]> dense;
    if (buckets_ <= kAlwaysDense) {
      dense = std::make_unique<Node*[]>(buckets_);
    } else {
      try {
        for (Node* n = list_; n; n = n->next) sparse_.Insert(BucketOf(n->key));
      } catch (const std::bad_alloc&) {
        sparse_.Clear();
        throw;
      }
    }
    dense_ = std::move(dense);
    for (Node* n = list_; n;) {
      const std::uint32_t b = BucketOf(n->key);
      *HeadAt(b) = n;
      while (n->next && BucketOf(n->next->key) == b) n = n->next;
      Node* const next = n->next;
      n->next = nullptr;
      n = next;
    }
    list_ = nullptr;
    listed_ = false;
  }

  // Chains average this many keys before the table indexes them, and half
  // as many when it lets the index go.
  static constexpr std::size_t kIndexedChain = 8;
  static constexpr std::size_t kIndexedMinimum = 64;
  std::size_t IndexFrom() const {
    const std::size_t n = std::size_t{buckets_} * kIndexedChain;
    return n > kIndexedMinimum ? n : kIndexedMinimum;
  }

  void BuildIndex() {
    if (!dense_) {
      // Heads must stay put while indexed; only the full array keeps them so.
      dense_ = std::make_unique<Node*[]>(buckets_);
      sparse_.Walk([&](std::uint32_t i, Node* head) {
        dense_[i] = head;
        return true;
      });
      sparse_.Clear();
    }
    index_ = std::make_unique<ChainIndex<Node>>();
    for (std::uint32_t b = 0; b < buckets_; ++b)
      for (Node** link = &dense_[b]; *link; link = &(*link)->next) index_->Insert(link);
  }

  bool RemoveIndexed(const Key& key, Value* out) {
    Node** link = index_->Find(key);
    if (!link) return false;
    Node* dead = *link;
    index_->Erase(dead);
    if (dead->next) index_->Move(dead->next, link);
    *link = dead->next;
    if (out) *out = std::move(dead->value);
    delete dead;
    if (--count_ == 0) {
      Release();
    } else if (count_ < IndexFrom() / 2) {
      index_.reset();
    }
    return true;
  }

  void Release() {
    index_.reset();
    dense_.reset();
    sparse_.Clear();
    list_ = nullptr;
    listed_ = true;
    made_ = false;
    count_ = 0;
  }

  static void FreeChain(Node* n) {
    while (n) {
      Node* next = n->next;
      delete n;
      n = next;
    }
  }

  template <class F>
  static bool WalkChain(Node* n, F& f) {
    while (n) {
      Node* next = n->next;
      if (!f(static_cast<const Key&>(n->key), n->value)) return false;
      n = next;
    }
    return true;
  }

  // The first entry in bucket b or a later one.
  const Node* FirstFrom(std::uint32_t b) const {
    if (listed_) {
      const Node* n = list_;
      while (n && BucketOf(n->key) < b) n = n->next;
      return n;
    }
    if (dense_) {
      for (; b < buckets_; ++b)
        if (dense_[b]) return dense_[b];
      return nullptr;
    }
    for (std::uint32_t at = 0; const Node* head = sparse_.FirstFrom(b, &at); b = at + 1)
      if (head) return head;
    return nullptr;
  }

  Node** HeadAt(std::uint32_t b) const {
    return dense_ ? &dense_[b] : sparse_.Find(b);
  }

  Node*& HeadForInsert(std::uint32_t b) {
    if (dense_) return dense_[b];
    if (!sparse_.Find(b) && sparse_.size() + 1 > buckets_ / 4) {
      // Enough buckets in use that the full array is the cheaper form.
      dense_ = std::make_unique<Node*[]>(buckets_);
      sparse_.Walk([&](std::uint32_t i, Node* head) {
        dense_[i] = head;
        return true;
      });
      sparse_.Clear();
      return dense_[b];
    }
    return sparse_.Insert(b);
  }

  void EraseSlot(std::uint32_t b) {
    sparse_.Erase(b);
  }

  Node* Find(const Key& key) const {
    if (listed_) {
      for (Node* n = list_; n; n = n->next)
        if (n->key == key) return n;
      return nullptr;
    }
    if (index_) {
      Node** link = index_->Find(key);
      return link ? *link : nullptr;
    }
    Node** head = HeadAt(BucketOf(key));
    if (!head) return nullptr;
    for (Node* n = *head; n; n = n->next)
      if (n->key == key) return n;
    return nullptr;
  }

  std::uint32_t buckets_;
  bool made_ = false;
  std::unique_ptr<Node*[]> dense_;
  SparseBuckets<Node> sparse_;
  std::unique_ptr<ChainIndex<Node>> index_;  // only while chains are long
  Node* list_ = nullptr;  // every entry in walk order, while listed_
  bool listed_ = true;
  std::size_t count_ = 0;
};

}  // namespace nametree
