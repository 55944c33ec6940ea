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
// Storage: a table of at most kListLimit keys keeps no buckets and no
// links at all: its entries sit in one array of {key, value} items in walk
// order (bucket by bucket, each chain front to back), and a chain is the
// run of the array in its bucket. Past that it splits the array into
// linked chains, keeping their order, and returns to the array only once
// empty. A table of many buckets then keeps only its non-empty buckets,
// sorted by index, and turns into a full bucket array once a quarter of
// the buckets are in use (where the two cost about the same). Every form
// walks in the same order, so the choice is invisible to callers; it only
// keeps a container with a handful of names from costing bucket storage
// and links of its own.
//
// Invariant of the array form (listed_), checked by CheckPool:
//  1. count_ == items_.size() <= kListLimit, in one block;
//  2. bucket indexes never decrease along the array.
// A new key moves the items after its place up by one and a removal moves
// them back (at most kListLimit items), so a walk whose callback removes
// the item it was given must not step past the one moved into its place.
// A split makes the node pool and the bucket storage before any item
// leaves, so out of memory the table stays whole in the array form.
//
// Split entries live in one pool per table (an EntryPool, grown by a
// quarter and then by pages, so a large table never copies them), linked
// by their 32-bit places in it; removed entries go on a free list that the
// next insertions reuse. A node is an item with its link, so an entry
// handle (FirstEntry and the like) points at an item in either form. Where
// the link fits in an item's padding (8-byte values) the item carries it,
// unused while listed, so that no node outgrows {link, key, value}.
//
// Keys live in the table's Store (key_store.h): an entry holds a Slot, for
// a text key its units' place in a store shared with the container's
// texts. An entry's place, and so any pointer handed out, is good until
// the table changes.
//
// Long chains: a table holding many more keys than buckets (17 buckets of
// an uninitialised container, 101 of a sub-container table with thousands
// of children) also keeps a ChainIndex, so that finding and unlinking a key
// costs the same in a chain of thousands as in a chain of one. It changes
// no chain; it is dropped when the table shrinks well below that size.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "container/chain_index.h"
#include "container/entry_pool.h"
#include "container/key_store.h"
#include "container/sparse_buckets.h"
#include "nametree/types.h"

namespace nametree {

struct IdKeyHash {
  // mutate: id-bucket-shift
  std::uint32_t operator()(std::uint32_t key) const { return key >> 4; }
};

struct TextKeyHash {
  std::uint32_t operator()(std::u16string_view key) const {
    std::uint32_t h = 0;
    for (char16_t c : key) {
      if (c == 0) break;  // texts hash up to their terminating zero
      // mutate: text-hash-multiplier
      h = h * 33 + c;
    }
    return h;
  }
};

inline constexpr std::uint32_t kDefaultBuckets = 17;

template <class Key, class Value, class Hash, class Store = KeyStore<Key>>
class ChainedTable {
  using Slot = typename Store::Slot;
  static constexpr std::uint32_t kNone = ChainIndex::kNone;
  static constexpr std::uint32_t kHeadMark = ChainIndex::kHeadMark;

  struct Packed {
    Slot key;
    Value value;
  };
  struct Padded {
    std::uint32_t next;
    Slot key;
    Value value;
  };
  struct Linked : Packed {
    std::uint32_t next;
  };
  static constexpr bool kLinkInPadding = sizeof(Padded) == sizeof(Packed);
  // What the listed form holds, and what an entry handle points at.
  using Item = std::conditional_t<kLinkInPadding, Padded, Packed>;
  using Node = std::conditional_t<kLinkInPadding, Padded, Linked>;
  static_assert(std::is_base_of_v<Item, Node> || std::is_same_v<Item, Node>);
  static_assert(sizeof(Node) <= sizeof(Padded), "a linked entry costs no more than {link, key, value}");
  using Items = EntryPool<Item>;
  using Nodes = EntryPool<Node>;

 public:
  // How callers pass and receive keys: the ID, or a view of the text.
  using View = typename Store::View;

