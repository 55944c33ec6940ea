// Sector chains: how a compound file's bytes are found through its FAT
// and mini FAT, and how a chain is checked before it is trusted.
//
// Invariants kept for every FileLayout:
//  1. A sector (or mini sector) is claimed at most once: by the file's own
//     tables or by one checked chain (`owned`, `miniOwned`). A chain that
//     meets a claimed unit is a loop or a shared chain, never followed.
//  2. Bytes are read through a chain only after CheckChain passed it, so a
//     reader never leaves the file nor walks a unit twice.
//  3. Every walk is bounded by the number of sectors in the file, whatever
//     size an entry declares.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "cfb/cfb_format.h"
#include "cfb/status.h"

namespace nametree::cfb {

using Bytes = std::vector<std::uint8_t>;

// Random access to the bytes of a file; reads past the end fail.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual std::uint64_t Size() const = 0;
  virtual Status ReadAt(std::uint64_t offset, std::uint8_t* data, std::size_t size) = 0;
};

std::shared_ptr<ByteSource> MemorySource(Bytes bytes);

// Which of `size` sectors are taken, in pages allocated when first marked,
// so that a large file costs only for the parts a chain touched.
class SectorSet {
 public:
  void Reset(std::uint64_t size) {
    size_ = size;
    pages_.clear();
    pages_.resize(static_cast<std::size_t>((size + kPageBits - 1) / kPageBits));
  }
  std::uint64_t size() const { return size_; }
  bool operator[](std::uint64_t i) const {
    const auto& page = pages_[static_cast<std::size_t>(i / kPageBits)];
    return page && (page[(i % kPageBits) / 64] >> (i % 64) & 1);
  }
  void Set(std::uint64_t i) {
    auto& page = pages_[static_cast<std::size_t>(i / kPageBits)];
    if (!page) page = std::make_unique<std::uint64_t[]>(kPageBits / 64);
    page[(i % kPageBits) / 64] |= std::uint64_t{1} << (i % 64);
  }

 private:
  static constexpr std::uint64_t kPageBits = 1 << 15;
  std::uint64_t size_ = 0;
  std::vector<std::unique_ptr<std::uint64_t[]>> pages_;
};

// The allocation tables of a file as read: enough to find any stream. The
// FAT is read a sector at a time when a chain first needs it, so opening a
// large file costs what its directory costs.
struct FileLayout {
  std::shared_ptr<ByteSource> source;
  int majorVersion = 3;
  std::uint32_t sectorSize = 512;
  std::uint64_t sectorCount = 0;
  std::vector<std::uint32_t> fatSectors;  // where each sector of the FAT lies
  std::vector<std::uint32_t> miniFat;
  std::vector<std::uint32_t> miniChain;  // the sectors of the mini stream, in order
  std::uint64_t miniStreamSize = 0;
  // Sectors and mini sectors taken by the tables and by the chains checked so far.
  mutable SectorSet owned;
  mutable SectorSet miniOwned;

  // The entry of `sector` in the FAT: the next sector of its chain.
  Status Next(std::uint32_t sector, std::uint32_t* next) const;
  std::uint64_t FatEntries() const { return std::uint64_t{fatSectors.size()} * (sectorSize / 4); }

 private:
  Status LoadFatPages(std::size_t page) const;

  mutable std::unordered_map<std::uint32_t, std::unique_ptr<std::uint32_t[]>> fatPages_;
  mutable std::uint32_t lastPage_ = ~std::uint32_t{0};
  mutable const std::uint32_t* lastEntries_ = nullptr;
};

// Where a stream's bytes lie: its first unit, how many bytes to read, and
// whether its units are mini sectors (decided by the size its entry
// declares, which a recovered stream no longer has).
struct ChainPlace {
  std::uint32_t start = kEndOfChain;
  std::uint64_t size = 0;
  bool mini = true;

  static ChainPlace Declared(std::uint32_t start, std::uint64_t size) {
    // mutate: mini-stream-cutoff
    return {start, size, size < kMiniStreamCutoff};
  }
};

// Reads a stream still in the file front to back, remembering where in the
// chain it is so that each sector is found once.
class ChainReader {
 public:
  ChainReader(std::shared_ptr<const FileLayout> layout, ChainPlace place);

  // Reads `size` bytes at the current position (which must stay inside the
  // stream) and advances.
  Status Read(std::uint8_t* data, std::size_t size);
  // The file offset and length of the longest run of adjacent sectors from
  // the current position, at most `limit` bytes; advances past it.
  Status NextRun(std::uint64_t limit, std::uint64_t* offset, std::uint64_t* length);

 private:
  std::uint64_t UnitOffset(std::uint32_t unit) const;  // where a sector or mini sector lies in the file

  std::shared_ptr<const FileLayout> layout_;
  bool mini_;
  std::uint32_t unitSize_;
  std::uint64_t remaining_;
  std::uint32_t unit_;  // the unit holding the position
  std::uint32_t intoUnit_ = 0;
};

// Follows the chain of a stream still in the file and claims its units.
// kShortChain: the chain ends cleanly before the declared size; `*held` is
// the number of bytes its units hold, and they can be read. kUnreadable:
// the chain leaves the file (the entry alone is lost). kCorrupt: it loops
// or meets another chain (the file is damaged).
Status CheckChain(const FileLayout& layout, const ChainPlace& place, const std::string& what,
                  std::uint64_t* held);

}  // namespace nametree::cfb
