#include "support/fault_stream.h"

#include <type_traits>
#include <vector>

#include "platform/counted.h"

namespace nametree::test {
namespace {

// What a spoiled call does instead of the inner one: nothing moved and
// `failure`, or one byte less moved (none of a 1-byte call).
template <class Move>
HRESULT Spoil(Fault fault, HRESULT failure, std::uint32_t cb, std::uint32_t* pcb, Move move) {
  std::uint32_t moved = 0;
  const HRESULT hr = fault == Fault::kFail ? failure : cb ? move(cb - 1, &moved) : S_OK;
  if (pcb) *pcb = moved;
  return hr;
}

class FaultStream final : public Counted<IStream> {
 public:
  FaultStream(IStream* inner, FaultPlan plan, FaultCounters* counters)
      : Counted(nullptr), inner_(inner), plan_(plan), counters_(counters) {}

  HRESULT QueryInterface(const IID& iid, void** ppv) override { return Answer(iid, IID_IStream, ppv); }

  HRESULT Read(void* pv, std::uint32_t cb, std::uint32_t* pcb) override {
    if (counters_) {
      ++counters_->reads;
      counters_->readSizes.push_back(cb);
    }
    if (reads_++ != plan_.readIndex || plan_.readFault == Fault::kNone) return inner_->Read(pv, cb, pcb);
    const HRESULT hr = Spoil(plan_.readFault, STG_E_READFAULT, cb, pcb,
                             [&](std::uint32_t n, std::uint32_t* got) { return inner_->Read(pv, n, got); });
    return Failed(hr) ? hr : S_FALSE;
  }

  HRESULT Write(const void* pv, std::uint32_t cb, std::uint32_t* pcb) override {
    if (counters_) ++counters_->writes;
    if (writes_++ != plan_.writeIndex || plan_.writeFault == Fault::kNone) return inner_->Write(pv, cb, pcb);
    return Spoil(plan_.writeFault, STG_E_WRITEFAULT, cb, pcb,
                 [&](std::uint32_t n, std::uint32_t* put) { return inner_->Write(pv, n, put); });
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
    return faults_.refuseOpen ? Refuse(pp) : Wrap(inner_->OpenStream(name, mode, pp), pp);
  }
  HRESULT CreateStream(const CString& name, std::uint32_t mode, IStream** pp) override {
    return faults_.refuseCreate ? Refuse(pp) : Wrap(inner_->CreateStream(name, mode, pp), pp);
  }
  // Child storages hand out spoiled streams too, so nested elements can be tested.
  HRESULT OpenStorage(const CString& name, std::uint32_t mode, IStorage** pp) override {
    return Wrap(inner_->OpenStorage(name, mode, pp), pp);
  }
  HRESULT CreateStorage(const CString& name, std::uint32_t mode, IStorage** pp) override {
    return Wrap(inner_->CreateStorage(name, mode, pp), pp);
  }
  HRESULT EnumElements(std::vector<StorageElement>* out) override { return inner_->EnumElements(out); }

 private:
  static HRESULT Refuse(IStream** pp) {
    if (pp) *pp = nullptr;
    return STG_E_ACCESSDENIED;
  }

  template <class T>
  HRESULT Wrap(HRESULT hr, T** pp) {
    if (Failed(hr) || !pp || !*pp) return hr;
    ComPtr<T> raw = ComPtr<T>::Attach(*pp);
    if constexpr (std::is_same_v<T, IStream>) {
      *pp = WrapStream(raw.Get(), faults_.plan, counters_).Detach();
    } else {
      *pp = new FaultStorage(raw.Get(), faults_, counters_);
    }
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
