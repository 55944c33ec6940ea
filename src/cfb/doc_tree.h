// The entries of an opened compound file, held without their bytes.
//
// A stream node either owns its bytes (`data`, once written to or created)
// or names where they lie in the file it was read from (`start`, `size`,
// read through the shared FileLayout). Invariants kept by every operation:
//  - a node's bytes are read only after its chain was followed in full
//    (`checked`): it stays inside the file and shares no sector with any
//    other checked chain or the file's own tables (FileLayout::owned);
//  - a commit checks every chain not yet checked before it writes;
//  - the FileLayout and its ByteSource outlive every node that names them
//    (each holder keeps a shared reference);
//  - children are unique by exact name; entries that could not be read are
//    kept apart in `unreadable`, never among the children, until replaced.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "cfb/cfb_format.h"

namespace nametree::cfb {

using Bytes = std::vector<std::uint8_t>;

// Random access to the bytes of a file; reads past the end fail.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual std::uint64_t Size() const = 0;
  virtual bool ReadAt(std::uint64_t offset, std::uint8_t* data, std::size_t size, std::string* error) = 0;
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
  bool Next(std::uint32_t sector, std::uint32_t* next, std::string* error) const;
  std::uint64_t FatEntries() const { return std::uint64_t{fatSectors.size()} * (sectorSize / 4); }

 private:
  bool LoadFatPages(std::size_t page, std::string* error) const;

  mutable std::unordered_map<std::uint32_t, std::unique_ptr<std::uint32_t[]>> fatPages_;
  mutable std::uint32_t lastPage_ = ~std::uint32_t{0};
  mutable const std::uint32_t* lastEntries_ = nullptr;
};

struct Unreadable {
  CString name;
  std::string reason;
};

struct DocNode {
  CString name;
  bool storage = false;
  EntryMetadata metadata;
  // A stream's bytes: owned once loaded or written, else in the file.
  std::shared_ptr<Bytes> data;
  std::uint32_t start = kEndOfChain;
  std::uint64_t size = 0;
  bool open = false;     // exclusive sharing: one stream handle at a time
  bool checked = false;  // its chain in the file was followed and claimed
  std::vector<std::shared_ptr<DocNode>> children;
  std::vector<Unreadable> unreadable;

  std::uint64_t Size() const { return data ? data->size() : size; }
};

// Reads a stream still in the file front to back, remembering where in the
// chain it is so that each sector is found once.
class ChainReader {
 public:
  ChainReader(std::shared_ptr<const FileLayout> layout, std::uint32_t start, std::uint64_t size);

  // Reads `size` bytes at the current position (which must stay inside the
  // stream) and advances.
  bool Read(std::uint8_t* data, std::size_t size, std::string* error);
  // The file offset and length of the longest run of adjacent sectors from
  // the current position, at most `limit` bytes; advances past it.
  bool NextRun(std::uint64_t limit, std::uint64_t* offset, std::uint64_t* length, std::string* error);

 private:
  std::uint64_t UnitOffset(std::uint32_t unit) const;  // where a sector or mini sector lies in the file

  std::shared_ptr<const FileLayout> layout_;
  bool mini_;
  std::uint32_t unitSize_;
  std::uint64_t remaining_;
  std::uint32_t unit_;  // the unit holding the position
  std::uint32_t intoUnit_ = 0;
};

enum class ChainCheck { kGood, kUnreadable, kCorrupt };

// Follows the chain of a stream still in the file and claims its sectors.
// kUnreadable: the chain leaves the file or ends early (the entry alone is
// lost); kCorrupt: it loops or meets another chain (the file is damaged).
ChainCheck CheckChain(const FileLayout& layout, std::uint32_t start, std::uint64_t size,
                      const std::string& what, std::string* why);

// Checks every chain under `storage` not yet checked; an entry that fails
// moves to `unreadable`, with "path: reason" added to `warnings`. Returns
// false, with `error`, at the first corrupt chain when `corruptIsFatal`.
bool CheckChains(const FileLayout* layout, DocNode& storage, const std::string& path, bool corruptIsFatal,
                 std::vector<std::string>* warnings, std::string* error);

// A whole stream's bytes, from memory or the file.
bool LoadStream(const std::shared_ptr<const FileLayout>& layout, const DocNode& node, Bytes* out,
                std::string* error);

}  // namespace nametree::cfb
