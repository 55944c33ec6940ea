#include "cfb/cfb_reader.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <set>

#include "nametree/utf8.h"
#include "platform/text.h"

namespace nametree::cfb {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint64_t kUnbounded = ~std::uint64_t{0};

std::string Num(std::uint64_t v) { return std::to_string(v); }

std::string Quote(const CString& name) { return "\"" + ToUtf8(name) + "\""; }

class Reader {
 public:
  Reader(const Bytes& file, std::string* error) : file_(file), error_(error) {}

  bool ReadStructure(ParsedDirectory* out) {
    if (!ReadHeader() || !ReadFat() || !ReadEntries()) return false;
    out->majorVersion = major_;
    out->entries = entries_;
    return true;
  }

  bool ReadTree(IStorage* root, int* majorVersion) {
    if (!ReadHeader() || !ReadFat() || !ReadEntries() || !ReadMiniStream()) return false;
    if (majorVersion) *majorVersion = major_;
    return WalkTree(root);
  }

 private:
  bool Fail(std::string message) {
    if (error_) *error_ = std::move(message);
    return false;
  }

  bool ReadHeader() {
    if (file_.size() < kHeaderSize)
      return Fail("the file holds " + Num(file_.size()) +
                  " bytes, too few for a compound-file header");
    const std::uint8_t* h = file_.data();
    if (std::memcmp(h, kSignature, sizeof kSignature) != 0)
      return Fail("not a compound file (bad signature)");
    if (Get16(h + kOffByteOrder) != kByteOrderMark) return Fail("bad byte-order mark in the header");
    major_ = Get16(h + kOffMajorVersion);
    const std::uint16_t shift = Get16(h + kOffSectorShift);
    if (major_ != 3 && major_ != 4) return Fail("unsupported major version " + Num(major_));
    if (shift != (major_ == 3 ? kSectorShiftV3 : kSectorShiftV4))
      return Fail("sector shift " + Num(shift) + " does not fit major version " + Num(major_));
    if (Get16(h + kOffMiniSectorShift) != kMiniSectorShift)
      return Fail("bad mini sector shift " + Num(Get16(h + kOffMiniSectorShift)));
    if (Get32(h + kOffMiniStreamCutoff) != kMiniStreamCutoff)
      return Fail("bad mini stream cutoff " + Num(Get32(h + kOffMiniStreamCutoff)));
    sectorSize_ = std::uint32_t{1} << shift;
    if (file_.size() < sectorSize_) return Fail("the file ends inside its header sector");
    // A last sector cut short still counts; reads check for the bytes they need.
    sectorCount_ = (file_.size() - sectorSize_ + sectorSize_ - 1) / sectorSize_;
    return true;
  }

  std::uint32_t EntriesPerSector() const { return sectorSize_ / 4; }

  // The `length` bytes at `offset` in sector `sector`, or null after Fail.
  const std::uint8_t* SectorBytes(std::uint32_t sector, std::uint32_t offset, std::uint32_t length,
                                  const char* what) {
    const std::uint64_t at = (static_cast<std::uint64_t>(sector) + 1) * sectorSize_ + offset;
    if (sector >= sectorCount_ || at + length > file_.size()) {
      Fail(std::string(what) + " needs sector " + Num(sector) + ", beyond the end of the file");
      return nullptr;
    }
    return file_.data() + at;
  }

  bool AppendTableSector(std::uint32_t sector, std::vector<std::uint32_t>* table, const char* what) {
    const std::uint8_t* p = SectorBytes(sector, 0, sectorSize_, what);
    if (!p) return false;
    for (std::uint32_t i = 0; i < EntriesPerSector(); ++i) table->push_back(Get32(p + 4 * i));
    return true;
  }