  explicit ChainedTable(std::uint32_t buckets = kDefaultBuckets) : buckets_(Clamp(buckets)) {}
  ChainedTable(std::uint32_t buckets, Store store) : buckets_(Clamp(buckets)), store_(std::move(store)) {}
  ChainedTable(const ChainedTable&) = delete;
  ChainedTable& operator=(const ChainedTable&) = delete;
  ~ChainedTable() {
    RemoveAll();
    items_.~Items();
  }

  // Empties the table and sets its bucket count; with makeArray the bucket
  // array counts as made at once rather than at the first insertion.
  void InitHashTable(std::uint32_t buckets, bool makeArray = true) {
    RemoveAll();
    buckets_ = Clamp(buckets);
    if (makeArray) MakeArray();
  }

  // Room for `more` further keys at once; past kListLimit keys in all the
  // table splits now, straight into a node pool of that size.
  void Reserve(std::size_t more) {
    if (!listed_) {
      pool_.reserve(pool_.size() + more);
    } else if (more <= kListLimit - count_) {
      items_.reserve(count_ + more);
    } else {
      SplitList(count_ + more);
    }
  }

  // Asks the cache for the entries that an insertion reads; changes nothing.
  void Prefetch() const {
    if (listed_) {
      items_.Prefetch();
    } else {
      pool_.Prefetch();
    }
  }

  std::uint32_t BucketCount() const { return buckets_; }
  bool HasArray() const { return made_; }
  std::size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  std::uint32_t BucketOf(View key) const { return Hash{}(key) % buckets_; }

  Value* Lookup(View key) {
    const std::uint32_t e = Find(key);
    return e == kNone ? nullptr : &ItemAt(e).value;
  }
  const Value* Lookup(View key) const {
    const std::uint32_t e = Find(key);
    return e == kNone ? nullptr : &ItemAt(e).value;
  }
  bool Contains(View key) const { return Find(key) != kNone; }

  // Sets the value of key: in place when present, else a new entry at the
  // front of its chain. Returns the stored value.
  template <class V>
  Value& SetAt(View key, V&& value) {
    if (const std::uint32_t e = Find(key); e != kNone) {
      Item& at = ItemAt(e);
      at.value = std::forward<V>(value);
      return at.value;
    }
    return AddNew(key, std::forward<V>(value));
  }

  // SetAt for a key known to be absent, without looking for it.
  // REQUIRES: !Contains(key).
  template <class V>
  Value& AddNew(View key, V&& value) {
    // Out of memory the table is left as it was: the split, the entry and
    // its bucket are made before anything is linked, and the chain index,
    // which only speeds lookups up, is dropped rather than left behind.
    if (!made_) MakeArray();
    const std::uint32_t bucket = BucketOf(key);
    if (listed_ && count_ >= kListLimit) SplitList(count_ + 1);
    if (listed_) return AddListed(key, bucket, std::forward<V>(value));
    const std::uint32_t entry = NewEntry(key, std::forward<V>(value));
    std::uint32_t* head;
    try {
      head = &HeadForInsert(bucket);
    } catch (const std::bad_alloc&) {
      FreeEntry(entry);
      throw;
    }
    // mutate: new-key-at-back
    pool_[entry].next = *head;
    if (spread_->index && *head != kNone) spread_->index->SetPrev(*head, entry);
    *head = entry;
    ++count_;
    try {
      if (spread_->index) {
        spread_->index->Insert(entry, kHeadMark | bucket, HashOfEntry());
      } else if (count_ > IndexFrom()) {
        BuildIndex();
      }
    } catch (const std::bad_alloc&) {
      spread_->index.reset();
    }
    return pool_[entry].value;
  }

  // Unlinks key; hands its value to `out` when given. False if absent.
  bool RemoveKey(View key, Value* out = nullptr) {
    if (!listed_ && spread_->index) return RemoveIndexed(key, out);
    if (listed_) {
      const std::uint32_t at = Find(key);
      if (at == kNone) return false;
      Value gone = RetireItem(at);
      if (out) *out = std::move(gone);
      return true;
    }
    const std::uint32_t b = BucketOf(key);
    std::uint32_t* head = HeadAt(b);
    if (!head) return false;
    for (std::uint32_t* link = head; *link != kNone; link = &pool_[*link].next) {
      if (Matches(*link, key)) {
        const std::uint32_t dead = *link;
        *link = pool_[dead].next;
        // mutate: sparse-bucket-kept-empty
        if (!spread_->dense && *head == kNone && count_ > 1) EraseSlot(b);
        Value gone = Retire(dead);
        if (out) *out = std::move(gone);
        return true;
      }
    }
    return false;
  }

