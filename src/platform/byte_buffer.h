// A growable run of bytes in one malloc'd block. The writer that gathers a
// stream's bytes and the in-memory stream that holds them share the type,
// so the finished bytes change hands instead of being copied.
//
// Invariants, checked by Check: the bytes are [data, data + size), size <=
// capacity, and data is null exactly when capacity is 0. Growing either
// succeeds or throws std::bad_alloc with nothing changed, and leaves the
// added bytes unset (the caller writes them at once), so a buffer of many
// megabytes is written once rather than cleared and then written.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <utility>

namespace nametree {

class ByteBuffer {
 public:
  ByteBuffer() = default;
  ByteBuffer(const ByteBuffer&) = delete;
  ByteBuffer& operator=(const ByteBuffer&) = delete;
  ByteBuffer(ByteBuffer&& other) noexcept { swap(other); }
  ByteBuffer& operator=(ByteBuffer&& other) noexcept {
    ByteBuffer gone(std::move(*this));
    swap(other);
    return *this;
  }
  ~ByteBuffer() { std::free(data_); }

  std::uint8_t* data() { return data_; }
  const std::uint8_t* data() const { return data_; }
  std::size_t size() const { return size_; }
  std::size_t capacity() const { return capacity_; }

  // Room for `capacity` bytes in all, exactly.
  void Reserve(std::size_t capacity) {
    if (capacity <= capacity_) return;
    void* grown = std::realloc(data_, capacity);
    if (!grown) throw std::bad_alloc();
    data_ = static_cast<std::uint8_t*>(grown);
    capacity_ = capacity;
  }
  // Sets the size; room grows at least twofold, so a run of small writes
  // costs linear time.
  void Resize(std::size_t size) {
    if (size > capacity_) Reserve(Grown(size, 0));
    size_ = size;
  }
  // Claim, growing as Resize does first (to at least `least` bytes) when
  // the room is short.
  std::uint8_t* Extend(std::size_t more, std::size_t least = 0) {
    if (more > capacity_ - size_) Reserve(Grown(size_ + more, least));
    return Claim(more);
  }
  // Makes `more` bytes past the end part of the run, where the caller
  // writes them, without growing. REQUIRES: more <= capacity() - size().
  std::uint8_t* Claim(std::size_t more) {
    std::uint8_t* p = data_ + size_;
    size_ += more;
    return p;
  }

  // Gives back the room past the bytes, where the allocator can; kept
  // otherwise. A shrinking realloc moves nothing, so this costs no copy.
  void ShrinkToFit() noexcept {
    if (size_ == capacity_) return;
    if (size_ == 0) {
      std::free(data_);
      data_ = nullptr;
      capacity_ = 0;
      return;
    }
    if (void* fitted = std::realloc(data_, size_)) {
      data_ = static_cast<std::uint8_t*>(fitted);
      capacity_ = size_;
    }
  }

  void swap(ByteBuffer& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    std::swap(capacity_, other.capacity_);
  }

  bool Check() const { return size_ <= capacity_ && (data_ == nullptr) == (capacity_ == 0); }

 private:
  std::size_t Grown(std::size_t need, std::size_t least) const {
    const std::size_t twice = 2 * capacity_;
    return std::max(need, std::max(twice, least));
  }

  std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace nametree
