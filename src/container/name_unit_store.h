// The UTF-16 units of one container's name texts (ID -> text) and text
// keys (upper-cased text -> ID), end to end in one array. A slot is an
// {offset, length}; most keys equal the text they were entered with, so a
// key made right after its text (EnterName, then EnterKey) refers to the
// text's units instead of copying them.
//
// Invariants, checked by Check:
//  1. every live slot's units [offset, offset + length) lie inside the
//     array, on one page of it; an empty slot is {0, 0};
//  2. the units of two live slots are disjoint or the same run; a run is
//     shared by at most one text and one key, and both of their slots carry
//     kShared (a flag may outlive the sharing: "may be shared");
//  3. while a text is on offer (the last one made, or one offered again to
//     a key entered later), its slot is live and flagged; a key refers to
//     it exactly when the offer is taken;
//  4. held_[side] is the sum of the lengths of that side's live slots, and
//     the array is freed when neither side holds a unit;
//  5. dead_ never under-counts: at least the units no live slot refers to
//     (the padding that keeps runs off page boundaries among them), at
//     most the array's size. Dropping a flagged slot counts its run dead
//     at once even when the other holder lives on (compaction then merely
//     runs earlier) but never truncates the array over it.
//
// The array is an EntryPool: large stores grow by pages and never copy
// their units; a run never crosses a page, so it reads as one view.
//
// Compact rewrites the array with only the live runs, each shared run
// once; it allocates all it needs before it changes anything, so out of
// memory the store stays as it was. Views are good until the next Make,
// Compact or drop that empties the store.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "container/entry_pool.h"

namespace nametree {

class NameUnitStore {
 public:
  struct Slot {
    std::uint32_t offset;
    std::uint32_t length;  // with kShared
  };
  using View = std::u16string_view;
  enum Side : unsigned { kText = 0, kKey = 1 };
  static constexpr std::uint32_t kShared = 0x80000000u;

  NameUnitStore() = default;
  NameUnitStore(const NameUnitStore&) = delete;
  NameUnitStore& operator=(const NameUnitStore&) = delete;

  static std::uint32_t LengthOf(Slot s) { return s.length & ~kShared; }
  View ViewOf(Slot s) const { return LengthOf(s) ? View(&units_[s.offset], LengthOf(s)) : View(); }

  // A text's units, offered to the next key. Out of memory it throws with
  // nothing changed. REQUIRES: text views no unit of this store.
  Slot MakeText(View text) {
    Slot s = Append(text);
    held_[kText] += LengthOf(s);
    offer_ = s;
    offered_ = s.length ? kOffered : kNone;
    if (s.length) s.length |= kShared;
    return s;
  }

  // Offers an earlier text to the next key, as MakeText offers a new one,
  // for callers that enter texts first and keys after (Load's batches).
  // REQUIRES: text is a live text slot of this store that no key shares.
  void OfferAgain(Slot text) {
    offer_ = Slot{text.offset, LengthOf(text)};
    offered_ = offer_.length && (text.length & kShared) ? kOffered : kNone;
  }

  // A key's units: the offered text's when they are equal, else a copy.
  // Out of memory it throws with nothing changed.
  Slot MakeKey(View key) {
    if (offered_ == kOffered && key == ViewOf(offer_)) {
      offered_ = kTaken;
      held_[kKey] += offer_.length;
      return Slot{offer_.offset, offer_.length | kShared};
    }
    const Slot s = Append(key);
    held_[kKey] += s.length;
    return s;
  }

  // A slot of `side` is no longer used.
  void Drop(Side side, Slot s) {
    const std::uint32_t length = LengthOf(s);
    if (length == 0) return;
    held_[side] -= length;
    if (offered_ != kNone && s.offset == offer_.offset) {
      if (offered_ == kTaken) {
        // The other holder of the offered units lives on; none are dead.
        offered_ = side == kText ? kNone : kOffered;
      } else {
        offered_ = kNone;
        Release(s.offset, length);
      }
    } else if (s.length & kShared) {
      dead_ += length;
    } else {
      Release(s.offset, length);
    }
    Settle();
  }

