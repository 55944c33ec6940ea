#include "support/deny_storage.h"

namespace nametree::test {
namespace {

class Denying final : public IStorage {
 public:
  Denying(ComPtr<IStorage> inner, CString name) : inner_(std::move(inner)), name_(std::move(name)) {}
  HRESULT QueryInterface(const IID& iid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!(iid == IID_IUnknown || iid == IID_IStorage)) return E_NOINTERFACE;
    AddRef();
    *ppv = static_cast<IStorage*>(this);
    return S_OK;
  }
  std::uint32_t AddRef() override { return ++refs_; }
  std::uint32_t Release() override {
    const std::uint32_t n = --refs_;
    if (n == 0) delete this;
    return n;
  }
  HRESULT OpenStream(const CString& name, std::uint32_t mode, IStream** pp) override {
    return name == name_ ? STG_E_ACCESSDENIED : inner_->OpenStream(name, mode, pp);
  }
  HRESULT CreateStream(const CString& name, std::uint32_t mode, IStream** pp) override {
    return name == name_ ? STG_E_ACCESSDENIED : inner_->CreateStream(name, mode, pp);
  }
  HRESULT OpenStorage(const CString& name, std::uint32_t mode, IStorage** pp) override {
    return inner_->OpenStorage(name, mode, pp);
  }
  HRESULT CreateStorage(const CString& name, std::uint32_t mode, IStorage** pp) override {
    return inner_->CreateStorage(name, mode, pp);
  }
  HRESULT EnumElements(std::vector<StorageElement>* elements) override { return inner_->EnumElements(elements); }

 private:
  ~Denying() = default;
  std::uint32_t refs_ = 1;
  ComPtr<IStorage> inner_;
  CString name_;
};

}  // namespace

ComPtr<IStorage> DenyingStorage(ComPtr<IStorage> inner, CString name) {
  return ComPtr<IStorage>::Attach(new Denying(std::move(inner), std::move(name)));
}

}  // namespace nametree::test
