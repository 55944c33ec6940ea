#include "cfb/cfb_reader.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <set>

#include "nametree/utf8.h"
#include "platform/text.h"

namespace nametree::cfb {
namespace {

constexpr std::uint64_t kUnbounded = ~std::uint64_t{0};

std::string Num(std::uint64_t v) { return std::to_string(v); }

std::string Quote(const CString& name) { return "\"" + ToUtf8(name) + "\""; }

// Unused directory slots that link nowhere, as writers leave them, share
// one of these instead of a decoded entry each: a directory costs memory
// for the entries it holds, not for its size.
constexpr std::uint32_t kUnusedUnlinked = 0;  // links all kNoStream
constexpr std::uint32_t kUnusedZeroed = 1;    // links all 0

class Reader {
 public:
  explicit Reader(std::shared_ptr<ByteSource> source) : source_(std::move(source)), size_(source_->Size()) {
    layout_ = std::make_shared<FileLayout>();
    layout_->source = source_;
  }

  Status ReadStructure(ParsedDirectory* out) {
    Status s = ReadHeader();
    if (s.ok()) s = ReadFat();
    if (s.ok()) s = ReadEntries();
    if (!s.ok()) return s;
    out->majorVersion = layout_->majorVersion;
    out->entries.clear();
    for (std::uint32_t id = 0; id < slots_.size(); ++id) out->entries.push_back(Entry(id));
    return Status();
  }

  Status ReadTree(bool checkChains, ReadResult* out) {
    Status s = ReadHeader();
    if (s.ok()) s = ReadFat();
    if (s.ok()) s = ReadEntries();
    if (s.ok()) s = ReadMiniStream();
    if (!s.ok()) return s;
    auto root = std::make_shared<DocNode>();
    root->storage = true;
    root->name = Entry(0).name;
    root->metadata = Entry(0).metadata;
    if (s = WalkTree(root); !s.ok()) return s;
    layout_->owned = std::move(owned_);
    layout_->miniOwned = std::move(miniOwned_);
    if (checkChains)
      if (s = CheckChains(layout_.get(), *root, "", true, &warnings_); !s.ok()) return s;
    out->layout = layout_;
    out->root = std::move(root);
    out->warnings = std::move(warnings_);
    return Status();
  }

 private:
  static Status Fail(std::string message) { return Status::Corrupt(std::move(message)); }

  const DirectoryEntry& Entry(std::uint32_t id) const { return entries_[slots_[id]]; }

  Status ReadBytes(std::uint64_t at, std::uint8_t* data, std::size_t n, const std::string& what) {
    if (at > size_ || n > size_ - at) return Fail(what + " reaches beyond the end of the file");
    return source_->ReadAt(at, data, n).Prefixed("cannot read " + what + ": ");
  }

  Status ReadHeader() {
    if (size_ < kHeaderSize)
      return Fail("the file holds " + Num(size_) + " bytes, too few for a compound-file header");
    if (Status s = ReadBytes(0, header_, kHeaderSize, "the header"); !s.ok()) return s;
    const std::uint8_t* h = header_;
    if (std::memcmp(h, kSignature, sizeof kSignature) != 0)
      return Fail("not a compound file (bad signature)");
    if (Get16(h + kOffByteOrder) != kByteOrderMark) return Fail("bad byte-order mark in the header");
    const int major = Get16(h + kOffMajorVersion);
    const std::uint16_t shift = Get16(h + kOffSectorShift);
    if (major != 3 && major != 4) return Fail("unsupported major version " + Num(major));
    // Version 3 files with 4096-byte sectors exist in the wild and are read.
    if (shift != kSectorShiftV4 && (major == 4 || shift != kSectorShiftV3))
      return Fail("sector shift " + Num(shift) + " does not fit major version " + Num(major));
    if (Get16(h + kOffMiniSectorShift) != kMiniSectorShift)
      return Fail("bad mini sector shift " + Num(Get16(h + kOffMiniSectorShift)));
    if (Get32(h + kOffMiniStreamCutoff) != kMiniStreamCutoff)
      return Fail("bad mini stream cutoff " + Num(Get32(h + kOffMiniStreamCutoff)));
    layout_->majorVersion = major;
    sectorSize_ = std::uint32_t{1} << shift;
    layout_->sectorSize = sectorSize_;
    if (size_ < sectorSize_) return Fail("the file ends inside its header sector");
    // A last sector cut short still counts; reads check for the bytes they need.
    sectorCount_ = std::min<std::uint64_t>((size_ - sectorSize_ + sectorSize_ - 1) / sectorSize_,
                                           std::uint64_t{kMaxRegularSector} + 1);
    layout_->sectorCount = sectorCount_;
    owned_.Reset(sectorCount_);
    return Status();
  }