  // Puts key at the front of its chain, where removing it and entering it
  // again would, without allocating: a rename that keeps its key cannot
  // then fail half done. False if absent.
  bool MoveToFront(View key) {
    if (listed_) {
      const std::uint32_t at = Find(key);
      if (at == kNone) return false;
      const std::uint32_t front = BucketRunStart(ItemBucket(at), at);
      Item* first = &items_[0];
      // mutate: move-to-front-listed-not-rotated
      std::rotate(first + front, first + at, first + at + 1);
      return true;
    }
    const std::uint32_t b = BucketOf(key);
    std::uint32_t* head = HeadAt(b);
    if (!head) return false;
    if (spread_->index) {
      const std::uint32_t e = Find(key);
      if (e == kNone) return false;
      const std::uint32_t prev = spread_->index->Prev(e);
      if (prev & kHeadMark) return true;
      const std::uint32_t next = pool_[e].next;
      // mutate: move-to-front-successor-keeps-prev
      pool_[prev].next = next;
      if (next != kNone) spread_->index->SetPrev(next, prev);
      spread_->index->SetPrev(*head, e);
      // mutate: move-to-front-index-keeps-old-link
      spread_->index->SetPrev(e, kHeadMark | b);
      pool_[e].next = *head;
      *head = e;
      return true;
    }
    for (std::uint32_t* link = head; *link != kNone; link = &pool_[*link].next) {
      if (Matches(*link, key)) {
        const std::uint32_t e = *link;
        // mutate: move-to-front-chain-unchanged
        *link = pool_[e].next;
        pool_[e].next = *head;
        *head = e;
        return true;
      }
    }
    return false;
  }

  void RemoveAll() {
    Release();
    spread_.reset();
  }

  // Calls f(key, value) in walk order. f returns false to stop; the walk
  // returns false when it was stopped. f may remove the entry it was given.
  template <class F>
  bool Walk(F&& f) const {
    if (listed_) return WalkItems(f);
    if (spread_->dense) {
      for (std::uint32_t b = 0; b < buckets_ && spread_->dense; ++b) {
        if (!WalkChain(spread_->dense[b], f)) return false;
      }
      return true;
    }
    return spread_->sparse.Walk([&](std::uint32_t, std::uint32_t head) { return WalkChain(head, f); });
  }

  // The walk one entry at a time, for readers that hold a place rather
  // than pass a callback: FirstEntry, then NextEntry until nullptr. A place
  // is good until the table changes.
  const Item* FirstEntry() const {
    if (listed_) return count_ ? &items_[0] : nullptr;
    return At(FirstFrom(0));
  }
  const Item* NextEntry(const Item* e) const {
    // mutate: list-next-entry-stops-early
    if (listed_) return e + 1 < &items_[0] + count_ ? e + 1 : nullptr;
    const Node* n = static_cast<const Node*>(e);
    if (n->next != kNone) return &pool_[n->next];
    const std::uint32_t b = BucketOf(store_.ViewOf(n->key));
    // mutate: walk-skips-a-bucket
    return b + 1 < buckets_ ? At(FirstFrom(b + 1)) : nullptr;
  }
  const Item* FindEntry(View key) const {
    const std::uint32_t e = Find(key);
    return e == kNone ? nullptr : &ItemAt(e);
  }
  // Whether key a comes before key b in the walk: in the array form by
  // place, else by bucket and then along the shared chain, which costs the
  // chain's length at most. REQUIRES: both held, a != b.
  bool WalksBefore(View a, View b) const {
    // mutate: table-walk-order-backwards
    if (listed_) return Find(a) < Find(b);
    const std::uint32_t ba = BucketOf(a), bb = BucketOf(b);
    if (ba != bb) return ba < bb;
    for (std::uint32_t e = Find(a); e != kNone; e = pool_[e].next)
      if (Matches(e, b)) return true;
    return false;
  }
  static const Slot& KeyOf(const Item* e) { return e->key; }
  static const Value& ValueOf(const Item* e) { return e->value; }

