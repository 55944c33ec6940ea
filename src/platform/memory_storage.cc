#include "nametree/memory_storage.h"

#include "platform/byte_buffer.h"
#include "platform/counted.h"
#include "platform/stream_bytes.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace nametree {

namespace {

// Not a vector: a save's finished buffer becomes the stream's bytes as it is.
using Bytes = ByteBuffer;

struct StreamData {
  Bytes bytes;
  bool open = false;  // exclusive sharing: one handle at a time
};

class MemoryStream final : public OwnStream {
 public:
  MemoryStream(std::shared_ptr<StreamData> data, std::shared_ptr<HandleLedger> ledger)
      : OwnStream(std::move(ledger)), data_(std::move(data)) {
    data_->open = true;
  }
  ~MemoryStream() override { data_->open = false; }

  HRESULT Rest(const std::uint8_t** data, std::size_t* size) override {
    const Bytes& b = data_->bytes;
    *size = pos_ < b.size() ? b.size() - pos_ : 0;
    *data = *size ? b.data() + pos_ : nullptr;
    return S_OK;
  }
  void Advance(std::size_t count) override { pos_ += count; }
  bool Adopt(ByteBuffer& bytes) override {
    // mutate: adopted-save-drops-old-tail
    if (pos_ != 0 || data_->bytes.size() > bytes.size()) return false;
    data_->bytes = std::move(bytes);
    data_->bytes.ShrinkToFit();  // a stream may be kept long after its save
    pos_ = data_->bytes.size();
    return true;
  }

  HRESULT Read(void* pv, std::uint32_t cb, std::uint32_t* pcbRead) override {
    if (!pv && cb) return E_POINTER;
    const Bytes& b = data_->bytes;
    std::size_t avail = pos_ < b.size() ? b.size() - pos_ : 0;
    std::uint32_t n = static_cast<std::uint32_t>(std::min<std::size_t>(avail, cb));
    if (n) std::memcpy(pv, b.data() + pos_, n);
    pos_ += n;
    if (pcbRead) *pcbRead = n;
    return n == cb ? S_OK : S_FALSE;
  }

  HRESULT Write(const void* pv, std::uint32_t cb, std::uint32_t* pcbWritten) override {
    if (!pv && cb) return E_POINTER;
    Bytes& b = data_->bytes;
    if (pos_ + cb > b.size()) b.Resize(pos_ + cb);
    if (cb) std::memcpy(b.data() + pos_, pv, cb);
    pos_ += cb;
    if (pcbWritten) *pcbWritten = cb;
    return S_OK;
  }

  const Bytes& Data() const { return data_->bytes; }

 private:
  std::shared_ptr<StreamData> data_;
  std::size_t pos_ = 0;
};

class MemoryStorage;

struct StorageNode {
  std::map<CString, std::shared_ptr<StreamData>> streams;
  std::map<CString, std::shared_ptr<StorageNode>> children;
};

class MemoryStorage final : public Counted<IStorage> {
 public:
  MemoryStorage(std::shared_ptr<StorageNode> node, std::shared_ptr<HandleLedger> ledger)
      : Counted(std::move(ledger)), node_(std::move(node)) {}

  HRESULT QueryInterface(const IID& iid, void** ppv) override { return Answer(iid, IID_IStorage, ppv); }

  HRESULT OpenStream(const CString& name, std::uint32_t, IStream** pp) override {
    if (!pp) return E_POINTER;
    *pp = nullptr;
    auto it = node_->streams.find(name);
    if (it == node_->streams.end()) return STG_E_FILENOTFOUND;
    if (it->second->open) return STG_E_ACCESSDENIED;
    *pp = new MemoryStream(it->second, Ledger());
    return S_OK;
  }

  HRESULT CreateStream(const CString& name, std::uint32_t, IStream** pp) override {
    if (!pp) return E_POINTER;
    *pp = nullptr;
    if (name.empty()) return STG_E_INVALIDNAME;
    if (node_->children.count(name)) return STG_E_ACCESSDENIED;
    auto& slot = node_->streams[name];
    if (slot && slot->open) return STG_E_ACCESSDENIED;
    slot = std::make_shared<StreamData>();
    *pp = new MemoryStream(slot, Ledger());
    return S_OK;
  }

  HRESULT OpenStorage(const CString& name, std::uint32_t, IStorage** pp) override {
    if (!pp) return E_POINTER;
    *pp = nullptr;
    auto it = node_->children.find(name);
    if (it == node_->children.end()) return STG_E_FILENOTFOUND;
    *pp = new MemoryStorage(it->second, Ledger());
    return S_OK;
  }

  HRESULT CreateStorage(const CString& name, std::uint32_t, IStorage** pp) override {
    if (!pp) return E_POINTER;
    *pp = nullptr;
    if (name.empty()) return STG_E_INVALIDNAME;
    if (node_->streams.count(name)) return STG_E_ACCESSDENIED;
    auto& slot = node_->children[name];
    slot = std::make_shared<StorageNode>();
    *pp = new MemoryStorage(slot, Ledger());
    return S_OK;
  }

  HRESULT EnumElements(std::vector<StorageElement>* out) override {
    if (!out) return E_POINTER;
    out->clear();
    for (auto& [n, s] : node_->streams) out->push_back({n, false, s->bytes.size()});
    for (auto& [n, c] : node_->children) out->push_back({n, true, 0});
    std::sort(out->begin(), out->end(),
              [](const StorageElement& a, const StorageElement& b) { return a.name < b.name; });
    return S_OK;
  }

  StorageNode& Node() { return *node_; }

 private:
  std::shared_ptr<StorageNode> node_;
};

}  // namespace

ComPtr<IStorage> CreateMemoryStorage() {
  return ComPtr<IStorage>::Attach(
      new MemoryStorage(std::make_shared<StorageNode>(), std::make_shared<HandleLedger>()));
}

std::shared_ptr<HandleLedger> MemoryStorageLedger(IStorage* storage) {
  auto* m = dynamic_cast<MemoryStorage*>(storage);
  return m ? m->Ledger() : nullptr;
}

ComPtr<IStream> CreateMemoryStream(std::vector<std::uint8_t> bytes) {
  auto data = std::make_shared<StreamData>();
  data->bytes.Resize(bytes.size());
  if (!bytes.empty()) std::memcpy(data->bytes.data(), bytes.data(), bytes.size());
  return ComPtr<IStream>::Attach(new MemoryStream(std::move(data), nullptr));
}

std::vector<std::uint8_t> MemoryStreamBytes(IStream* stream) {
  auto* m = dynamic_cast<MemoryStream*>(stream);
  if (!m) return {};
  const Bytes& b = m->Data();
  return std::vector<std::uint8_t>(b.data(), b.data() + b.size());
}

}  // namespace nametree
