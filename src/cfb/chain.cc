#include "cfb/chain.h"

#include <algorithm>
#include <cstring>


namespace nametree::cfb {
namespace {

class BytesSource final : public ByteSource {
 public:
  explicit BytesSource(Bytes bytes) : bytes_(std::move(bytes)) {}
  std::uint64_t Size() const override { return bytes_.size(); }
  Status ReadAt(std::uint64_t offset, std::uint8_t* data, std::size_t size) override {
    if (offset > bytes_.size() || size > bytes_.size() - offset)
      return Status::Unreadable("a read reaches past the end of the file");
    if (size) std::memcpy(data, bytes_.data() + offset, size);
    return Status();
  }

 private:
  Bytes bytes_;
};

Status Broken() { return Status::Unreadable("a stream's chain no longer fits the file"); }

std::string Num(std::uint64_t v) { return std::to_string(v); }

}  // namespace

std::shared_ptr<ByteSource> MemorySource(Bytes bytes) {
  return std::make_shared<BytesSource>(std::move(bytes));
}

Status FileLayout::Next(std::uint32_t sector, std::uint32_t* next) const {
  const std::uint32_t perSector = sectorSize / 4;
  const std::size_t page = sector / perSector;
  if (page >= fatSectors.size()) return Status::Unreadable("sector " + Num(sector) + " lies beyond the FAT");
  if (page != lastPage_) {
    if (!fatPages_.count(static_cast<std::uint32_t>(page)))
      if (Status s = LoadFatPages(page); !s.ok()) return s;
    lastPage_ = static_cast<std::uint32_t>(page);
    lastEntries_ = fatPages_[lastPage_].get();
  }
  *next = lastEntries_[sector % perSector];
  return Status();
}

// A chain walked to its end needs every FAT sector after this one; those
// lying side by side are read in one go.
Status FileLayout::LoadFatPages(std::size_t page) const {
  const std::uint32_t perSector = sectorSize / 4;
  std::size_t count = 1;
  while (count < 64 && page + count < fatSectors.size() &&
         fatSectors[page + count] == fatSectors[page] + count &&
         !fatPages_.count(static_cast<std::uint32_t>(page + count)))
    ++count;
  const std::uint32_t at = fatSectors[page];
  if (at >= sectorCount || at + count > sectorCount) count = 1;
  std::vector<std::uint8_t> bytes(count * sectorSize);
  if (at >= sectorCount)
    return Status::Unreadable("cannot read FAT sector " + Num(at) + ", beyond the end of the file");
  if (Status s = source->ReadAt((std::uint64_t{at} + 1) * sectorSize, bytes.data(), bytes.size()); !s.ok())
    return s.Prefixed("cannot read FAT sector " + Num(at) + ": ");
  for (std::size_t k = 0; k < count; ++k) {
    auto entries = std::make_unique<std::uint32_t[]>(perSector);
    for (std::uint32_t i = 0; i < perSector; ++i) entries[i] = Get32(bytes.data() + k * sectorSize + 4 * i);
    fatPages_[static_cast<std::uint32_t>(page + k)] = std::move(entries);
  }
  return Status();
}

Status CheckChain(const FileLayout& layout, const ChainPlace& place, const std::string& what,
                  std::uint64_t* held) {
  const bool mini = place.mini;
  const std::uint64_t unit = mini ? kMiniSectorSize : layout.sectorSize;
  const std::uint64_t wanted = (place.size + unit - 1) / unit;
  SectorSet& owned = mini ? layout.miniOwned : layout.owned;
  const std::uint64_t space =
      std::min<std::uint64_t>(owned.size(), mini ? layout.miniFat.size() : layout.FatEntries());
  auto next = [&](std::uint32_t u, std::uint32_t* n) {
    if (!mini) return layout.Next(u, n);
    *n = layout.miniFat[u];
    return Status();
  };
  std::uint32_t u = place.start;
  for (std::uint64_t count = 0; count < wanted; ++count) {
    if (u == kEndOfChain) {
      *held = count * unit;
      // mutate: short-chain-told-corrupt
      return Status::ShortChain("the chain of " + what + " ends after " + Num(count) + " of " + Num(wanted) +
                                " sectors");
    }
    if (u >= space)
      return Status::Unreadable("the chain of " + what + " points at sector " + Num(u) + ", which does not exist");
    if (owned[u]) {
      // Its own earlier sector, or another chain's.
      bool loops = false;
      std::uint32_t v = place.start;
      for (std::uint64_t i = 0; i < count && !loops; ++i) {
        loops = v == u;
        if (!next(v, &v).ok()) break;
      }
      return Status::Corrupt(loops ? "the chain of " + what + " loops at sector " + Num(u)
                                   : "the chain of " + what + " reaches sector " + Num(u) +
                                         ", which another entry also uses (a shared chain)");
    }
    owned.Set(u);
    if (count + 1 < wanted)
      if (Status s = next(u, &u); !s.ok()) return Status::Unreadable(s.message());
  }
  return Status();
}

ChainReader::ChainReader(std::shared_ptr<const FileLayout> layout, ChainPlace place)
    : layout_(std::move(layout)),
      mini_(place.mini),
      unitSize_(mini_ ? kMiniSectorSize : layout_->sectorSize),
      remaining_(place.size),
      unit_(place.start) {}

std::uint64_t ChainReader::UnitOffset(std::uint32_t unit) const {
  if (!mini_) return (std::uint64_t{unit} + 1) * layout_->sectorSize;
  const std::uint64_t at = std::uint64_t{unit} * kMiniSectorSize;
  const std::uint64_t sector = at / layout_->sectorSize;
  if (sector >= layout_->miniChain.size()) return ~std::uint64_t{0};
  return (std::uint64_t{layout_->miniChain[sector]} + 1) * layout_->sectorSize + at % layout_->sectorSize;
}

Status ChainReader::NextRun(std::uint64_t limit, std::uint64_t* offset, std::uint64_t* length) {
  *length = 0;
  limit = std::min(limit, remaining_);
  while (*length < limit) {
    const std::uint64_t at = UnitOffset(unit_);
    if (at == ~std::uint64_t{0}) return Broken();
    if (*length == 0)
      *offset = at + intoUnit_;
    else if (at != *offset + *length)
      break;
    const std::uint64_t take = std::min<std::uint64_t>(unitSize_ - intoUnit_, limit - *length);
    *length += take;
    intoUnit_ += static_cast<std::uint32_t>(take);
    if (intoUnit_ == unitSize_) {
      intoUnit_ = 0;
      if (remaining_ > *length) {
        if (!mini_) {
          if (Status s = layout_->Next(unit_, &unit_); !s.ok()) return s;
        } else if (unit_ < layout_->miniFat.size()) {
          unit_ = layout_->miniFat[unit_];
        } else {
          return Broken();
        }
      }
    }
  }
  remaining_ -= *length;
  return Status();
}

Status ChainReader::Read(std::uint8_t* data, std::size_t size) {
  if (size > remaining_) return Broken();
  while (size > 0) {
    std::uint64_t offset = 0, length = 0;
    if (Status s = NextRun(size, &offset, &length); !s.ok()) return s;
    if (length == 0) return Broken();
    if (Status s = layout_->source->ReadAt(offset, data, static_cast<std::size_t>(length)); !s.ok()) return s;
    data += length;
    size -= static_cast<std::size_t>(length);
  }
  return Status();
}

}  // namespace nametree::cfb