  // Every slot of `side` is gone at once (its table was emptied).
  void Forget(Side side) {
    dead_ += held_[side];
    held_[side] = 0;
    if (side == kText) {
      offered_ = kNone;
    } else if (offered_ == kTaken) {
      offered_ = kOffered;
    }
    Settle();
  }

  bool WantsCompaction() const { return dead_ > 64 && dead_ * 2 > units_.size(); }

  // eachSlot(f) must call f(side, slot) once for every live slot of both
  // sides; Compact moves the slots. Out of memory it throws with nothing
  // changed.
  template <class EachSlot>
  void Compact(EachSlot&& eachSlot) {
    std::vector<Slot*> live;
    eachSlot([&](Side, Slot& s) {
      if (LengthOf(s)) live.push_back(&s);
    });
    std::sort(live.begin(), live.end(), [](const Slot* a, const Slot* b) { return a->offset < b->offset; });
    std::size_t total = 0;
    for (std::size_t i = 0; i < live.size(); ++i)
      if (i == 0 || live[i]->offset != live[i - 1]->offset) total = Units::RunStart(total, LengthOf(*live[i])) + LengthOf(*live[i]);
    Units fresh;
    fresh.reserve(total);
    // Nothing below allocates.
    Slot offer = offer_;
    std::uint32_t padding = 0;
    for (std::size_t i = 0; i < live.size();) {
      const std::uint32_t from = live[i]->offset, length = LengthOf(*live[i]);
      std::size_t end = i + 1;
      while (end < live.size() && live[end]->offset == from) ++end;
      const std::uint32_t at = Put(fresh, View(&units_[from], length), padding);
      const bool onOffer = offered_ != kNone && from == offer_.offset;
      if (onOffer) offer.offset = at;
      const std::uint32_t flag = end - i > 1 || onOffer ? kShared : 0;
      for (; i < end; ++i) *live[i] = Slot{at, length | flag};
    }
    units_.swap(fresh);
    offer_ = offer;
    dead_ = padding;
  }

  // Room for `more` further units at once (a run pushed to the next page
  // may still add a page). Out of memory it throws with nothing changed.
  void Reserve(std::size_t more) {
    if (more) units_.reserve(std::min<std::size_t>(units_.size() + more, 0x7FFFFFFFu));
  }
  std::size_t UnitCount() const { return units_.size(); }
  // Where the units lie, piece by piece, as EntryPool::Piece.
  std::pair<const void*, std::size_t> UnitPiece(std::size_t k) const {
    const auto [first, count] = units_.Piece(k);
    return {first, count * sizeof(char16_t)};
  }
  // Units of the live slots of one side.
  std::size_t HeldUnits(Side side) const { return held_[side]; }
  std::size_t MemoryUsage() const { return units_.capacity() * sizeof(char16_t); }