  bool ReadFat() {
    const std::uint8_t* h = file_.data();
    const std::uint32_t fatSectors = Get32(h + kOffFatSectors);
    if (fatSectors > sectorCount_)
      return Fail("the header claims " + Num(fatSectors) + " FAT sectors, the file holds " +
                  Num(sectorCount_) + " sectors");
    std::vector<std::uint32_t> locations;
    for (std::uint32_t i = 0; i < std::min<std::uint32_t>(fatSectors, kHeaderDifatEntries); ++i)
      locations.push_back(Get32(h + kOffHeaderDifat + 4 * i));
    std::uint32_t sector = Get32(h + kOffFirstDifatSector);
    std::vector<bool> seen(sectorCount_);
    while (locations.size() < fatSectors) {
      if (sector >= sectorCount_)
        return Fail("the DIFAT ends after " + Num(locations.size()) + " of " + Num(fatSectors) +
                    " FAT sectors");
      if (seen[sector]) return Fail("the DIFAT chain loops at sector " + Num(sector));
      seen[sector] = true;
      const std::uint8_t* p = SectorBytes(sector, 0, sectorSize_, "the DIFAT");
      if (!p) return false;
      const std::uint32_t perSector = EntriesPerSector() - 1;
      for (std::uint32_t i = 0; i < perSector && locations.size() < fatSectors; ++i)
        locations.push_back(Get32(p + 4 * i));
      sector = Get32(p + 4 * perSector);
    }
    fat_.reserve(static_cast<std::size_t>(fatSectors) * EntriesPerSector());
    for (std::uint32_t s : locations)
      if (!AppendTableSector(s, &fat_, "the FAT")) return false;
    return true;
  }

  // Follows a chain through `table` from `start`, collecting up to `wanted`
  // units (all of them up to the end of chain when unbounded). `space` is the
  // number of units that exist.
  bool FollowChain(std::uint32_t start, const std::vector<std::uint32_t>& table, std::uint64_t space,
                   std::uint64_t wanted, const std::string& what, std::vector<std::uint32_t>* out) {
    space = std::min<std::uint64_t>(space, table.size());
    out->clear();
    std::vector<bool> seen(space);
    std::uint32_t unit = start;
    while (wanted == kUnbounded || out->size() < wanted) {
      if (unit == kEndOfChain) {
        if (wanted == kUnbounded) break;
        return Fail("the chain of " + what + " ends after " + Num(out->size()) + " of " +
                    Num(wanted) + " sectors");
      }
      if (unit >= space)
        return Fail("the chain of " + what + " points at sector " + Num(unit) +
                    ", which does not exist");
      if (seen[unit]) return Fail("the chain of " + what + " loops at sector " + Num(unit));
      seen[unit] = true;
      out->push_back(unit);
      unit = table[unit];
    }
    return true;
  }

  bool ReadEntries() {
    std::vector<std::uint32_t> chain;
    if (!FollowChain(Get32(file_.data() + kOffFirstDirectorySector), fat_, sectorCount_, kUnbounded,
                     "the directory", &chain))
      return false;
    if (chain.empty()) return Fail("the directory is empty");
    const std::uint32_t perSector = sectorSize_ / kEntrySize;
    entries_.reserve(chain.size() * perSector);
    nameLengths_.reserve(chain.size() * perSector);
    for (std::uint32_t sector : chain) {
      const std::uint8_t* p = SectorBytes(sector, 0, sectorSize_, "the directory");
      if (!p) return false;
      for (std::uint32_t i = 0; i < perSector; ++i) DecodeEntry(p + i * kEntrySize);
    }
    if (entries_[0].type != EntryType::kRoot) return Fail("the first directory entry is no root");
    return true;
  }

