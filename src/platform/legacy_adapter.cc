#include "nametree/legacy_storage.h"
#include "nametree/memory_storage.h"
#include "platform/counted.h"

namespace nametree {
namespace {

class LegacyAdapter final : public Counted<IZebStorage> {
 public:
  explicit LegacyAdapter(IStorage* storage)
      : Counted(MemoryStorageLedger(storage)), storage_(storage) {}

  HRESULT QueryInterface(const IID& iid, void** ppv) override { return Answer(iid, IID_IZebStorage, ppv); }

  HRESULT OpenChildStorage(const CString& name, std::uint32_t mode, std::uint32_t, const CString*,
                           IZebStorage** pp) override {
    if (!pp) return E_POINTER;
    *pp = nullptr;
    ComPtr<IStorage> child;
    HRESULT hr = storage_->OpenStorage(name, mode, child.Put());
    if (Failed(hr)) return hr;
    *pp = new LegacyAdapter(child.Get());
    return S_OK;
  }

  HRESULT OpenElement(const CString& name, std::uint32_t mode, std::uint32_t, std::uint32_t,
                      IUnknown** pp) override {
    if (!pp) return E_POINTER;
    *pp = nullptr;
    IStream* stream = nullptr;
    HRESULT hr = storage_->OpenStream(name, mode, &stream);
    if (Failed(hr)) return hr;
    *pp = stream;
    return S_OK;
  }

 private:
  ComPtr<IStorage> storage_;
};

}  // namespace

ComPtr<IZebStorage> CreateLegacyStorageAdapter(IStorage* storage) {
  if (!storage) return nullptr;
  return ComPtr<IZebStorage>::Attach(new LegacyAdapter(storage));
}

}  // namespace nametree
