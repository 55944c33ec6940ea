// The UTF-16 units of one container's name texts (ID -> text) and text
// keys (upper-cased text -> ID). A slot is one 32-bit word: the offset and
// length of a run in one array, or, for a text longer than kLongestRun, the
// place of a block of its own. Most keys equal the text they were entered
// with, so a key made right after its text (EnterName, then EnterKey)
// refers to the text's run instead of copying it.
//
// Invariants, checked by Check:
//  1. every live run [offset, offset + length) lies inside the array, on
//     one page of it, and is at most kLongestRun long; an empty slot is
//     the word 0;
//  2. the units of two live runs are disjoint or the same run; a run is
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
//     runs earlier) but never truncates the array over it;
//  6. a long text's block is held by exactly one live slot of the side it
//     was made for, never shared and never on offer; a freed block's place
//     is on the free list.
//
// The array is an EntryPool: large stores grow by pages and never copy
// their units; a run never crosses a page, so it reads as one view, and a
// text of any length stays whole in its own block.
//
// Compact rewrites the array with only the live runs, each shared run
// once; it allocates all it needs before it changes anything, so out of
// memory the store stays as it was. Views are good until the next Make,
// Compact or drop that empties the store.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "container/entry_pool.h"

namespace nametree {

class NameUnitStore {
 public:
  // Bits 0-24 the offset (or a long text's place), 25-30 the length (or
  // kLongLength), 31 kShared. Four bytes keep a table entry at twelve.
  struct Slot {
    std::uint32_t word = 0;
  };
  using View = std::u16string_view;
  enum Side : unsigned { kText = 0, kKey = 1 };
  static constexpr std::uint32_t kShared = 0x80000000u;
  static constexpr std::uint32_t kLongestRun = 62;
  // The array's size limit: offsets fit in 25 bits.
  static constexpr std::size_t kMostUnits = std::size_t{1} << 25;

  NameUnitStore() = default;
  NameUnitStore(const NameUnitStore&) = delete;
  NameUnitStore& operator=(const NameUnitStore&) = delete;

  // What a text of `length` units takes of the shared array (none when it
  // gets a block of its own), padding aside.
  static constexpr std::size_t UnitsInArray(std::size_t length) { return length <= kLongestRun ? length : 0; }
  static bool SameRun(Slot a, Slot b) { return ((a.word ^ b.word) & ~kShared) == 0; }
  View ViewOf(Slot s) const {
    const std::uint32_t code = CodeOf(s);
    if (code == kLongLength) {
      const LongText& t = long_->all[OffsetOf(s)];
      return View(t.units.get(), t.length);
    }
    return code ? View(&units_[OffsetOf(s)], code) : View();
  }

  // A text's units, offered to the next key. Out of memory it throws with
  // nothing changed. REQUIRES: text views no unit of this store.
  Slot MakeText(View text) {
    // mutate: long-text-kept-in-a-run
    if (text.size() > kLongestRun) {
      const Slot s = MakeLong(kText, text);
      SetOffered(kNone);
      return s;
    }
    Slot s = Append(text);
    held_[kText] += CodeOf(s);
    SetOffer(s, kOffered);
    if (s.word) s.word |= kShared;
    return s;
  }

  // Offers an earlier text to the next key, as MakeText offers a new one,
  // for callers that enter texts first and keys after (Load's batches).
  // REQUIRES: text is a live text slot of this store that no key shares.
  void OfferAgain(Slot text) {
    SetOffer(text, (text.word & kShared) && !IsLong(text) ? kOffered : kNone);
  }

  // A key's units: the offered text's when they are equal, else a copy.
  // Out of memory it throws with nothing changed.
  Slot MakeKey(View key) {
    if (Offered() == kOffered && key == ViewOf(offer_)) {
      SetOffered(kTaken);
      held_[kKey] += CodeOf(offer_);
      return offer_;
    }
    if (key.size() > kLongestRun) return MakeLong(kKey, key);
    const Slot s = Append(key);
    held_[kKey] += CodeOf(s);
    return s;
  }

