// Line numbers of offsets into a project's text, asked after the parse has
// written into that text (it ends names where a line feed may have stood).
//
// Invariant: bit k of masks_[b] is set exactly when byte 64 * b + k of the
// text, as it was before the parse, is a line feed; feeds_ counts the line
// feeds of the blocks before block_. The masks are built in one pass with
// no branch per line, and a query moves the cursor by whole blocks, so that
// the names of a file, met in document order, cost one pass over the masks
// between them however many lines or names the file has.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace nametree::plcopen {

class LineIndex {
 public:
  explicit LineIndex(std::string_view text);

  // The 1-based line that holds the byte at `offset` (at most the size).
  std::size_t LineAt(std::size_t offset);
  // Where the line that holds `offset` begins; it looks back from `offset`
  // only as far as that line's start.
  std::size_t LineStart(std::size_t offset) const;

 private:
  std::vector<std::uint64_t> masks_;  // one more than whole blocks, so the end has one
  std::size_t size_ = 0;
  std::size_t block_ = 0;
  std::size_t feeds_ = 0;
};

}  // namespace nametree::plcopen