  std::uint32_t EntriesPerSector() const { return sectorSize_ / 4; }

  std::uint64_t SectorOffset(std::uint32_t sector) const { return (std::uint64_t{sector} + 1) * sectorSize_; }

  Status ReadSector(std::uint32_t sector, std::uint8_t* data, const char* what) {
    if (sector >= sectorCount_ || SectorOffset(sector) + sectorSize_ > size_)
      return Fail(std::string(what) + " needs sector " + Num(sector) + ", beyond the end of the file");
    return ReadBytes(SectorOffset(sector), data, sectorSize_, what);
  }

  // The FAT is read in runs of adjacent sectors, as writers lay it out.
  Status ReadTableSectors(const std::vector<std::uint32_t>& sectors, std::vector<std::uint32_t>* table,
                        const char* what) {
    table->resize(sectors.size() * EntriesPerSector());
    std::vector<std::uint8_t> buffer;
    for (std::size_t i = 0; i < sectors.size();) {
      std::size_t j = i + 1;
      while (j < sectors.size() && j - i < 256 && sectors[j] == sectors[j - 1] + 1) ++j;
      const std::uint32_t first = sectors[i];
      const std::uint32_t last = sectors[j - 1];
      if (first >= sectorCount_ || last >= sectorCount_ || SectorOffset(last) + sectorSize_ > size_)
        return Fail(std::string(what) + " needs sector " + Num(std::max(first, last)) +
                    ", beyond the end of the file");
      buffer.resize((j - i) * sectorSize_);
      if (Status s = ReadBytes(SectorOffset(first), buffer.data(), buffer.size(), what); !s.ok()) return s;
      for (std::size_t k = 0; k < (j - i) * EntriesPerSector(); ++k)
        (*table)[i * EntriesPerSector() + k] = Get32(buffer.data() + 4 * k);
      i = j;
    }
    return Status();
  }

  Status ReadFat() {
    const std::uint8_t* h = header_;
    const std::uint32_t fatSectors = Get32(h + kOffFatSectors);
    if (fatSectors > sectorCount_)
      return Fail("the header claims " + Num(fatSectors) + " FAT sectors, the file holds " +
                  Num(sectorCount_) + " sectors");
    std::vector<std::uint32_t> locations(fatSectors);
    std::size_t known = std::min<std::uint32_t>(fatSectors, kHeaderDifatEntries);
    for (std::size_t i = 0; i < known; ++i) locations[i] = Get32(h + kOffHeaderDifat + 4 * i);
    std::uint32_t sector = Get32(h + kOffFirstDifatSector);
    // DIFAT sectors mostly lie side by side, so they are read in blocks.
    constexpr std::uint64_t kBlockSectors = 64;
    const std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[kBlockSectors * sectorSize_]);
    std::uint64_t blockFirst = 0, blockSectors = 0;
    const std::uint32_t perSector = EntriesPerSector() - 1;
    while (known < fatSectors) {
      if (sector >= sectorCount_)
        return Fail("the DIFAT ends after " + Num(known) + " of " + Num(fatSectors) + " FAT sectors");
      if (owned_[sector]) return Fail("the DIFAT chain loops at sector " + Num(sector));
      owned_.Set(sector);
      if (sector < blockFirst || sector >= blockFirst + blockSectors) {
        if (SectorOffset(sector) + sectorSize_ > size_)
          return Fail("the DIFAT needs sector " + Num(sector) + ", beyond the end of the file");
        blockSectors = std::min<std::uint64_t>((size_ - SectorOffset(sector)) / sectorSize_, kBlockSectors);
        blockFirst = sector;
        if (Status s = ReadBytes(SectorOffset(sector), block.get(), blockSectors * sectorSize_, "the DIFAT");
            !s.ok())
          return s;
      }
      const std::uint8_t* p = block.get() + (sector - blockFirst) * sectorSize_;
      const std::size_t take = std::min<std::size_t>(perSector, fatSectors - known);
      for (std::size_t i = 0; i < take; ++i) locations[known + i] = Get32(p + 4 * i);
      known += take;
      sector = Get32(p + 4 * perSector);
    }
    // FAT sectors are not claimed: a chain through one reads table bytes as
    // data, harmless, and claiming 16 000 of them would cost a large file's
    // open more than everything else.
    for (std::uint32_t s : locations)
      if (s >= sectorCount_) return Fail("the FAT needs sector " + Num(s) + ", beyond the end of the file");
    layout_->fatSectors = std::move(locations);
    return Status();
  }