  // A slot of `side` is no longer used.
  void Drop(Side side, Slot s) {
    if (!s.word) return;
    if (IsLong(s)) {
      held_[side] -= FreeLong(OffsetOf(s));
      Settle();
      return;
    }
    const std::uint32_t length = CodeOf(s), offset = OffsetOf(s);
    held_[side] -= length;
    if (Offered() != kNone && offset == OffsetOf(offer_)) {
      // mutate: offered-text-drop-frees-taken-units
      if (Offered() == kTaken) {
        // The other holder of the offered units lives on; none are dead.
        SetOffered(side == kText ? kNone : kOffered);
      } else {
        SetOffered(kNone);
        Release(offset, length);
      }
    // mutate: shared-key-drop-frees-units
    } else if (s.word & kShared) {
      dead_ += length;
    } else {
      Release(offset, length);
    }
    Settle();
  }

  // Every slot of `side` is gone at once (its table was emptied).
  void Forget(Side side) {
    std::uint32_t inLong = 0;
    if (long_) {
      for (std::uint32_t i = 0; i < long_->all.size(); ++i)
        if (long_->all[i].units && long_->all[i].side == side) inLong += FreeLong(i);
    }
    dead_ += held_[side] - inLong;
    held_[side] = 0;
    if (side == kText) {
      SetOffered(kNone);
    } else if (Offered() == kTaken) {
      SetOffered(kOffered);
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
      if (CodeOf(s) && !IsLong(s)) live.push_back(&s);
    });
    std::sort(live.begin(), live.end(), [](const Slot* a, const Slot* b) { return OffsetOf(*a) < OffsetOf(*b); });
    std::size_t total = 0;
    for (std::size_t i = 0; i < live.size(); ++i)
      if (i == 0 || OffsetOf(*live[i]) != OffsetOf(*live[i - 1])) total = Units::RunStart(total, CodeOf(*live[i])) + CodeOf(*live[i]);
    Units fresh;
    fresh.reserve(total);
    // Nothing below allocates.
    Slot offer = offer_;
    std::uint32_t padding = 0;
    for (std::size_t i = 0; i < live.size();) {
      const std::uint32_t from = OffsetOf(*live[i]), length = CodeOf(*live[i]);
      std::size_t end = i + 1;
      // mutate: unit-store-compaction-splits-shared-runs
      while (end < live.size() && OffsetOf(*live[end]) == from) ++end;
      const std::uint32_t at = Put(fresh, View(&units_[from], length), padding);
      const bool onOffer = Offered() != kNone && from == OffsetOf(offer_);
      // mutate: unit-store-compaction-forgets-offer
      if (onOffer) offer.word = Run(at, length).word | (offer_.word & kShared);
      const std::uint32_t flag = end - i > 1 || onOffer ? kShared : 0;
      // mutate: unit-store-compaction-keeps-offsets
      for (; i < end; ++i) live[i]->word = Run(at, length).word | flag;
    }
    units_.swap(fresh);
    offer_ = offer;
    // mutate: unit-compaction-padding-uncounted
    dead_ = padding;
  }

  // Room for `more` further units at once (a run pushed to the next page
  // may still add a page). Out of memory it throws with nothing changed.
  void Reserve(std::size_t more) {
    if (more) units_.reserve(std::min(units_.size() + more, kMostUnits));
  }
  std::size_t UnitCount() const { return units_.size(); }
  // Asks the cache for where the next text goes; changes nothing.
  void Prefetch() const { units_.Prefetch(); }
  // Where the units lie, piece by piece, as EntryPool::Piece.
  std::pair<const void*, std::size_t> UnitPiece(std::size_t k) const {
    const auto [first, count] = units_.Piece(k);
    return {first, count * sizeof(char16_t)};
  }
  // Units of the live slots of one side.
  std::size_t HeldUnits(Side side) const { return held_[side]; }
  std::size_t MemoryUsage() const {
    std::size_t bytes = units_.capacity() * sizeof(char16_t);
    if (long_) {
      bytes += sizeof(LongTexts) + long_->all.capacity() * sizeof(LongText);
      for (const LongText& t : long_->all)
        if (t.units) bytes += t.length * sizeof(char16_t);
    }
    return bytes;
  }

