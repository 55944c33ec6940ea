// Asks the cache for the next container's name entries and texts while the
// current container's record is written, a few lines per name written. A
// walk along the name chains jumps about its blocks, one dependent load
// after another; with the blocks already at hand it no longer waits on
// memory at every name.
//
// Invariant: it names only cache lines that hold part of the entry block or
// the unit array of the container it was last aimed at, each at most once,
// and, aimed over one step or more, has named all of them by the last
// (LinesLeft is then 0). It changes nothing; that container's tables must
// not change while it is aimed at them (a save only reads them).
#pragma once

#include <cstddef>
#include <cstdint>

#include "nametree/name_container.h"

namespace nametree {

class RecordPrefetch {
 public:
  static constexpr std::size_t kLine = 64;

  // Aims at c's blocks, spread over `steps` calls of Step to come.
  void Aim(const CNameContainer& c, std::size_t steps);
  // The next few lines of the blocks aimed at.
  void Step() {
    for (std::size_t i = 0; i < perStep_ && part_ < 2; ++i) {
      __builtin_prefetch(at_);
      at_ += kLine;
      if (at_ >= end_[part_] && ++part_ < 2) at_ = begin_[part_];
    }
  }
  // The lines still to be named, for checks.
  std::size_t LinesLeft() const;

 private:
  const char* begin_[2] = {};
  const char* end_[2] = {};
  const char* at_ = nullptr;
  int part_ = 2;  // the block being named; 2 when done
  std::size_t perStep_ = 0;
};

}  // namespace nametree