  // Where the entries lie, piece by piece ({nullptr, 0} past the last),
  // for a reader that asks the cache for them ahead of a walk.
  std::pair<const void*, std::size_t> EntryPiece(std::size_t k) const {
    if (listed_) {
      const auto [first, count] = items_.Piece(k);
      return {first, count * sizeof(Item)};
    }
    const auto [first, count] = pool_.Piece(k);
    return {first, count * sizeof(Node)};
  }

  // Calls f(slot) for every key's slot, in walk order, for the owner of a
  // shared store, which may move the slots when it compacts the store.
  template <class F>
  void ForEachKeySlot(F&& f) const {
    if (listed_) {
      for (std::uint32_t i = 0; i < count_; ++i) f(items_[i].key);
    } else {
      ForEachLinked([&](Node& n) { f(n.key); });
    }
  }

  // Whether each entry lies in its own bucket's chain, is the one a lookup
  // of its key finds (so no key is held twice), count_ counts them all,
  // sparse buckets hold no empty chain, and a chain index, while kept, sits
  // beside the full bucket array, names the link in front of every entry
  // and holds one slot for each and none for any other.
  // Visits every entry; for invariant checks only.
  bool CheckChains() const {
    if (listed_) {
      for (std::uint32_t i = 0; i < count_; ++i)
        // mutate: chain-check-blind-to-twice
        if (Find(store_.ViewOf(items_[i].key)) != i) return false;
      return true;
    }
    std::uint32_t seen = 0;
    bool ok = true;
    auto chain = [&](std::uint32_t b, std::uint32_t head) {
      std::uint32_t prev = kHeadMark | b;
      for (std::uint32_t e = head; ok && e != kNone; prev = e, e = pool_[e].next) {
        // A count past count_ also stops a chain that loops.
        // mutate: chain-check-blind-to-twice
        ok = ++seen <= count_ && e < pool_.size() && BucketAt(e) == b && Find(store_.ViewOf(pool_[e].key)) == e &&
             (!spread_->index || spread_->index->Prev(e) == prev);
      }
      return ok;
    };
    if (spread_->index && !spread_->dense) return false;
    if (spread_->dense) {
      for (std::uint32_t b = 0; ok && b < buckets_; ++b) chain(b, spread_->dense[b]);
    } else {
      spread_->sparse.Walk([&](std::uint32_t b, std::uint32_t head) { return (ok = head != kNone) && chain(b, head); });
    }
    return ok && seen == count_ &&
           (!spread_->index || (spread_->index->Size() == count_ && spread_->index->CheckSlots(HashOfEntry())));
  }

  // Whether the pool and the sparse buckets keep their invariants, with
  // room for every key; listed, whether the items are in walk order.
  bool CheckPool() const {
    if (!listed_) return pool_.CheckPool() && count_ <= pool_.size() && (spread_->dense || spread_->sparse.CheckRuns());
    if (!items_.CheckPool() || count_ != items_.size() || count_ > kListLimit) return false;
    if (items_.capacity() > Items::kPage) return false;
    for (std::uint32_t i = 1; i < count_; ++i)
      if (ItemBucket(i - 1) > ItemBucket(i)) return false;
    return true;
  }

  // Bytes held by the table itself: bucket storage, entries and what its
  // Store holds for it alone (not the heap memory that the values own).
  std::size_t MemoryUsage() const {
    const std::size_t own = store_.MemoryUsage() + (spread_ ? sizeof(Spread) : 0);
    if (listed_) return own + items_.capacity() * sizeof(Item);
    return own + pool_.capacity() * sizeof(Node) +
           (spread_->dense ? buckets_ * sizeof(std::uint32_t) : spread_->sparse.MemoryUsage()) +
           (spread_->index ? sizeof(*spread_->index) + spread_->index->MemoryUsage() : 0);
  }

 private:
  // Bucket counts fit in 30 bits, beside the two flags.
  // mutate: bucket-count-clamped-low
  static constexpr std::uint32_t kMostBuckets = (1u << 30) - 1;
  static std::uint32_t Clamp(std::uint32_t buckets) { return buckets == 0 ? 1 : buckets > kMostBuckets ? kMostBuckets : buckets; }

