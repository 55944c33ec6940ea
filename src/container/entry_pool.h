// The entries of one chained table (or the units of a unit store): a
// growable array held as a pointer and 32-bit size and capacity, 16 bytes
// against a vector's 24. Most tables hold a few entries, so their headers
// weigh as much as their contents.
//
// Up to kPage entries they sit in one block. While it is small (below
// kSmallBytes) it grows to the end of the heap chunk that the entries it
// must hold take anyway (chunks of the common allocators come in 16-byte
// steps after a word of their own), so a block grown entry by entry weighs
// what one made at its final size does; larger blocks grow by a quarter,
// so that growth stays linear. Past kPage entries they sit in pages of
// kPage entries listed in a directory, and growth adds a page: entries
// never move again, and the allocator is never asked for an ever larger
// block (each of which it maps afresh from the system, so that every page
// of it faults again while the old one is copied).
//
// Invariant: [0, size_) are live objects, size_ <= capacity_, and
//  - capacity_ <= kPage: mem_ is a block of capacity_ entries, null exactly
//    when capacity_ is 0;
//  - capacity_ > kPage: capacity_ is a multiple of kPage and mem_ is a
//    directory of bit_ceil(capacity_ / kPage) slots listing that many pages.
// reserve and push_back either succeed or throw std::bad_alloc with nothing
// changed (entries move without throwing); capacities stay below 2^32.
// CheckPool verifies what it can see of it.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>
#include <utility>

#include "platform/prefetch.h"

namespace nametree {

template <class T>
class EntryPool {
  static_assert(std::is_nothrow_move_constructible_v<T>, "entries move without throwing");
  static_assert(alignof(T) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__, "the plain operator new aligns them");

  static constexpr std::size_t kPageBytes = 16384;

 public:
  static constexpr std::uint32_t kPage = static_cast<std::uint32_t>(std::bit_floor(kPageBytes / sizeof(T)));
  static constexpr int kShift = std::countr_zero(kPage);

  EntryPool() = default;
  EntryPool(const EntryPool&) = delete;
  EntryPool& operator=(const EntryPool&) = delete;
  ~EntryPool() { Free(); }

  std::size_t size() const { return size_; }
  std::size_t capacity() const { return capacity_; }
  T& operator[](std::size_t i) { return Paged() ? Pages()[i >> kShift][i & (kPage - 1)] : Block()[i]; }
  const T& operator[](std::size_t i) const { return Paged() ? Pages()[i >> kShift][i & (kPage - 1)] : Block()[i]; }

  // Room for n entries in all, exactly (to the page once paged).
  void reserve(std::size_t n) {
    if (n <= capacity_) return;
    if (n > 0xFFFFFFFFu - kPage) throw std::bad_alloc();
    if (n <= kPage) {
      Regrow(static_cast<std::uint32_t>(n));
    } else {
      AddPages(static_cast<std::uint32_t>(n));
    }
  }

  // Room for n entries in all: to the end of n's heap chunk while small,
  // by a quarter after, by pages once paged.
  void grow_to(std::size_t n) {
    if (n <= capacity_) return;
    if (n <= kPage) {
      const auto need = static_cast<std::uint32_t>(n);
      // mutate: entry-pool-small-grows-by-quarter
      Regrow(std::min<std::uint32_t>(kPage, need * sizeof(T) < kSmallBytes ? ChunkFill(need)
                                                                           : std::max(need, capacity_ + capacity_ / 4)));
    } else {
      reserve(n);
    }
  }

  void push_back(T&& value) {
    grow_to(std::size_t{size_} + 1);
    ::new (&(*this)[size_]) T(std::move(value));
    ++size_;
  }

  // n more entries, on one page and left as they were, for plain T.
  // REQUIRES: 0 < n, room for them, RunStart(size(), n) == size().
  T* extend(std::size_t n) {
    static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_default_constructible_v<T>);
    T* at = &(*this)[size_];
    size_ += static_cast<std::uint32_t>(n);
    return at;
  }

  // The k-th piece of live entries that lie together in memory: entries
  // [k * kPage, k * kPage + count), count 0 past the last.
  std::pair<const T*, std::size_t> Piece(std::size_t k) const {
    const std::size_t from = k * kPage;
    if (from >= size_) return {nullptr, 0};
    return {&(*this)[from], std::min<std::size_t>(kPage, size_ - from)};
  }

