#include "persist/record_prefetch.h"

#include "container/container_tables.h"

namespace nametree {
namespace {
const char* LineOf(const char* p) {
  return reinterpret_cast<const char*>(reinterpret_cast<std::uintptr_t>(p) & ~std::uintptr_t{RecordPrefetch::kLine - 1});
}
}  // namespace

std::pair<const void*, std::size_t> RecordPrefetch::PieceOf(int part, std::size_t k) const {
  return part == 0 ? tables_->Names().EntryPiece(k) : tables_->Units().UnitPiece(k);
}

void RecordPrefetch::NextPiece() {
  // mutate: prefetch-stays-on-first-piece
  ++piece_;
  for (; part_ < kParts; ++part_, piece_ = 0) {
    const auto [first, bytes] = PieceOf(part_, piece_);
    if (bytes) {
      at_ = LineOf(static_cast<const char*>(first));
      end_ = static_cast<const char*>(first) + bytes;
      return;
    }
  }
  at_ = end_ = nullptr;
}

void RecordPrefetch::Aim(const CNameContainer& c, std::size_t steps) {
  tables_ = &TablesOf(c);
  part_ = 0;
  piece_ = static_cast<std::size_t>(-1);  // NextPiece starts at piece 0
  NextPiece();
  const std::size_t lines = LinesLeft();
  // mutate: prefetch-spread-rounded-down
  perStep_ = steps ? (lines + steps - 1) / steps : 0;
}

std::size_t RecordPrefetch::LinesOf(const char* from, const char* end) {
  return from < end ? (static_cast<std::size_t>(end - from) + kLine - 1) / kLine : 0;
}

std::size_t RecordPrefetch::LinesLeft() const {
  if (part_ >= kParts) return 0;
  std::size_t lines = LinesOf(at_, end_);
  for (int part = part_; part < kParts; ++part) {
    for (std::size_t k = part == part_ ? piece_ + 1 : 0;; ++k) {
      const auto [first, bytes] = PieceOf(part, k);
      if (!bytes) break;
      const char* begin = static_cast<const char*>(first);
      lines += LinesOf(LineOf(begin), begin + bytes);
    }
  }
  return lines;
}

}  // namespace nametree