  // Tables this small use their bucket array from the start.
  static constexpr std::uint32_t kAlwaysDense = 32;

  void MakeArray() { made_ = true; }

  // Tables this small keep their entries in one list.
  static constexpr std::size_t kListLimit = 16;

  static std::unique_ptr<std::uint32_t[]> MakeHeads(std::uint32_t n) {
    auto heads = std::make_unique<std::uint32_t[]>(n);
    for (std::uint32_t i = 0; i < n; ++i) heads[i] = kNone;
    return heads;
  }

  const Node* At(std::uint32_t e) const { return e == kNone ? nullptr : &pool_[e]; }
  // The entry at a place that Find gave, in either form.
  Item& ItemAt(std::uint32_t e) const { return listed_ ? items_[e] : pool_[e]; }
  std::uint32_t ItemBucket(std::uint32_t i) const { return BucketOf(store_.ViewOf(items_[i].key)); }
  bool Matches(std::uint32_t e, View key) const { return store_.ViewOf(pool_[e].key) == key; }
  std::uint32_t BucketAt(std::uint32_t e) const { return BucketOf(store_.ViewOf(pool_[e].key)); }
  auto HashOfEntry() const {
    return [this](std::uint32_t e) { return ChainIndexHash(store_.ViewOf(pool_[e].key)); };
  }

  // A free entry holding key and value, not yet linked. Out of memory it
  // throws with nothing changed.
  template <class V>
  std::uint32_t NewEntry(View key, V&& value) {
    const Slot slot = store_.Make(key);
    try {
      if (spread_->free != kNone) {
        const std::uint32_t e = spread_->free;
        pool_[e].value = std::forward<V>(value);
        // mutate: pool-free-entry-reused-twice
        spread_->free = pool_[e].next;
        pool_[e].key = slot;
        pool_[e].next = kNone;
        return e;
      }
      if (pool_.size() >= 0x7FFFFFFFu) throw std::bad_alloc();  // places stay below kHeadMark
      pool_.grow_to(pool_.size() + 1);
      pool_.push_back(Make<Node>(slot, std::forward<V>(value)));
      return static_cast<std::uint32_t>(pool_.size() - 1);
    } catch (...) {
      store_.Drop(slot);
      throw;
    }
  }

  template <class T, class K, class V>
  static T Make(K&& key, V&& value) {
    T t{};
    t.key = std::forward<K>(key);
    t.value = std::forward<V>(value);
    if constexpr (requires(T& x) { x.next; }) t.next = kNone;
    return t;
  }

  // At the front of its bucket's run, the later items moved up by one.
  template <class V>
  Value& AddListed(View key, std::uint32_t bucket, V&& value) {
    const Slot slot = store_.Make(key);
    try {
      items_.grow_to(count_ + 1);  // before the value is taken
      items_.push_back(Make<Item>(slot, std::forward<V>(value)));
    } catch (...) {
      store_.Drop(slot);
      throw;
    }
    const std::uint32_t at = BucketRunStart(bucket, count_);
    Item* first = &items_[0];
    // mutate: list-insert-not-shifted
    std::rotate(first + at, first + count_, first + count_ + 1);
    ++count_;
    return first[at].value;
  }

  // The first of items [0, n) whose bucket is not below `bucket`: where its
  // run starts, or would. Buckets never decrease along the array, so it is
  // found by halving; each look hashes an item's text again.
  std::uint32_t BucketRunStart(std::uint32_t bucket, std::uint32_t n) const {
    std::uint32_t at = 0;
    while (n > 0) {
      const std::uint32_t half = n / 2;
      // mutate: list-new-key-at-back
      if (ItemBucket(at + half) < bucket) {
        at += half + 1;
        n -= half + 1;
      } else {
        n = half;
      }
    }
    return at;
  }

  // Takes item i out, the later items moved down by one.
  Value RetireItem(std::uint32_t i) {
    Item* first = &items_[0];
    Value gone(std::move(first[i].value));
    store_.Drop(first[i].key);
    // mutate: list-removal-not-shifted
    std::move(first + i + 1, first + count_, first + i);
    items_.truncate(count_ - 1);
    if (--count_ == 0) Release();
    return gone;
  }

