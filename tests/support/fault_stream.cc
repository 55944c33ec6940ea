#include "support/fault_stream.h"

#include <vector>

#include "platform/counted.h"

namespace nametree::test {
namespace {

class FaultStream final : public Counted<IStream> {
 public:
  FaultStream(IStream* inner, FaultPlan plan, FaultCounters* counters)
      : Counted(nullptr), inner_(inner), plan_(plan), counters_(counters) {}

  HRESULT QueryInterface(const IID& iid, void** ppv) override { return Answer(iid, IID_IStream, ppv); }

  HRESULT Read(void* pv, std::uint32_t cb, std::uint32_t* pcb) override {
    const int k = reads_++;
    if (counters_) {
      ++counters_->reads;
      counters_->readSizes.push_back(cb);
    }
    if (k == plan_.readIndex) {
      if (plan_.readFault == Fault::kFail) {
        if (pcb) *pcb = 0;
        return STG_E_READFAULT;
      }
      if (plan_.readFault == Fault::kShort) {
        std::uint32_t got = 0;
        HRESULT hr = cb ? inner_->Read(pv, cb - 1, &got) : S_OK;
        if (pcb) *pcb = got;
        return Failed(hr) ? hr : S_FALSE;
      }
    }
    return inner_->Read(pv, cb, pcb);
  }

  HRESULT Write(const void* pv, std::uint32_t cb, std::uint32_t* pcb) override {
    const int k = writes_++;
    if (counters_) ++counters_->writes;
    if (k == plan_.writeIndex) {
      if (plan_.writeFault == Fault::kFail) {
        if (pcb) *pcb = 0;
        return STG_E_WRITEFAULT;
      }
      if (plan_.writeFault == Fault::kShort) {
        std::uint32_t put = 0;
        HRESULT hr = cb ? inner_->Write(pv, cb - 1, &put) : S_OK;
        if (pcb) *pcb = put;
        return hr;
      }
    }
    return inner_->Write(pv, cb, pcb);
  }

 private:
  ComPtr<IStream> inner_;
  FaultPlan plan_;
  FaultCounters* counters_;
  int reads_ = 0;
  int writes_ = 0;
};

class FaultStorage final : public Counted<IStorage> {
 public:
  FaultStorage(IStorage* inner, StorageFaults faults, FaultCounters* counters)
      : Counted(nullptr), inner_(inner), faults_(faults), counters_(counters) {}

  HRESULT QueryInterface(const IID& iid, void** ppv) override { return Answer(iid, IID_IStorage, ppv); }

  HRESULT OpenStream(const CString& name, std::uint32_t mode, IStream** pp) override {
    if (faults_.refuseOpen) {
      if (pp) *pp = nullptr;
      return STG_E_ACCESSDENIED;
    }
    return Wrap(inner_->OpenStream(name, mode, pp), pp);
  }
  HRESULT CreateStream(const CString& name, std::uint32_t mode, IStream** pp) override {
    if (faults_.refuseCreate) {
      if (pp) *pp = nullptr;
      return STG_E_ACCESSDENIED;
    }
    return Wrap(inner_->CreateStream(name, mode, pp), pp);
  }
  // Child storages hand out spoiled streams too, so nested elements can be tested.
  HRESULT OpenStorage(const CString& name, std::uint32_t mode, IStorage** pp) override {
    return WrapChild(inner_->OpenStorage(name, mode, pp), pp);
  }
  HRESULT CreateStorage(const CString& name, std::uint32_t mode, IStorage** pp) override {
    return WrapChild(inner_->CreateStorage(name, mode, pp), pp);
  }
  HRESULT EnumElements(std::vector<StorageElement>* out) override { return inner_->EnumElements(out); }

 private:
  HRESULT Wrap(HRESULT hr, IStream** pp) {
    if (Failed(hr) || !pp || !*pp) return hr;
    ComPtr<IStream> raw = ComPtr<IStream>::Attach(*pp);
    *pp = WrapStream(raw.Get(), faults_.plan, counters_).Detach();
    return hr;
  }

  HRESULT WrapChild(HRESULT hr, IStorage** pp) {
    if (Failed(hr) || !pp || !*pp) return hr;
    ComPtr<IStorage> raw = ComPtr<IStorage>::Attach(*pp);
    *pp = new FaultStorage(raw.Get(), faults_, counters_);
    return hr;
  }

  ComPtr<IStorage> inner_;
  StorageFaults faults_;
  FaultCounters* counters_;
};

}  // namespace

ComPtr<IStream> WrapStream(IStream* inner, FaultPlan plan, FaultCounters* counters) {
  return ComPtr<IStream>::Attach(new FaultStream(inner, plan, counters));
}

ComPtr<IStorage> WrapStorage(IStorage* inner, StorageFaults faults, FaultCounters* counters) {
  return ComPtr<IStorage>::Attach(new FaultStorage(inner, faults, counters));
}

}  // namespace nametree::test
