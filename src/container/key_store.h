// How a chained table keeps its keys: the interface its Store parameter
// follows, and the store of ID keys, which are kept as they are. Text
// keys live in a container's NameUnitStore (container/name_unit_store.h),
// reached through NameUnitKeys.
//
// A Store hands out a Slot for a key (Make), views it (ViewOf), is told
// when a slot is no longer used (Drop) and when the table is emptied
// (Clear).
#pragma once

#include <cstddef>

namespace nametree {

template <class Key>
class KeyStore {
 public:
  using Slot = Key;
  using View = Key;
  static View ViewOf(Slot s) { return s; }
  static Slot Make(View key) { return key; }
  static void Drop(Slot) {}
  static void Clear() {}
  static std::size_t MemoryUsage() { return 0; }
};

}  // namespace nametree