  void FreeEntry(std::uint32_t e) {
    store_.Drop(pool_[e].key);
    pool_[e].value = Value();
    pool_[e].next = spread_->free;
    spread_->free = e;
  }

  // Frees an unlinked entry and hands back its value; the table is whole
  // again before the value (a sub-container, say) is destroyed.
  Value Retire(std::uint32_t dead) {
    Value gone(std::move(pool_[dead].value));
    FreeEntry(dead);
    if (--count_ == 0) Release();
    return gone;
  }

  template <class F>
  void ForEachLinked(F&& f) const {
    auto chain = [&](std::uint32_t e) {
      for (; e != kNone; e = pool_[e].next) f(pool_[e]);
      return true;
    };
    if (spread_->dense) {
      for (std::uint32_t b = 0; b < buckets_; ++b) chain(spread_->dense[b]);
    } else {
      spread_->sparse.Walk([&](std::uint32_t, std::uint32_t head) { return chain(head); });
    }
  }

  // Splits the items into chains, node i holding item i: the node pool
  // (room for `room` keys) and bucket storage first, so that out of memory
  // the items stay as they were. No allocation after the first item moves.
  void SplitList(std::size_t room) {
    std::uint32_t bucket[kListLimit];
    for (std::uint32_t i = 0; i < count_; ++i) bucket[i] = ItemBucket(i);
    Nodes nodes;
    nodes.reserve(room);
    if (!spread_) spread_ = std::make_unique<Spread>();
    std::unique_ptr<std::uint32_t[]> dense;
    if (buckets_ <= kAlwaysDense) {
      dense = MakeHeads(buckets_);
    } else {
      try {
        for (std::uint32_t i = 0; i < count_; ++i) spread_->sparse.Insert(bucket[i]);
      } catch (const std::bad_alloc&) {
        spread_->sparse.Clear();
        throw;
      }
    }
    spread_->dense = std::move(dense);
    for (std::uint32_t i = 0; i < count_; ++i) {
      if (i == 0 || bucket[i - 1] != bucket[i]) *HeadAt(bucket[i]) = i;
      nodes.push_back(Make<Node>(std::move(items_[i].key), std::move(items_[i].value)));
      // mutate: list-split-joins-buckets
      if (i + 1 < count_ && bucket[i + 1] == bucket[i]) nodes[i].next = i + 1;
    }
    items_.~Items();
    ::new (&pool_) Nodes();
    pool_.swap(nodes);
    spread_->free = kNone;
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
    if (!spread_->dense) {
      // Heads must stay put while indexed; only the full array keeps them so.
      spread_->dense = MakeHeads(buckets_);
      spread_->sparse.Walk([&](std::uint32_t i, std::uint32_t head) {
        spread_->dense[i] = head;
        return true;
      });
      spread_->sparse.Clear();
    }
    spread_->index = std::make_unique<ChainIndex>();
    for (std::uint32_t b = 0; b < buckets_; ++b) {
      std::uint32_t prev = kHeadMark | b;
      for (std::uint32_t e = spread_->dense[b]; e != kNone; prev = e, e = pool_[e].next) spread_->index->Insert(e, prev, HashOfEntry());
    }
  }

  bool RemoveIndexed(View key, Value* out) {
    const std::uint32_t dead = spread_->index->Find(ChainIndexHash(key), [&](std::uint32_t e) { return Matches(e, key); });
    if (dead == kNone) return false;
    const std::uint32_t prev = spread_->index->Prev(dead);
    std::uint32_t& link = (prev & kHeadMark) ? spread_->dense[prev & ~kHeadMark] : pool_[prev].next;
    spread_->index->Erase(dead, HashOfEntry());
    // mutate: chain-index-successor-keeps-prev
    const std::uint32_t next = pool_[dead].next;
    if (next != kNone) spread_->index->SetPrev(next, prev);
    link = next;
    if (count_ - 1 < IndexFrom() / 2) spread_->index.reset();
    Value gone = Retire(dead);
    if (out) *out = std::move(gone);
    return true;
  }