  // The first broken invariant, empty when all hold; eachSlot as for
  // Compact. May throw std::bad_alloc.
  template <class EachSlot>
  std::string Check(EachSlot&& eachSlot) const {
    struct Held {
      Slot slot;
      Side side;
    };
    std::vector<Held> live;
    std::uint32_t held[2] = {0, 0};
    bool outside = false;
    eachSlot([&](Side side, const Slot& s) {
      const std::uint32_t length = LengthOf(s);
      held[side] += length;
      if (length == 0) {
        outside = outside || s.offset != 0 || s.length != 0;
      } else {
        outside = outside || std::size_t{s.offset} + length > units_.size() || Units::RunStart(s.offset, length) != s.offset;
        live.push_back({s, side});
      }
    });
    if (outside) return "1: a slot outside the units or across a page";
    std::sort(live.begin(), live.end(), [](const Held& a, const Held& b) { return a.slot.offset < b.slot.offset; });
    std::size_t inUse = 0, end = 0;
    for (std::size_t i = 0; i < live.size(); ++i) {
      const Slot s = live[i].slot;
      if (i > 0 && live[i - 1].slot.offset == s.offset) {
        const Held& p = live[i - 1];
        if (p.slot.length != s.length || p.side == live[i].side || (i > 1 && live[i - 2].slot.offset == s.offset))
          return "2: a run held other than by one text and one key";
        if (!(s.length & kShared)) return "2: a shared run without its flag";
        continue;
      }
      if (s.offset < end) return "2: overlapping runs";
      end = s.offset + LengthOf(s);
      inUse += LengthOf(s);
    }
    if (offered_ != kNone) {
      int texts = 0, keys = 0;
      for (const Held& h : live) {
        if (h.slot.offset != offer_.offset || LengthOf(h.slot) != offer_.length) continue;
        if (!(h.slot.length & kShared)) return "3: the offered text without its flag";
        ++(h.side == kText ? texts : keys);
      }
      if (texts != 1 || keys != (offered_ == kTaken ? 1 : 0)) return "3: the offer disagrees with the slots";
    }
    if (held[kText] != held_[kText] || held[kKey] != held_[kKey]) return "4: units held miscounted";
    if (!held_[kText] && !held_[kKey] && units_.capacity()) return "4: an unused array kept";
    if (dead_ < units_.size() - inUse || dead_ > units_.size()) return "5: dead units miscounted";
    return {};
  }

 private:
  enum Offer : std::uint8_t { kNone, kOffered, kTaken };

  using Units = EntryPool<char16_t>;

  Slot Append(View units) {
    if (units.empty()) return Slot{0, 0};
    const std::size_t end = Units::RunStart(units_.size(), units.size()) + units.size();
    if (end > 0x7FFFFFFFu) throw std::bad_alloc();  // offsets and lengths stay below kShared
    units_.grow_to(end);
    std::uint32_t padding = 0;
    const std::uint32_t at = Put(units_, units, padding);
    dead_ += padding;
    return Slot{at, static_cast<std::uint32_t>(units.size())};
  }

  // Appends a run off any page boundary, counting the padding it needs;
  // where it starts. REQUIRES: room for the padding and the run.
  static std::uint32_t Put(Units& to, View run, std::uint32_t& padding) {
    const std::size_t at = Units::RunStart(to.size(), run.size());
    if (const std::size_t pad = at - to.size()) {
      std::fill_n(to.extend(pad), pad, char16_t{0});
      padding += static_cast<std::uint32_t>(pad);
    }
    std::copy(run.begin(), run.end(), to.extend(run.size()));
    return static_cast<std::uint32_t>(at);
  }

  // Units only this slot held.
  void Release(std::uint32_t offset, std::uint32_t length) {
    if (offset + length == units_.size()) {
      units_.truncate(offset);
    } else {
      dead_ += length;
    }
  }

  void Settle() {
    if (!held_[kText] && !held_[kKey]) {
      units_.clear();
      dead_ = 0;
      offered_ = kNone;
    }
    if (dead_ > units_.size()) dead_ = units_.size();
  }

  Units units_;
  std::uint32_t dead_ = 0;
  std::uint32_t held_[2] = {0, 0};
  Slot offer_{0, 0};  // without kShared
  Offer offered_ = kNone;
};

// How a ChainedTable keyed by text reaches the store, in the form of a
// KeyStore (container/key_store.h). The store's owner compacts it, as only
// the owner sees the slots of both tables, and counts its memory.
class NameUnitKeys {
 public:
  using Slot = NameUnitStore::Slot;
  using View = NameUnitStore::View;

  explicit NameUnitKeys(NameUnitStore& store) : store_(&store) {}

  View ViewOf(Slot s) const { return store_->ViewOf(s); }
  Slot Make(View key) { return store_->MakeKey(key); }
  void Drop(Slot s) { store_->Drop(NameUnitStore::kKey, s); }
  void Clear() { store_->Forget(NameUnitStore::kKey); }
  static std::size_t MemoryUsage() { return 0; }

 private:
  NameUnitStore* store_;
};

}  // namespace nametree
