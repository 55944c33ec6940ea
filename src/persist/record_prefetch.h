// Asks the cache for the next container's name entries and texts while the
// current container's record is written, a few lines per name written. A
// walk along the name chains jumps about its blocks, one dependent load
// after another; with the blocks already at hand it no longer waits on
// memory at every name.
//
// Invariant: it names only cache lines that hold part of a piece of the
// entries or of the units of the container it was last aimed at (each a
// span of memory, see EntryPool::Piece), each at most once, and, aimed over
// one step or more, has named all of them by the last (LinesLeft is then
// 0). It changes nothing; that container's tables must not change while it
// is aimed at them (a save only reads them).
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

#include "nametree/name_container.h"
#include "platform/prefetch.h"

namespace nametree {

class ContainerTables;

class RecordPrefetch {
 public:
  static constexpr std::size_t kLine = kCacheLine;

  // Aims at c's blocks, spread over `steps` calls of Step to come.
  void Aim(const CNameContainer& c, std::size_t steps);
  // The next few lines of the blocks aimed at.
  void Step() {
    for (std::size_t i = 0; i < perStep_ && part_ < kParts; ++i) {
      PrefetchLine(at_);
      at_ += kLine;
      if (at_ >= end_) NextPiece();
    }
  }
  // The lines still to be named, for checks.
  std::size_t LinesLeft() const;

 private:
  static constexpr int kParts = 2;  // the name entries, then the units

  std::pair<const void*, std::size_t> PieceOf(int part, std::size_t k) const;
  // Moves to the next non-empty piece, or past the last part.
  void NextPiece();
  static std::size_t LinesOf(const char* from, const char* end);

  const ContainerTables* tables_ = nullptr;
  int part_ = kParts;
  std::size_t piece_ = 0;
  const char* at_ = nullptr;  // the next line of the piece being named
  const char* end_ = nullptr;
  std::size_t perStep_ = 0;
};

}  // namespace nametree