  void Release() {
    // The values (sub-containers, say) are destroyed once the table is empty.
    Items goneItems;
    Nodes gone;
    if (listed_) {
      goneItems.swap(items_);
    } else {
      gone.swap(pool_);
      pool_.~Nodes();
      ::new (&items_) Items();
    }
    if (spread_) {
      // Kept, not freed: a walk may be inside its sparse buckets.
      spread_->index.reset();
      spread_->dense.reset();
      spread_->sparse.Clear();
      spread_->free = kNone;
    }
    store_.Clear();
    listed_ = true;
    made_ = false;
    count_ = 0;
  }

  // The items may move down under f, when it removes the one it was given.
  template <class F>
  bool WalkItems(F& f) const {
    for (std::uint32_t i = 0; listed_ && i < count_;) {
      const std::uint32_t had = count_;
      Item& it = items_[i];
      if (!f(store_.ViewOf(it.key), it.value)) return false;
      // mutate: list-walk-skips-after-removal
      if (count_ >= had) ++i;
    }
    return true;
  }

  template <class F>
  bool WalkChain(std::uint32_t e, F& f) const {
    while (e != kNone) {
      Node& n = pool_[e];
      const std::uint32_t next = n.next;
      if (!f(store_.ViewOf(n.key), n.value)) return false;
      e = next;
    }
    return true;
  }

  // The first entry in bucket b or a later one.
  // REQUIRES: !listed_.
  std::uint32_t FirstFrom(std::uint32_t b) const {
    if (spread_->dense) {
      for (; b < buckets_; ++b)
        if (spread_->dense[b] != kNone) return spread_->dense[b];
      return kNone;
    }
    for (std::uint32_t at = 0; const std::uint32_t* head = spread_->sparse.FirstFrom(b, &at); b = at + 1)
      if (*head != kNone) return *head;
    return kNone;
  }

  std::uint32_t* HeadAt(std::uint32_t b) const { return spread_->dense ? &spread_->dense[b] : spread_->sparse.Find(b); }

  std::uint32_t& HeadForInsert(std::uint32_t b) {
    if (spread_->dense) return spread_->dense[b];
    if (spread_->sparse.size() + 1 > buckets_ / 4 && !spread_->sparse.Find(b)) {
      // Enough buckets in use that the full array is the cheaper form.
      spread_->dense = MakeHeads(buckets_);
      spread_->sparse.Walk([&](std::uint32_t i, std::uint32_t head) {
        spread_->dense[i] = head;
        return true;
      });
      spread_->sparse.Clear();
      return spread_->dense[b];
    }
    return spread_->sparse.Insert(b);
  }

  void EraseSlot(std::uint32_t b) { spread_->sparse.Erase(b); }

  std::uint32_t Find(View key) const {
    if (listed_) {
      for (std::uint32_t i = 0; i < count_; ++i)
        if (store_.ViewOf(items_[i].key) == key) return i;
      return kNone;
    }
    if (spread_->index) return spread_->index->Find(ChainIndexHash(key), [&](std::uint32_t e) { return Matches(e, key); });
    const std::uint32_t* head = HeadAt(BucketOf(key));
    if (!head) return kNone;
    for (std::uint32_t e = *head; e != kNone; e = pool_[e].next)
      if (Matches(e, key)) return e;
    return kNone;
  }

  std::uint32_t buckets_ : 30;
  bool made_ : 1 = false;
  bool listed_ : 1 = true;
  std::uint32_t count_ = 0;
  union {
    mutable Items items_{};  // while listed_
    mutable Nodes pool_;     // otherwise
  };
  [[no_unique_address]] Store store_;
  // What a table needs past the list form, made at the first split and
  // kept until RemoveAll, so that a table of a few keys stays small.
  struct Spread {
    std::unique_ptr<std::uint32_t[]> dense;
    SparseBuckets sparse;
    std::unique_ptr<ChainIndex> index;  // only while chains are long
    std::uint32_t free = kNone;         // first free entry of the pool
  };
  std::unique_ptr<Spread> spread_;
};

// Every container holds two of these: four words, so that its names block
// stays in a small size class.
static_assert(sizeof(ChainedTable<std::uint32_t, std::uint32_t, IdKeyHash>) <= 32);

}  // namespace nametree