  // Follows a chain of the file's own tables through the FAT from `start`,
  // collecting up to `wanted` sectors (all of them up to the end of chain
  // when unbounded) and claiming each.
  Status FollowChain(std::uint32_t start, std::uint64_t wanted, const std::string& what,
                   std::vector<std::uint32_t>* out) {
    const std::uint64_t space = std::min<std::uint64_t>(sectorCount_, layout_->FatEntries());
    std::vector<std::uint32_t> chain;
    std::uint32_t unit = start;
    while (wanted == kUnbounded || chain.size() < wanted) {
      if (unit == kEndOfChain) {
        if (wanted == kUnbounded) break;
        return Fail("the chain of " + what + " ends after " + Num(chain.size()) + " of " + Num(wanted) +
                    " sectors");
      }
      if (unit >= space)
        return Fail("the chain of " + what + " points at sector " + Num(unit) + ", which does not exist");
      // mutate: chain-loop-check-removed
      if (owned_[unit]) {
        if (std::find(chain.begin(), chain.end(), unit) != chain.end())
          return Fail("the chain of " + what + " loops at sector " + Num(unit));
        return Fail("the chain of " + what + " reaches sector " + Num(unit) +
                    ", which another entry also uses (a shared chain)");
      }
      owned_.Set(unit);
      chain.push_back(unit);
      if (Status s = layout_->Next(unit, &unit); !s.ok()) return Fail(s.message());
    }
    *out = std::move(chain);
    return Status();
  }

  Status ReadEntries() {
    std::vector<std::uint32_t> chain;
    if (Status s = FollowChain(Get32(header_ + kOffFirstDirectorySector), kUnbounded, "the directory", &chain);
        !s.ok())
      return s;
    if (chain.empty()) return Fail("the directory is empty");
    const std::uint32_t perSector = sectorSize_ / kEntrySize;
    entries_.resize(2);
    entries_[kUnusedZeroed].left = entries_[kUnusedZeroed].right = entries_[kUnusedZeroed].child = 0;
    slots_.reserve(chain.size() * perSector);
    std::vector<std::uint8_t> buffer(sectorSize_);
    for (std::uint32_t sector : chain) {
      if (Status s = ReadSector(sector, buffer.data(), "the directory"); !s.ok()) return s;
      for (std::uint32_t i = 0; i < perSector; ++i) DecodeEntry(buffer.data() + i * kEntrySize);
    }
    if (Entry(0).type != EntryType::kRoot) return Fail("the first directory entry is no root");
    return Status();
  }

  void DecodeEntry(const std::uint8_t* p) {
    const std::uint32_t link = Get32(p + kOffEntryLeft);
    // mutate: directory-slots-decoded
    if (p[kOffEntryType] == 0 && (link == kNoStream || link == 0) && Get32(p + kOffEntryRight) == link &&
        Get32(p + kOffEntryChild) == link) {
      slots_.push_back(link == 0 ? kUnusedZeroed : kUnusedUnlinked);
      return;
    }
    DirectoryEntry e;
    const std::uint16_t length = Get16(p + kOffEntryNameLength);
    const std::size_t units = std::min<std::size_t>(length / 2, 32);
    for (std::size_t i = 0; i < units; ++i) e.name.push_back(static_cast<char16_t>(Get16(p + 2 * i)));
    if (!e.name.empty() && e.name.back() == 0) e.name.pop_back();
    e.nameLength = length;
    e.type = static_cast<EntryType>(p[kOffEntryType]);
    e.color = static_cast<EntryColor>(p[kOffEntryColor]);
    e.left = Get32(p + kOffEntryLeft);
    e.right = Get32(p + kOffEntryRight);
    e.child = Get32(p + kOffEntryChild);
    std::memcpy(e.metadata.clsid, p + kOffEntryClsid, sizeof e.metadata.clsid);
    e.metadata.stateBits = Get32(p + kOffEntryState);
    e.metadata.created = Get64(p + kOffEntryCreated);
    e.metadata.modified = Get64(p + kOffEntryModified);
    e.start = Get32(p + kOffEntryStart);
    // Version 3 files may carry junk in the high half of the size.
    e.size = layout_->majorVersion == 3 ? Get32(p + kOffEntrySize) : Get64(p + kOffEntrySize);
    slots_.push_back(static_cast<std::uint32_t>(entries_.size()));
    entries_.push_back(std::move(e));
  }

  Status ReadMiniStream() {
    const DirectoryEntry& root = Entry(0);
    if (root.size > size_)
      return Fail("the mini stream claims " + Num(root.size) + " bytes, more than the whole file");
    Status s = FollowChain(root.start, (root.size + sectorSize_ - 1) / sectorSize_, "the mini stream",
                           &layout_->miniChain);
    if (!s.ok()) return s;
    layout_->miniStreamSize = root.size;
    std::vector<std::uint32_t> chain;
    if (s = FollowChain(Get32(header_ + kOffFirstMiniFatSector), kUnbounded, "the mini FAT", &chain); !s.ok())
      return s;
    if (s = ReadTableSectors(chain, &layout_->miniFat, "the mini FAT"); !s.ok()) return s;
    miniOwned_.Reset(std::min<std::uint64_t>(layout_->miniFat.size(),
                                             (root.size + kMiniSectorSize - 1) / kMiniSectorSize));
    return Status();
  }