  // The first broken invariant, empty when all hold; eachSlot as for
  // Compact. May throw std::bad_alloc.
  template <class EachSlot>
  std::string Check(EachSlot&& eachSlot) const {
    struct Held {
      Slot slot;
      Side side;
    };
    std::vector<Held> live;
    std::vector<bool> longSeen(long_ ? long_->all.size() : 0);
    std::uint32_t held[2] = {0, 0};
    const char* broken = nullptr;
    const auto fail = [&broken](const char* what) { broken = broken ? broken : what; };
    eachSlot([&](Side side, const Slot& s) {
      const std::uint32_t code = CodeOf(s), offset = OffsetOf(s);
      if (code == kLongLength) {
        if (offset >= longSeen.size() || !long_->all[offset].units || longSeen[offset])
          fail("6: a long text held twice or not at all");
        else if (long_->all[offset].side != side || (s.word & kShared))
          fail("6: a long text shared or on the wrong side");
        else
          held[side] += long_->all[offset].length, longSeen[offset] = true;
        return;
      }
      held[side] += code;
      if (code == 0) {
        if (s.word) fail("1: an empty slot that is not zero");
      } else if (std::size_t{offset} + code > units_.size() || Units::RunStart(offset, code) != offset || code > kLongestRun) {
        fail("1: a slot outside the units or across a page");
      } else {
        live.push_back({s, side});
      }
    });
    if (broken) return broken;
    if (long_) {
      std::uint32_t free = 0;
      for (std::uint32_t i = 0; i < long_->all.size(); ++i) {
        if (!long_->all[i].units) {
          ++free;
        } else if (!longSeen[i]) {
          return "6: a long text that no slot holds";
        }
      }
      std::uint32_t listed = 0;
      for (std::uint32_t i = long_->firstFree; i != kNoLong && listed <= free; i = long_->all[i].length) {
        if (i >= long_->all.size() || long_->all[i].units) return "6: the free list names a held block";
        ++listed;
      }
      if (listed != free) return "6: a free place off the free list";
    }
    std::sort(live.begin(), live.end(), [](const Held& a, const Held& b) { return OffsetOf(a.slot) < OffsetOf(b.slot); });
    std::size_t inUse = 0, end = 0;
    for (std::size_t i = 0; i < live.size(); ++i) {
      const Slot s = live[i].slot;
      if (i > 0 && OffsetOf(live[i - 1].slot) == OffsetOf(s)) {
        const Held& p = live[i - 1];
        if (!SameRun(p.slot, s) || p.side == live[i].side || (i > 1 && OffsetOf(live[i - 2].slot) == OffsetOf(s)))
          return "2: a run held other than by one text and one key";
        if (!(s.word & kShared)) return "2: a shared run without its flag";
        continue;
      }
      if (OffsetOf(s) < end) return "2: overlapping runs";
      end = OffsetOf(s) + CodeOf(s);
      inUse += CodeOf(s);
    }
    if (Offered() != kNone) {
      int texts = 0, keys = 0;
      for (const Held& h : live) {
        if (!SameRun(h.slot, offer_)) continue;
        if (!(h.slot.word & kShared)) return "3: the offered text without its flag";
        ++(h.side == kText ? texts : keys);
      }
      if (texts != 1 || keys != (Offered() == kTaken ? 1 : 0)) return "3: the offer disagrees with the slots";
    }
    if (held[kText] != held_[kText] || held[kKey] != held_[kKey]) return "4: units held miscounted";
    if (!held_[kText] && !held_[kKey] && (units_.capacity() || long_)) return "4: an unused array kept";
    if (dead_ < units_.size() - inUse || dead_ > units_.size()) return "5: dead units miscounted";
    return {};
  }

 private:
  enum Offer : std::uint8_t { kNone, kOffered, kTaken };

  using Units = EntryPool<char16_t>;