  void DecodeEntry(const std::uint8_t* p) {
    DirectoryEntry e;
    const std::uint16_t length = Get16(p + kOffEntryNameLength);
    const std::size_t units = std::min<std::size_t>(length / 2, 32);
    for (std::size_t i = 0; i < units; ++i) e.name.push_back(static_cast<char16_t>(Get16(p + 2 * i)));
    if (!e.name.empty() && e.name.back() == 0) e.name.pop_back();
    e.type = static_cast<EntryType>(p[kOffEntryType]);
    e.color = static_cast<EntryColor>(p[kOffEntryColor]);
    e.left = Get32(p + kOffEntryLeft);
    e.right = Get32(p + kOffEntryRight);
    e.child = Get32(p + kOffEntryChild);
    e.start = Get32(p + kOffEntryStart);
    // Version 3 files may carry junk in the high half of the size.
    e.size = major_ == 3 ? Get32(p + kOffEntrySize) : Get64(p + kOffEntrySize);
    entries_.push_back(std::move(e));
    nameLengths_.push_back(length);
  }

  bool ReadMiniStream() {
    const DirectoryEntry& root = entries_[0];
    if (root.size > file_.size())
      return Fail("the mini stream claims " + Num(root.size) + " bytes, more than the whole file");
    if (!ReadRegular(root.start, root.size, "the mini stream", &miniStream_)) return false;
    std::vector<std::uint32_t> chain;
    if (!FollowChain(Get32(file_.data() + kOffFirstMiniFatSector), fat_, sectorCount_, kUnbounded,
                     "the mini FAT", &chain))
      return false;
    for (std::uint32_t s : chain)
      if (!AppendTableSector(s, &miniFat_, "the mini FAT")) return false;
    return true;
  }

  bool ReadRegular(std::uint32_t start, std::uint64_t size, const std::string& what, Bytes* out) {
    std::vector<std::uint32_t> chain;
    if (!FollowChain(start, fat_, sectorCount_, (size + sectorSize_ - 1) / sectorSize_, what, &chain))
      return false;
    out->resize(size);
    std::uint64_t done = 0;
    for (std::uint32_t sector : chain) {
      const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(sectorSize_, size - done));
      const std::uint8_t* p = SectorBytes(sector, 0, n, what.c_str());
      if (!p) return false;
      std::memcpy(out->data() + done, p, n);
      done += n;
    }
    return true;
  }

  bool ReadMini(std::uint32_t start, std::uint64_t size, const std::string& what, Bytes* out) {
    std::vector<std::uint32_t> chain;
    const std::uint64_t miniSectors = (miniStream_.size() + kMiniSectorSize - 1) / kMiniSectorSize;
    if (!FollowChain(start, miniFat_, miniSectors, (size + kMiniSectorSize - 1) / kMiniSectorSize,
                     what, &chain))
      return false;
    out->resize(size);
    std::uint64_t done = 0;
    for (std::uint32_t sector : chain) {
      const std::uint64_t n = std::min<std::uint64_t>(kMiniSectorSize, size - done);
      const std::uint64_t at = static_cast<std::uint64_t>(sector) * kMiniSectorSize;
      if (at + n > miniStream_.size())
        return Fail(what + " needs mini sector " + Num(sector) + ", beyond the end of the mini stream");
      std::memcpy(out->data() + done, miniStream_.data() + at, n);
      done += n;
    }
    return true;
  }

  bool CheckName(std::uint32_t id) {
    const std::uint16_t length = nameLengths_[id];
    const CString& name = entries_[id].name;
    if (length % 2 != 0 || length < 4 || length > 64 || name.size() != length / 2u - 1 ||
        name.find(u'\0') != CString::npos)
      return Fail("directory entry " + Num(id) + " has a name of bad length " + Num(length));
    return true;
  }

  struct Pending {
    std::uint32_t entry;
    ComPtr<IStorage> storage;
    int depth;
  };

  // The entries of the tree under `top`, each reached exactly once.
  bool CollectSiblings(std::uint32_t top, std::uint32_t owner, std::vector<std::uint32_t>* out) {
    std::vector<std::uint32_t> stack{top};
    while (!stack.empty()) {
      const std::uint32_t id = stack.back();
      stack.pop_back();
      if (id == kNoStream) continue;
      if (id >= entries_.size())
        return Fail("the directory under entry " + Num(owner) + " links to entry " + Num(id) +
                    ", past the last of " + Num(entries_.size()));
      if (reached_[id])
        return Fail("the directory under entry " + Num(owner) + " reaches entry " + Num(id) +
                    " twice (a cycle)");
      reached_[id] = true;
      out->push_back(id);
      stack.push_back(entries_[id].right);
      stack.push_back(entries_[id].left);
    }
    return true;
  }

