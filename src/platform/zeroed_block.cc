#include "platform/zeroed_block.h"

#include <atomic>
#include <cstring>
#include <new>
#include <utility>

#include "platform/huge_pages.h"

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#define NAMETREE_MAPPED_BLOCKS 1
#endif

namespace nametree {

namespace {

std::atomic<std::size_t> g_mappedBytes{0};

#if NAMETREE_MAPPED_BLOCKS
std::size_t PageSize() {
  static const long page = sysconf(_SC_PAGESIZE);
  return page > 0 ? static_cast<std::size_t>(page) : 4096;
}
std::size_t WholePages(std::size_t bytes) {
  const std::size_t page = PageSize();
  return (bytes + page - 1) / page * page;
}
#endif

}  // namespace

ZeroedBlock::ZeroedBlock(std::size_t bytes) {
  if (bytes == 0) return;
#if NAMETREE_MAPPED_BLOCKS
  if (bytes >= kMappedFrom) {
    const std::size_t whole = WholePages(bytes);
    void* p = mmap(nullptr, whole, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    AdviseHugePages(p, whole);
    mem_ = p;
    bytes_ = whole;
    mapped_ = true;
    g_mappedBytes += whole;
    return;
  }
#endif
  mem_ = ::operator new(bytes);
  std::memset(mem_, 0, bytes);
  bytes_ = bytes;
}

ZeroedBlock::ZeroedBlock(ZeroedBlock&& other) noexcept
    : mem_(std::exchange(other.mem_, nullptr)),
      bytes_(std::exchange(other.bytes_, 0)),
      mapped_(std::exchange(other.mapped_, false)) {}

ZeroedBlock& ZeroedBlock::operator=(ZeroedBlock&& other) noexcept {
  if (this != &other) {
    Release();
    mem_ = std::exchange(other.mem_, nullptr);
    bytes_ = std::exchange(other.bytes_, 0);
    mapped_ = std::exchange(other.mapped_, false);
  }
  return *this;
}

bool ZeroedBlock::GrowInPlace(std::size_t bytes) {
#if NAMETREE_MAPPED_BLOCKS
  if (!mapped_) return false;
  if (bytes <= bytes_) return true;
  const std::size_t whole = WholePages(bytes);
  void* p = mremap(mem_, bytes_, whole, MREMAP_MAYMOVE);
  if (p == MAP_FAILED) return false;
  AdviseHugePages(p, whole);
  // mutate: zeroed-block-growth-uncounted
  g_mappedBytes += whole - bytes_;
  mem_ = p;
  bytes_ = whole;
  return true;
#else
  (void)bytes;
  return false;
#endif
}

void ZeroedBlock::Release() noexcept {
  if (!mem_) return;
#if NAMETREE_MAPPED_BLOCKS
  if (mapped_) {
    munmap(mem_, bytes_);
    g_mappedBytes -= bytes_;
  } else {
    ::operator delete(mem_);
  }
#else
  ::operator delete(mem_);
#endif
  mem_ = nullptr;
  bytes_ = 0;
  mapped_ = false;
}

bool ZeroedBlock::Valid() const {
  if (!mem_) return bytes_ == 0 && !mapped_;
  if (!mapped_) return bytes_ > 0 && bytes_ < kMappedFrom;
#if NAMETREE_MAPPED_BLOCKS
  return bytes_ >= kMappedFrom && bytes_ % PageSize() == 0;
#else
  return false;
#endif
}

std::size_t ZeroedBlock::MappedBytes() { return g_mappedBytes.load(); }

}  // namespace nametree
