// Counted-reference interfaces in the structured-storage style, and the
// smart pointer that holds them.
#pragma once

#include <cstdint>
#include <utility>

#include "nametree/export.h"
#include "nametree/types.h"

namespace nametree {

struct NAMETREE_API IID {
  std::uint32_t data1;
  std::uint16_t data2;
  std::uint16_t data3;
  std::uint8_t data4[8];

  friend bool operator==(const IID&, const IID&) = default;
};

extern NAMETREE_API const IID IID_IUnknown;
extern NAMETREE_API const IID IID_IStream;
extern NAMETREE_API const IID IID_IStorage;
extern NAMETREE_API const IID IID_IZebStorage;

// Every handle is a counted reference: whoever obtains one releases it once.
class NAMETREE_API IUnknown {
 public:
  virtual HRESULT QueryInterface(const IID& iid, void** ppv) = 0;
  virtual std::uint32_t AddRef() = 0;
  virtual std::uint32_t Release() = 0;

 protected:
  ~IUnknown() = default;
};

// Owns one reference. Attach() adopts a reference that a call handed out;
// the constructor from a raw pointer takes a new one.
template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  explicit ComPtr(T* p) : p_(p) {
    if (p_) p_->AddRef();
  }
  ComPtr(const ComPtr& o) : ComPtr(o.p_) {}
  ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  ComPtr& operator=(ComPtr o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }
  ~ComPtr() { Reset(); }

  static ComPtr Attach(T* p) {
    ComPtr c;
    c.p_ = p;
    return c;
  }
  T* Detach() { return std::exchange(p_, nullptr); }
  void Reset() {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }
  // For out-parameters: releases what is held and hands out the slot.
  T** Put() {
    Reset();
    return &p_;
  }

  T* Get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  T* p_ = nullptr;
};

}  // namespace nametree
