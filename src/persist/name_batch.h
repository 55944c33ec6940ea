// NameBatch: the names of one container record, read whole before any of
// them enters the container, for a container that no one sees until its
// record is complete (one that Load makes, or the server's new top-level
// container).
//
// Invariant: Enter leaves the two name tables exactly as entering the names
// one by one in record order (EnterName, then EnterKey) does: the same keys,
// values and walk order. It may enter in another order because a key's
// place depends only on the keys of its own bucket, entered before or after
// it: texts go in record order, and upper-cased keys in bucket order, keys
// of one bucket in record order, so that a large table's list of used
// buckets grows at its end instead of in its middle. MatchesOneByOne checks
// this against tables built the one-by-one way; debug builds run it after
// every batch.
//
// Out of memory, Enter leaves the tables part-filled: the caller discards
// the container, as Load does with a record that fails.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "container/name_unit_store.h"
#include "nametree/types.h"

namespace nametree {

class ContainerTables;
class RecordReader;

class NameBatch {
 public:
  // Reads `count` (ID, counted string) pairs; the batch's storage is
  // reused from record to record.
  void Read(RecordReader& in, int count);
  // REQUIRES: tables belong to a container outside any tree index.
  void Enter(ContainerTables& tables);
  // Whether `tables`, holding exactly this batch's names, equal tables that
  // entered them one by one in record order.
  bool MatchesOneByOne(const ContainerTables& tables) const;

 private:
  static constexpr std::size_t kRadixFrom = 64;

  void SortByBucket();
  std::size_t size() const { return ids_.size(); }
  std::u16string_view TextAt(std::size_t i) const { return Slice(texts_, i); }
  std::u16string_view KeyAt(std::size_t i) const { return Slice(keys_, i); }
  std::u16string_view Slice(const std::vector<char16_t>& units, std::size_t i) const {
    const std::size_t from = i ? ends_[i - 1] : 0;
    return std::u16string_view(units.data() + from, ends_[i] - from);
  }

  std::vector<std::uint32_t> ids_;
  std::vector<std::size_t> ends_;  // where each name's units end, in both unit arrays
  std::vector<char16_t> texts_;
  std::vector<char16_t> keys_;
  std::vector<NameUnitStore::Slot> texts_at_;  // where Enter put each text
  std::vector<std::uint64_t> order_;  // bucket << 32 | position in the record
  std::vector<std::uint64_t> scratch_;
  CString read_;                       // the text being read
};

}  // namespace nametree