  bool WalkTree(IStorage* root) {
    reached_.assign(entries_.size(), false);
    reached_[0] = true;
    std::deque<Pending> pending;
    pending.push_back({0, ComPtr<IStorage>(root), 0});
    while (!pending.empty()) {
      Pending p = std::move(pending.front());
      pending.pop_front();
      std::vector<std::uint32_t> children;
      if (!CollectSiblings(entries_[p.entry].child, p.entry, &children)) return false;
      std::set<CString> names;
      for (std::uint32_t id : children) {
        const DirectoryEntry& e = entries_[id];
        if (e.type != EntryType::kStream && e.type != EntryType::kStorage)
          return Fail("directory entry " + Num(id) + " has type " +
                      Num(static_cast<unsigned>(e.type)) + " where a stream or storage belongs");
        if (!CheckName(id)) return false;
        if (!names.insert(ToUpper(e.name)).second)
          return Fail("two entries are named " + Quote(e.name) + " in one storage");
        if (e.type == EntryType::kStream) {
          if (!ReadStreamInto(p.storage.Get(), e)) return false;
          continue;
        }
        if (p.depth + 1 > kMaxNesting)
          return Fail("storages are nested deeper than " + Num(kMaxNesting) + " levels");
        ComPtr<IStorage> child;
        if (Failed(p.storage->CreateStorage(e.name, kCreateMode, child.Put())))
          return Fail("cannot hold storage " + Quote(e.name));
        pending.push_back({id, std::move(child), p.depth + 1});
      }
    }
    return true;
  }

  bool ReadStreamInto(IStorage* storage, const DirectoryEntry& e) {
    const std::string what = "stream " + Quote(e.name);
    if (e.size > file_.size())
      return Fail(what + " claims " + Num(e.size) + " bytes, more than the whole file (" +
                  Num(file_.size()) + ")");
    Bytes data;
    const bool ok = e.size < kMiniStreamCutoff ? ReadMini(e.start, e.size, what, &data)
                                               : ReadRegular(e.start, e.size, what, &data);
    if (!ok) return false;
    ComPtr<IStream> stream;
    if (Failed(storage->CreateStream(e.name, kCreateMode, stream.Put())))
      return Fail("cannot hold " + what);
    constexpr std::size_t kChunk = std::size_t{1} << 30;
    for (std::size_t done = 0; done < data.size();) {
      const auto n = static_cast<std::uint32_t>(std::min(kChunk, data.size() - done));
      std::uint32_t written = 0;
      if (Failed(stream->Write(data.data() + done, n, &written)) || written != n)
        return Fail("cannot hold " + what);
      done += n;
    }
    return true;
  }

  const Bytes& file_;
  std::string* error_;
  int major_ = 3;
  std::uint32_t sectorSize_ = 512;
  std::uint64_t sectorCount_ = 0;
  std::vector<std::uint32_t> fat_;
  std::vector<std::uint32_t> miniFat_;
  Bytes miniStream_;
  std::vector<DirectoryEntry> entries_;
  std::vector<std::uint16_t> nameLengths_;
  std::vector<bool> reached_;
};

}  // namespace

bool ReadDirectory(const std::vector<std::uint8_t>& file, ParsedDirectory* out, std::string* error) {
  return Reader(file, error).ReadStructure(out);
}

bool ReadCompoundFile(const std::vector<std::uint8_t>& file, IStorage* root, int* majorVersion,
                      std::string* error) {
  return Reader(file, error).ReadTree(root, majorVersion);
}

}  // namespace nametree::cfb
