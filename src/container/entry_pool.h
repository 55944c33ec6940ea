// The entries of one chained table: a growable array held as a pointer and
// 32-bit size and capacity, 16 bytes against a vector's 24. Most tables
// hold a few entries, so their headers weigh as much as their contents.
// It offers the few vector calls the table uses.
//
// Invariant: [data_, data_ + size_) are live objects, size_ <= capacity_,
// and data_ is null exactly when capacity_ is 0. reserve and push_back
// either succeed or throw std::bad_alloc with nothing changed (entries move
// without throwing); capacities stay below 2^32. CheckPool verifies it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>
#include <utility>

namespace nametree {

template <class T>
class EntryPool {
  static_assert(std::is_nothrow_move_constructible_v<T>, "entries move without throwing");
  static_assert(alignof(T) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__, "the plain operator new aligns them");

 public:
  EntryPool() = default;
  EntryPool(const EntryPool&) = delete;
  EntryPool& operator=(const EntryPool&) = delete;
  ~EntryPool() { Free(); }

  std::size_t size() const { return size_; }
  std::size_t capacity() const { return capacity_; }
  T& operator[](std::size_t i) { return data_[i]; }
  const T& operator[](std::size_t i) const { return data_[i]; }

  void reserve(std::size_t n) {
    if (n <= capacity_) return;
    if (n > 0xFFFFFFFFu) throw std::bad_alloc();
    T* fresh = static_cast<T*>(::operator new(n * sizeof(T)));
    for (std::uint32_t i = 0; i < size_; ++i) {
      ::new (fresh + i) T(std::move(data_[i]));
      data_[i].~T();
    }
    Deallocate();
    data_ = fresh;
    capacity_ = static_cast<std::uint32_t>(n);
  }

  // Grows by one entry when full; the table reserves its own growth.
  void push_back(T&& value) {
    if (size_ == capacity_) reserve(std::size_t{capacity_} + 1);
    ::new (data_ + size_) T(std::move(value));
    ++size_;
  }

  void swap(EntryPool& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    std::swap(capacity_, other.capacity_);
  }

  // Whether the invariant above holds, as far as it can be seen.
  bool CheckPool() const { return size_ <= capacity_ && (data_ == nullptr) == (capacity_ == 0); }

 private:
  void Free() {
    for (std::uint32_t i = 0; i < size_; ++i) data_[i].~T();
    Deallocate();
    size_ = 0;
  }
  void Deallocate() {
    if (data_) ::operator delete(data_);
    data_ = nullptr;
    capacity_ = 0;
  }

  T* data_ = nullptr;
  std::uint32_t size_ = 0;
  std::uint32_t capacity_ = 0;
};

}  // namespace nametree