  // Asks the cache for what the next append reads and writes: a small
  // block whole, as growing it copies it; else the line of the last entry.
  // Changes nothing.
  void Prefetch() const {
    if (!mem_ || Paged()) return;
    const char* block = static_cast<const char*>(mem_);
    const std::size_t used = std::size_t{size_} * sizeof(T), end = std::size_t{capacity_} * sizeof(T);
    const std::size_t last = std::min(used, end - 1);
    for (std::size_t at = used > kSmallBytes ? used - sizeof(T) : 0; at < last; at += kCacheLine)
      PrefetchLine(block + at);
    PrefetchLine(block + last);
  }

  // Destroys the entries from n on; the capacity stays.
  void truncate(std::size_t n) {
    for (std::size_t i = n; i < size_; ++i) (*this)[i].~T();
    if (n < size_) size_ = static_cast<std::uint32_t>(n);
  }

  // Frees everything.
  void clear() { Free(); }

  void swap(EntryPool& other) noexcept {
    std::swap(mem_, other.mem_);
    std::swap(size_, other.size_);
    std::swap(capacity_, other.capacity_);
  }

  // Where a run of n entries appended after the first `at` may start
  // without crossing a page (n <= kPage), so that it can be read as one
  // span: at itself, or the next page's start.
  static std::size_t RunStart(std::size_t at, std::size_t n) {
    // mutate: unit-runs-cross-pages
    return n && (at >> kShift) != ((at + n - 1) >> kShift) ? (at | (kPage - 1)) + 1 : at;
  }

  // Whether the invariant above holds, as far as it can be seen.
  bool CheckPool() const {
    if (size_ > capacity_ || (mem_ == nullptr) != (capacity_ == 0)) return false;
    if (!Paged()) return true;
    if (capacity_ % kPage) return false;
    for (std::uint32_t p = 0; p < capacity_ / kPage; ++p)
      if (!Pages()[p]) return false;
    return true;
  }

 private:
  static constexpr std::size_t kSmallBytes = 256, kChunkStep = 16, kChunkHeader = 8;
  // The most entries that share n entries' heap chunk.
  static std::uint32_t ChunkFill(std::uint32_t n) {
    const std::size_t chunk = (n * sizeof(T) + kChunkHeader + kChunkStep - 1) / kChunkStep * kChunkStep;
    return static_cast<std::uint32_t>((chunk - kChunkHeader) / sizeof(T));
  }

  bool Paged() const { return capacity_ > kPage; }
  T* Block() const { return static_cast<T*>(mem_); }
  T** Pages() const { return static_cast<T**>(mem_); }

  static T* Allocate(std::uint32_t n) { return static_cast<T*>(::operator new(std::size_t{n} * sizeof(T))); }

  // REQUIRES: size_ <= n <= kPage and not paged.
  void Regrow(std::uint32_t n) {
    T* fresh = Allocate(n);
    // mutate: entry-pool-growth-drops-last
    for (std::uint32_t i = 0; i < size_; ++i) {
      ::new (fresh + i) T(std::move(Block()[i]));
      Block()[i].~T();
    }
    if (mem_) ::operator delete(mem_);
    mem_ = fresh;
    capacity_ = n;
  }

  // Pages until n fit; the block, grown to a whole page first, is the
  // first of them. REQUIRES: kPage < n.
  void AddPages(std::uint32_t n) {
    if (capacity_ < kPage) Regrow(kPage);  // a bigger block holding the same entries, should a later step throw
    const std::uint32_t had = capacity_ / kPage;
    const std::uint32_t want = (n + kPage - 1) / kPage;
    T** dir = Paged() ? Pages() : nullptr;
    if (!dir || want > std::bit_ceil(had)) {
      dir = static_cast<T**>(::operator new(std::bit_ceil(want) * sizeof(T*)));
      if (Paged()) {
        // mutate: pool-pages-lose-last-page
        std::copy(Pages(), Pages() + had, dir);
      } else {
        dir[0] = Block();
      }
    }
    std::uint32_t made = had;
    try {
      for (; made < want; ++made) dir[made] = Allocate(kPage);
    } catch (...) {
      for (std::uint32_t p = had; p < made; ++p) ::operator delete(dir[p]);
      if (dir != mem_) ::operator delete(dir);
      throw;
    }
    if (dir != mem_ && Paged()) ::operator delete(mem_);
    mem_ = dir;
    capacity_ = want * kPage;
  }

  void Free() {
    truncate(0);
    if (Paged()) {
      for (std::uint32_t p = 0; p < capacity_ / kPage; ++p) ::operator delete(Pages()[p]);
      ::operator delete(mem_);
    } else if (mem_) {
      ::operator delete(mem_);
    }
    mem_ = nullptr;
    capacity_ = 0;
  }

  void* mem_ = nullptr;  // the block, or the directory once paged
  std::uint32_t size_ = 0;
  std::uint32_t capacity_ = 0;
};

}  // namespace nametree
