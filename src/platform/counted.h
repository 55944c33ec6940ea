// Reference counting for the platform objects of this library. Each object
// reports its birth and death to an optional ledger, so that tests can see
// whether every handle handed out was released.
#pragma once

#include <cstdint>
#include <memory>

#include "nametree/memory_storage.h"
#include "platform/handle_ledger.h"

namespace nametree {

// Reference counting shared by every object in this file; the ledger is
// told about each object's birth and death.
template <class Base>
class Counted : public Base {
 public:
  explicit Counted(std::shared_ptr<HandleLedger> ledger) : ledger_(std::move(ledger)) {
    if (ledger_) ledger_->Opened();
  }
  virtual ~Counted() {
    if (ledger_) ledger_->Closed();
  }
  std::uint32_t AddRef() override { return ++refs_; }
  std::uint32_t Release() override {
    std::uint32_t n = --refs_;
    if (n == 0) delete this;
    return n;
  }
  const std::shared_ptr<HandleLedger>& Ledger() const { return ledger_; }

 protected:
  // QueryInterface for an object that offers one interface besides IUnknown.
  HRESULT Answer(const IID& iid, const IID& offered, void** ppv) {
    if (!ppv) return E_POINTER;
    if (iid == IID_IUnknown || iid == offered) {
      AddRef();
      *ppv = static_cast<Base*>(this);
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }

 private:
  std::uint32_t refs_ = 1;
  std::shared_ptr<HandleLedger> ledger_;
};

}  // namespace nametree