  bool NameProblem(std::uint32_t id, std::string* problem) {
    const DirectoryEntry& e = Entry(id);
    const std::uint16_t length = e.nameLength;
    // A length of 0 is an empty name with no terminator.
    if (length % 2 != 0 || length > 64 || (length > 0 && e.name.size() != length / 2u - 1) ||
        e.name.find(u'\0') != CString::npos)
      *problem = "directory entry " + Num(id) + " has a name of bad length " + Num(length);
    return !problem->empty();
  }

  struct Pending {
    std::uint32_t entry;
    std::shared_ptr<DocNode> node;
    int depth;
    std::string path;
  };

  // The entries of the tree under `top`, each reached exactly once.
  Status CollectSiblings(std::uint32_t top, std::uint32_t owner, std::vector<std::uint32_t>* out) {
    std::vector<std::uint32_t> stack{top};
    while (!stack.empty()) {
      const std::uint32_t id = stack.back();
      stack.pop_back();
      if (id == kNoStream) continue;
      if (id >= slots_.size())
        return Fail("the directory under entry " + Num(owner) + " links to entry " + Num(id) +
                    ", past the last of " + Num(slots_.size()));
      if (reached_[id])
        return Fail("the directory under entry " + Num(owner) + " reaches entry " + Num(id) +
                    " twice (a cycle)");
      reached_[id] = true;
      out->push_back(id);
      stack.push_back(Entry(id).right);
      stack.push_back(Entry(id).left);
    }
    return Status();
  }

  Status WalkTree(const std::shared_ptr<DocNode>& root) {
    reached_.assign(slots_.size(), false);
    reached_[0] = true;
    std::deque<Pending> pending;
    pending.push_back({0, root, 0, ""});
    while (!pending.empty()) {
      Pending p = std::move(pending.front());
      pending.pop_front();
      std::vector<std::uint32_t> children;
      if (Status s = CollectSiblings(Entry(p.entry).child, p.entry, &children); !s.ok()) return s;
      std::set<CString> names;
      for (std::uint32_t id : children) {
        const DirectoryEntry& e = Entry(id);
        const std::string path = p.path + ToUtf8(e.name);
        std::string problem;
        if (e.type != EntryType::kStream && e.type != EntryType::kStorage)
          problem = "directory entry " + Num(id) + " has type " + Num(static_cast<unsigned>(e.type)) +
                           " where a stream or storage belongs";
        else if (!NameProblem(id, &problem) && !names.insert(ToUpper(e.name)).second)
          return Fail("two entries are named " + Quote(e.name) + " in one storage");
        if (!problem.empty()) {
          warnings_.push_back(path + ": " + problem);
          p.node->unreadable.push_back({e.name, problem});
          continue;
        }
        auto node = std::make_shared<DocNode>();
        node->name = e.name;
        node->metadata = e.metadata;
        if (e.type == EntryType::kStream) {
          node->place = ChainPlace::Declared(e.start, e.size);
        } else {
          node->storage = true;
          // mutate: nesting-limit-off-by-one
          if (p.depth + 1 > kMaxNesting)
            return Fail("storages are nested deeper than " + Num(kMaxNesting) + " levels");
          pending.push_back({id, node, p.depth + 1, path + "/"});
        }
        p.node->children.push_back(std::move(node));
      }
    }
    return Status();
  }

  std::shared_ptr<ByteSource> source_;
  std::uint64_t size_;
  std::shared_ptr<FileLayout> layout_;
  std::uint8_t header_[kHeaderSize] = {};
  std::uint32_t sectorSize_ = 512;
  std::uint64_t sectorCount_ = 0;
  SectorSet owned_;
  SectorSet miniOwned_;
  std::vector<DirectoryEntry> entries_;  // the two unused forms, then every other entry
  std::vector<std::uint32_t> slots_;      // directory slot -> its index in entries_
  std::vector<bool> reached_;
  std::vector<std::string> warnings_;
};

}  // namespace

Status ReadDirectory(const std::vector<std::uint8_t>& file, ParsedDirectory* out) {
  return Reader(MemorySource(file)).ReadStructure(out);
}

Status ReadCompoundFile(std::shared_ptr<ByteSource> source, bool checkChains, ReadResult* out) {
  return Reader(std::move(source)).ReadTree(checkChains, out);
}

}  // namespace nametree::cfb
