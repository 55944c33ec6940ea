#include "line_index.h"

#include <algorithm>
#include <bit>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace nametree::plcopen {

namespace {

#if defined(__SSE2__)
// The line feeds among the sixteen bytes at `at`, as the low bits of a mask.
std::uint64_t FeedsOf16(const char* at) {
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
  return static_cast<std::uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\n'))));
}
#endif

// The line feeds among 64 bytes, as the bits of a mask.
std::uint64_t FeedsOf(const char* block) {
#if defined(__SSE2__)
  // mutate: plcopen-line-mask-shifted
  return FeedsOf16(block) | FeedsOf16(block + 16) << 16 | FeedsOf16(block + 32) << 32 | FeedsOf16(block + 48) << 48;
#else
  std::uint64_t mask = 0;
  for (int k = 0; k < 64; ++k) mask |= static_cast<std::uint64_t>(block[k] == '\n') << k;
  return mask;
#endif
}

// Set bits, counted without a call: the build's baseline processor may
// have no instruction for it, and the library routine costs a call a block.
std::size_t Ones(std::uint64_t m) {
  m -= (m >> 1) & 0x5555555555555555u;
  m = (m & 0x3333333333333333u) + ((m >> 2) & 0x3333333333333333u);
  m = (m + (m >> 4)) & 0x0F0F0F0F0F0F0F0Fu;
  return static_cast<std::size_t>((m * 0x0101010101010101u) >> 56);
}

// The bits of the offsets up to `offset` in its block, itself included.
std::uint64_t UpTo(std::size_t offset) { return (std::uint64_t{2} << (offset % 64)) - 1; }

}  // namespace

LineIndex::LineIndex(std::string_view text) : size_(text.size()) {
  const std::size_t whole = text.size() / 64;
  masks_.reserve(whole + 1);
  for (std::size_t b = 0; b < whole; ++b) masks_.push_back(FeedsOf(text.data() + 64 * b));
  std::uint64_t tail = 0;
  for (std::size_t at = 64 * whole; at < text.size(); ++at)
    tail |= static_cast<std::uint64_t>(text[at] == '\n') << (at % 64);
  masks_.push_back(tail);
}

std::size_t LineIndex::LineAt(std::size_t offset) {
  offset = std::min(offset, size_);
  const std::size_t block = offset / 64;
  // mutate: plcopen-line-cursor-forgets
  for (; block_ < block; ++block_) feeds_ += Ones(masks_[block_]);
  for (; block_ > block; --block_) feeds_ -= Ones(masks_[block_ - 1]);
  // mutate: plcopen-line-from-zero
  return feeds_ + Ones(masks_[block] & UpTo(offset)) + 1;
}

std::size_t LineIndex::LineStart(std::size_t offset) const {
  offset = std::min(offset, size_);
  std::size_t block = offset / 64;
  std::uint64_t feeds = masks_[block] & UpTo(offset);
  while (!feeds && block > 0) feeds = masks_[--block];
  return feeds ? 64 * block + 64 - static_cast<std::size_t>(std::countl_zero(feeds)) : 0;
}

}  // namespace nametree::plcopen
