#include "persist/record_prefetch.h"

#include "container/container_tables.h"

namespace nametree {
namespace {
const char* LineOf(const char* p) {
  return reinterpret_cast<const char*>(reinterpret_cast<std::uintptr_t>(p) & ~std::uintptr_t{RecordPrefetch::kLine - 1});
}
}  // namespace

void RecordPrefetch::Aim(const CNameContainer& c, std::size_t steps) {
  const ContainerTables& t = TablesOf(c);
  const NameUnitStore& units = t.Units();
  const char* entries = static_cast<const char*>(t.Names().EntryBlock());
  // A zero-length slot views the array's first unit.
  const char* firstUnit = reinterpret_cast<const char*>(units.ViewOf(NameUnitStore::Slot{0, 0}).data());
  begin_[0] = LineOf(entries);
  end_[0] = entries ? entries + t.Names().EntryBytes() : nullptr;
  begin_[1] = LineOf(firstUnit);
  end_[1] = firstUnit ? firstUnit + units.UnitCount() * sizeof(char16_t) : nullptr;
  part_ = 0;
  while (part_ < 2 && begin_[part_] == end_[part_]) ++part_;
  at_ = part_ < 2 ? begin_[part_] : nullptr;
  const std::size_t lines = LinesLeft();
  perStep_ = steps ? (lines + steps - 1) / steps : 0;
}

std::size_t RecordPrefetch::LinesLeft() const {
  std::size_t lines = 0;
  for (int p = part_; p < 2; ++p) {
    const char* from = p == part_ ? at_ : begin_[p];
    lines += (static_cast<std::size_t>(end_[p] - from) + kLine - 1) / kLine;
  }
  return lines;
}

}  // namespace nametree
