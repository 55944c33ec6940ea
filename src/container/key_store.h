// How a chained table keeps its keys. ID keys are kept as they are. Text
// keys are kept end to end in one array of UTF-16 units owned by the
// table; an entry holds its text's offset and length (8 bytes) instead of
// a string object and, past the string's inline buffer, a heap block.
// IdTextTable keeps the texts of a name table the same way.
//
// Invariant: every live entry's units [offset, offset + length) lie inside
// the array and belong to that entry alone. Units of removed keys are
// counted as dead until Compact rewrites the array without them; Compact
// allocates before it changes anything, so out of memory the store stays
// as it was. Keys handed out as views are good until the next Make or
// Compact.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <new>
#include <string_view>
#include <vector>

#include "nametree/types.h"

namespace nametree {

template <class Key>
class KeyStore {
 public:
  using Slot = Key;
  using View = Key;
  static View ViewOf(Slot s) { return s; }
  static Slot Make(View key) { return key; }
  static void Drop(Slot) {}
  static bool WantsCompaction() { return false; }
  template <class EachSlot>
  static void Compact(EachSlot&&) {}
  static void Clear() {}
  static std::size_t MemoryUsage() { return 0; }
};

template <>
class KeyStore<CString> {
 public:
  struct Slot {
    std::uint32_t offset;
    std::uint32_t length;
  };
  using View = std::u16string_view;

  View ViewOf(Slot s) const { return View(units_.data() + s.offset, s.length); }

  // Out of memory it throws with nothing changed.
  Slot Make(View key) {
    const std::size_t size = units_.size();
    if (key.size() > 0x7FFFFFFFu - size) throw std::bad_alloc();  // offsets stay 32-bit
    if (size + key.size() > units_.capacity()) {
      // A fresh array first: key may be a view into this one.
      std::vector<char16_t> fresh;
      fresh.reserve(std::max(size + key.size(), size + size / 4));
      fresh.assign(units_.begin(), units_.end());
      fresh.insert(fresh.end(), key.begin(), key.end());
      units_.swap(fresh);
    } else {
      units_.insert(units_.end(), key.begin(), key.end());
    }
    return Slot{static_cast<std::uint32_t>(size), static_cast<std::uint32_t>(key.size())};
  }

  void Drop(Slot s) {
    if (s.offset + s.length == units_.size()) {
      units_.resize(s.offset);
    } else {
      dead_ += s.length;
    }
    if (dead_ > units_.size()) dead_ = units_.size();
  }

  bool WantsCompaction() const { return dead_ > 64 && dead_ * 2 > units_.size(); }

  // eachSlot(fix) must call fix(slot) once for every live slot.
  template <class EachSlot>
  void Compact(EachSlot&& eachSlot) {
    std::vector<char16_t> fresh;
    fresh.reserve(units_.size() - dead_);
    eachSlot([&](Slot& s) {
      const auto at = static_cast<std::uint32_t>(fresh.size());
      fresh.insert(fresh.end(), units_.begin() + s.offset, units_.begin() + s.offset + s.length);
      s.offset = at;
    });
    units_.swap(fresh);
    dead_ = 0;
  }

  void Clear() {
    std::vector<char16_t>().swap(units_);
    dead_ = 0;
  }

  std::size_t MemoryUsage() const { return units_.capacity() * sizeof(char16_t); }
  // Units of the live keys and of removed ones not yet compacted away.
  std::size_t UnitCount() const { return units_.size(); }

 private:
  std::vector<char16_t> units_;
  std::size_t dead_ = 0;
};

}  // namespace nametree