  static constexpr int kLengthShift = 25;
  static constexpr std::uint32_t kOffsetMask = (1u << kLengthShift) - 1;
  static constexpr std::uint32_t kLongLength = 63;
  static constexpr std::uint32_t kNoLong = 0xFFFFFFFFu;
  static_assert(kLongestRun < kLongLength && kLongestRun <= Units::kPage);

  static std::uint32_t OffsetOf(Slot s) { return s.word & kOffsetMask; }
  static std::uint32_t CodeOf(Slot s) { return (s.word >> kLengthShift) & kLongLength; }
  static bool IsLong(Slot s) { return CodeOf(s) == kLongLength; }
  static Slot Run(std::uint32_t offset, std::uint32_t length) { return Slot{offset | length << kLengthShift}; }

  Offer Offered() const { return !offer_.word ? kNone : (offer_.word & kShared) ? kTaken : kOffered; }
  void SetOffer(Slot run, Offer o) { offer_.word = o == kNone ? 0 : (run.word & ~kShared) | (o == kTaken ? kShared : 0); }
  void SetOffered(Offer o) { SetOffer(offer_, o); }

  // A text too long for a run, in a block of its own. A free place keeps
  // the next free one in length.
  struct LongText {
    std::unique_ptr<char16_t[]> units;
    std::uint32_t length = 0;
    Side side = kText;
  };
  struct LongTexts {
    std::vector<LongText> all;
    std::uint32_t firstFree = kNoLong;
  };

  Slot MakeLong(Side side, View text) {
    if (text.size() > 0x7FFFFFFFu) throw std::bad_alloc();
    if (!long_) long_ = std::make_unique<LongTexts>();
    LongTexts& l = *long_;
    try {
      return PlaceLong(l, side, text);
    } catch (...) {
      if (l.all.empty()) long_.reset();  // no block made: none kept
      throw;
    }
  }

  Slot PlaceLong(LongTexts& l, Side side, View text) {
    auto units = std::make_unique_for_overwrite<char16_t[]>(text.size());
    std::copy(text.begin(), text.end(), units.get());
    std::uint32_t at = l.firstFree;
    if (at == kNoLong) {
      if (l.all.size() > kOffsetMask) throw std::bad_alloc();
      l.all.emplace_back();
      at = static_cast<std::uint32_t>(l.all.size() - 1);
    } else {
      l.firstFree = l.all[at].length;
    }
    const auto length = static_cast<std::uint32_t>(text.size());
    l.all[at] = LongText{std::move(units), length, side};
    held_[side] += length;
    return Slot{at | kLongLength << kLengthShift};
  }

  // Frees a long text's block; its length.
  std::uint32_t FreeLong(std::uint32_t at) {
    LongText& t = long_->all[at];
    const std::uint32_t length = t.length;
    t.units.reset();
    t.length = long_->firstFree;
    // mutate: long-text-place-not-reused
    long_->firstFree = at;
    return length;
  }

  Slot Append(View units) {
    if (units.empty()) return Slot{};
    const std::size_t end = Units::RunStart(units_.size(), units.size()) + units.size();
    if (end > kMostUnits) throw std::bad_alloc();  // offsets fit their bits
    units_.grow_to(end);
    std::uint32_t padding = 0;
    const std::uint32_t at = Put(units_, units, padding);
    // mutate: unit-padding-uncounted
    dead_ += padding;
    return Run(at, static_cast<std::uint32_t>(units.size()));
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
    // mutate: unit-store-freed-while-one-side-holds
    if (!held_[kText] && !held_[kKey]) {
      units_.clear();
      long_.reset();
      dead_ = 0;
      SetOffered(kNone);
    }
    if (dead_ > units_.size()) dead_ = units_.size();
  }

  Units units_;
  std::uint32_t dead_ = 0;
  std::uint32_t held_[2] = {0, 0};
  // The text on offer: 0 when none, else its run, with kShared once a key
  // has taken it; a byte less than a separate state, which keeps the
  // container's names block a size class smaller.
  Slot offer_;
  std::unique_ptr<LongTexts> long_;
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
