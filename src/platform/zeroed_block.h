// A block of zero-filled memory that can grow where it lies. A block of
// kMappedFrom bytes or more is a mapping of its own, so that growing it
// extends the mapping (or moves it, which copies no bytes): the pages it
// has stay, and only the added part is fresh memory, zeroed by the system
// as it is first touched. Growing a large array by an eighth then writes
// an eighth of it anew, where a fresh array would be faulted in and filled
// whole beside the old one. Smaller blocks come from operator new and are
// not grown in place.
//
// Invariant (Valid): a block is empty (null, no bytes); or taken from the
// heap, below kMappedFrom bytes; or mapped, at least kMappedFrom bytes in
// whole pages. MappedBytes() is the sum over the mapped blocks alive, which
// heap counters do not see.
#pragma once

#include <cstddef>

#include "platform/huge_pages.h"

namespace nametree {

class ZeroedBlock {
 public:
  // Where a block of its own pays: where huge pages do.
  static constexpr std::size_t kMappedFrom = kHugePageWorthy;

  ZeroedBlock() = default;
  // At least `bytes` zero bytes; std::bad_alloc when there is no room.
  explicit ZeroedBlock(std::size_t bytes);
  ~ZeroedBlock() { Release(); }
  ZeroedBlock(ZeroedBlock&& other) noexcept;
  ZeroedBlock& operator=(ZeroedBlock&& other) noexcept;
  ZeroedBlock(const ZeroedBlock&) = delete;
  ZeroedBlock& operator=(const ZeroedBlock&) = delete;

  void* get() const { return mem_; }
  std::size_t bytes() const { return bytes_; }
  explicit operator bool() const { return mem_ != nullptr; }
  bool mapped() const { return mapped_; }

  // Grows a mapped block to at least `bytes`, keeping what it holds; the
  // bytes added read zero. False, with nothing changed, for a heap block or
  // when the system has no room. get() may change.
  bool GrowInPlace(std::size_t bytes);

  void reset() { Release(); }
  bool Valid() const;
  static std::size_t MappedBytes();

 private:
  void Release() noexcept;

  void* mem_ = nullptr;
  std::size_t bytes_ = 0;
  bool mapped_ = false;
};

}  // namespace nametree
