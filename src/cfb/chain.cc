#include "cfb/chain.h"

#include <algorithm>
#include <cstring>

#include "cfb/status.h"

namespace nametree::cfb {
namespace {

class BytesSource final : public ByteSource {
 public:
  explicit BytesSource(Bytes bytes) : bytes_(std::move(bytes)) {}
  std::uint64_t Size() const override { return bytes_.size(); }
  bool ReadAt(std::uint64_t offset, std::uint8_t* data, std::size_t size, std::string* error) override {
    if (offset > bytes_.size() || size > bytes_.size() - offset)
      return Fail(error, "a read reaches past the end of the file");
    if (size) std::memcpy(data, bytes_.data() + offset, size);
    return true;
  }

 private:
  Bytes bytes_;
};

bool Broken(std::string* error) { return Fail(error, "a stream's chain no longer fits the file"); }

std::string Num(std::uint64_t v) { return std::to_string(v); }

}  // namespace

std::shared_ptr<ByteSource> MemorySource(Bytes bytes) {
  return std::make_shared<BytesSource>(std::move(bytes));
}

bool FileLayout::Next(std::uint32_t sector, std::uint32_t* next, std::string* error) const {
  const std::uint32_t perSector = sectorSize / 4;
  const std::size_t page = sector / perSector;
  if (page >= fatSectors.size()) return Fail(error, "sector " + Num(sector) + " lies beyond the FAT");
  if (page != lastPage_) {
    if (!fatPages_.count(static_cast<std::uint32_t>(page)) && !LoadFatPages(page, error)) return false;
    lastPage_ = static_cast<std::uint32_t>(page);
    lastEntries_ = fatPages_[lastPage_].get();
  }
  *next = lastEntries_[sector % perSector];
  return true;
}

// A chain walked to its end needs every FAT sector after this one; those
// lying side by side are read in one go.
bool FileLayout::LoadFatPages(std::size_t page, std::string* error) const {
  const std::uint32_t perSector = sectorSize / 4;
  std::size_t count = 1;
  while (count < 64 && page + count < fatSectors.size() &&
         fatSectors[page + count] == fatSectors[page] + count &&
         !fatPages_.count(static_cast<std::uint32_t>(page + count)))
    ++count;
  const std::uint32_t at = fatSectors[page];
  std::string why;
  if (at >= sectorCount || at + count > sectorCount) count = 1;
  std::vector<std::uint8_t> bytes(count * sectorSize);
  if (at >= sectorCount ||
      !source->ReadAt((std::uint64_t{at} + 1) * sectorSize, bytes.data(), bytes.size(), &why))
    return Fail(error,
                "cannot read FAT sector " + Num(at) + (why.empty() ? ", beyond the end of the file" : ": " + why));
  for (std::size_t k = 0; k < count; ++k) {
    auto entries = std::make_unique<std::uint32_t[]>(perSector);
    for (std::uint32_t i = 0; i < perSector; ++i) entries[i] = Get32(bytes.data() + k * sectorSize + 4 * i);
    fatPages_[static_cast<std::uint32_t>(page + k)] = std::move(entries);
  }
  return true;
}

ChainCheck CheckChain(const FileLayout& layout, const ChainPlace& place, const std::string& what,
                      std::uint64_t* held, std::string* why) {
  const bool mini = place.mini;
  const std::uint64_t unit = mini ? kMiniSectorSize : layout.sectorSize;
  const std::uint64_t wanted = (place.size + unit - 1) / unit;
  SectorSet& owned = mini ? layout.miniOwned : layout.owned;
  const std::uint64_t space =
      std::min<std::uint64_t>(owned.size(), mini ? layout.miniFat.size() : layout.FatEntries());
  auto next = [&](std::uint32_t u, std::uint32_t* n) {
    if (mini) {
      *n = layout.miniFat[u];
      return true;
    }
    return layout.Next(u, n, why);
  };
  std::uint32_t u = place.start;
  for (std::uint64_t count = 0; count < wanted; ++count) {
    if (u == kEndOfChain) {
      *why = "the chain of " + what + " ends after " + Num(count) + " of " + Num(wanted) + " sectors";
      *held = count * unit;
      return ChainCheck::kShort;
    }
    if (u >= space) {
      *why = "the chain of " + what + " points at sector " + Num(u) + ", which does not exist";
      return ChainCheck::kUnreadable;
    }
    if (owned[u]) {
      // Its own earlier sector, or another chain's.
      bool loops = false;
      std::uint32_t v = place.start;
      for (std::uint64_t i = 0; i < count && !loops; ++i) {
        loops = v == u;
        if (!next(v, &v)) break;
      }
      *why = loops ? "the chain of " + what + " loops at sector " + Num(u)
                   : "the chain of " + what + " reaches sector " + Num(u) +
                         ", which another entry also uses (a shared chain)";
      return ChainCheck::kCorrupt;
    }
    owned.Set(u);
    if (count + 1 < wanted && !next(u, &u)) return ChainCheck::kUnreadable;
  }
  return ChainCheck::kGood;
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

bool ChainReader::NextRun(std::uint64_t limit, std::uint64_t* offset, std::uint64_t* length,
                          std::string* error) {
  *length = 0;
  limit = std::min(limit, remaining_);
  while (*length < limit) {
    const std::uint64_t at = UnitOffset(unit_);
    if (at == ~std::uint64_t{0}) return Broken(error);
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
          if (!layout_->Next(unit_, &unit_, error)) return false;
        } else if (unit_ < layout_->miniFat.size()) {
          unit_ = layout_->miniFat[unit_];
        } else {
          return Broken(error);
        }
      }
    }
  }
  remaining_ -= *length;
  return true;
}

bool ChainReader::Read(std::uint8_t* data, std::size_t size, std::string* error) {
  if (size > remaining_) return Broken(error);
  while (size > 0) {
    std::uint64_t offset = 0, length = 0;
    if (!NextRun(size, &offset, &length, error)) return false;
    if (length == 0) return Broken(error);
    if (!layout_->source->ReadAt(offset, data, static_cast<std::size_t>(length), error)) return false;
    data += length;
    size -= static_cast<std::size_t>(length);
  }
  return true;
}

bool LoadChain(const std::shared_ptr<const FileLayout>& layout, const ChainPlace& place, Bytes* out,
               std::string* error) {
  out->resize(place.size);
  if (place.size == 0) return true;
  return ChainReader(layout, place).Read(out->data(), out->size(), error);
}

}  // namespace nametree::cfb
