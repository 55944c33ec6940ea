#include "cfb/doc_storage.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <optional>

#include "nametree/utf8.h"
#include "platform/stream_bytes.h"

namespace nametree::cfb {
namespace {

class DocStream final : public OwnStream {
 public:
  DocStream(std::shared_ptr<TreeState> tree, std::shared_ptr<DocNode> node)
      : OwnStream(tree->ledger), tree_(std::move(tree)), node_(std::move(node)) {
    node_->open = true;
    if (!node_->data) reader_.emplace(tree_->layout, node_->place);
  }
  ~DocStream() override { node_->open = false; }

  // A stream still in the file comes in whole, apart from the reader, so a
  // chain that fails leaves the reader where it was.
  HRESULT Rest(const std::uint8_t** data, std::size_t* size) override {
    if (!node_->data && !whole_) {
      // Not zero-filled first: the chain's bytes fill it whole or it is dropped.
      const std::size_t length = static_cast<std::size_t>(node_->place.size);
      std::unique_ptr<std::uint8_t[]> whole(new (std::nothrow) std::uint8_t[length ? length : 1]);
      if (!whole) return STG_E_INSUFFICIENTMEMORY;
      if (length && !ChainReader(tree_->layout, node_->place).Read(whole.get(), length).ok()) return STG_E_READFAULT;
      whole_ = std::move(whole);
    }
    const std::uint64_t end = node_->Size();
    *size = pos_ < end ? static_cast<std::size_t>(end - pos_) : 0;
    // mutate: file-stream-view-from-start
    *data = *size ? Held() + pos_ : nullptr;
    return S_OK;
  }
  void Advance(std::size_t count) override { pos_ += count; }
  bool Adopt(ByteBuffer& bytes) override {
    // mutate: adopted-file-save-drops-old-tail
    if (pos_ != 0 || node_->Size() > bytes.size()) return false;
    std::shared_ptr<ByteBuffer> data;
    try {
      data = std::make_shared<ByteBuffer>(std::move(bytes));
    } catch (const std::bad_alloc&) {
      return false;
    }
    data->ShrinkToFit();  // held until the document closes
    node_->data = std::move(data);
    whole_.reset();
    reader_.reset();
    ahead_.clear();
    pos_ = node_->data->size();
    return true;
  }

  HRESULT Read(void* pv, std::uint32_t cb, std::uint32_t* pcbRead) override {
    if (pcbRead) *pcbRead = 0;
    if (!pv && cb) return E_POINTER;
    const std::uint64_t size = node_->Size();
    const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(pos_ < size ? size - pos_ : 0, cb));
    if (node_->data || whole_) {
      if (n) std::memcpy(pv, Held() + pos_, n);
    } else if (n && !ReadFromFile(static_cast<std::uint8_t*>(pv), n)) {
      return STG_E_READFAULT;
    }
    pos_ += n;
    if (pcbRead) *pcbRead = n;
    return n == cb ? S_OK : S_FALSE;
  }

  HRESULT Write(const void* pv, std::uint32_t cb, std::uint32_t* pcbWritten) override {
    if (pcbWritten) *pcbWritten = 0;
    if (!pv && cb) return E_POINTER;
    if (!node_->data) {
      // Bytes behind the new contents stay, so the old ones come in first.
      auto data = std::make_shared<ByteBuffer>();
      try {
        const auto size = static_cast<std::size_t>(node_->place.size);
        if (size) {
          std::uint8_t* to = data->Extend(size);
          if (whole_) {
            std::memcpy(to, whole_.get(), size);
          } else if (!ChainReader(tree_->layout, node_->place).Read(to, size).ok()) {
            return STG_E_READFAULT;
          }
        }
      } catch (const std::bad_alloc&) {
        return STG_E_INSUFFICIENTMEMORY;
      }
      node_->data = std::move(data);
      whole_.reset();
      reader_.reset();
    }
    ahead_.clear();
    ByteBuffer& b = *node_->data;
    try {
      const std::size_t had = b.size();
      if (pos_ + cb > had) {
        b.Resize(static_cast<std::size_t>(pos_ + cb));
        if (pos_ > had) std::memset(b.data() + had, 0, static_cast<std::size_t>(pos_ - had));
      }
    } catch (const std::bad_alloc&) {
      return STG_E_INSUFFICIENTMEMORY;
    }
    if (cb) std::memcpy(b.data() + pos_, pv, cb);
    pos_ += cb;
    if (pcbWritten) *pcbWritten = cb;
    return S_OK;
  }

 private:
  // Callers read a few bytes at a time; the file is read in larger pieces.
  bool ReadFromFile(std::uint8_t* out, std::uint32_t n) {
    constexpr std::uint64_t kAhead = 64 * 1024;
    while (n > 0) {
      if (aheadAt_ == ahead_.size()) {
        const std::uint64_t left = node_->place.size - fileAt_;
        if (n >= kAhead) {
          if (!reader_->Read(out, n).ok()) return false;
          fileAt_ += n;
          return true;
        }
        ahead_.resize(static_cast<std::size_t>(std::min(kAhead, left)));
        if (ahead_.empty() || !reader_->Read(ahead_.data(), ahead_.size()).ok()) return false;
        fileAt_ += ahead_.size();
        aheadAt_ = 0;
      }
      const auto take = static_cast<std::uint32_t>(std::min<std::size_t>(n, ahead_.size() - aheadAt_));
      std::memcpy(out, ahead_.data() + aheadAt_, take);
      aheadAt_ += take;
      out += take;
      n -= take;
    }
    return true;
  }

  const std::uint8_t* Held() const { return node_->data ? node_->data->data() : whole_.get(); }

  std::shared_ptr<TreeState> tree_;
  std::shared_ptr<DocNode> node_;
  std::unique_ptr<std::uint8_t[]> whole_;  // a file stream's bytes, once read in place
  std::uint64_t pos_ = 0;
  std::optional<ChainReader> reader_;
  Bytes ahead_;
  std::size_t aheadAt_ = 0;
  std::uint64_t fileAt_ = 0;  // how far the reader has gone
};

}  // namespace

HRESULT DocStorage::OpenStream(const CString& name, std::uint32_t, IStream** pp) {
  if (!pp) return E_POINTER;
  *pp = nullptr;
  DocNode* found = Find(name);
  if (!found || found->storage) return Missing(name);
  if (found->open) return STG_E_ACCESSDENIED;
  if (!Check(found)) return STG_E_DOCFILECORRUPT;
  *pp = new DocStream(tree_, Shared(found));
  return S_OK;
}

HRESULT DocStorage::CreateStream(const CString& name, std::uint32_t, IStream** pp) {
  if (!pp) return E_POINTER;
  *pp = nullptr;
  if (name.empty()) return STG_E_INVALIDNAME;
  DocNode* found = Find(name);
  if (found && (found->storage || found->open)) return STG_E_ACCESSDENIED;
  auto node = Replace(name, false);
  node->data = std::make_shared<ByteBuffer>();
  *pp = new DocStream(tree_, std::move(node));
  return S_OK;
}

HRESULT DocStorage::OpenStorage(const CString& name, std::uint32_t, IStorage** pp) {
  if (!pp) return E_POINTER;
  *pp = nullptr;
  DocNode* found = Find(name);
  if (!found || !found->storage) return Missing(name);
  *pp = new DocStorage(tree_, Shared(found), nullptr);
  return S_OK;
}

HRESULT DocStorage::CreateStorage(const CString& name, std::uint32_t, IStorage** pp) {
  if (!pp) return E_POINTER;
  *pp = nullptr;
  if (name.empty()) return STG_E_INVALIDNAME;
  DocNode* found = Find(name);
  if (found && !found->storage) return STG_E_ACCESSDENIED;
  *pp = new DocStorage(tree_, Replace(name, true), nullptr);
  return S_OK;
}

HRESULT DocStorage::EnumElements(std::vector<StorageElement>* out) {
  if (!out) return E_POINTER;
  out->clear();
  // Sizes are told as the chains hold them, never as a damaged entry claims.
  for (std::size_t i = 0; i < node_->children.size();) {
    bool removed = false;
    (void)CheckNode(tree_->layout.get(), *node_, i, "", false, &tree_->warnings, &removed);  // marks, never fails
    if (!removed) ++i;
  }
  for (const auto& c : node_->children) out->push_back({c->name, c->storage, c->storage ? 0 : c->Size()});
  std::sort(out->begin(), out->end(),
            [](const StorageElement& a, const StorageElement& b) { return a.name < b.name; });
  return S_OK;
}

DocNode* DocStorage::Find(const CString& name) const {
  for (const auto& c : node_->children)
    if (c->name == name) return c.get();
  return nullptr;
}

std::shared_ptr<DocNode> DocStorage::Shared(DocNode* node) const {
  for (const auto& c : node_->children)
    if (c.get() == node) return c;
  return nullptr;
}

HRESULT DocStorage::Missing(const CString& name) const {
  return node_->Damaged(name) ? STG_E_DOCFILECORRUPT : STG_E_FILENOTFOUND;
}

bool DocStorage::Check(DocNode* child) {
  const auto& c = node_->children;
  const auto at = std::find_if(c.begin(), c.end(), [&](const auto& n) { return n.get() == child; });
  if (at == c.end()) return false;
  if (!tree_->layout && !child->storage && !child->data) return false;
  bool removed = false;
  (void)CheckNode(tree_->layout.get(), *node_, static_cast<std::size_t>(at - c.begin()), "", false,
                  &tree_->warnings, &removed);  // marks, never fails
  return !removed;
}

CompoundEntryState DocStorage::State(const CString& name) {
  DocNode* found = Find(name);
  // mutate: entry-state-unchecked
  if (found && !Check(found)) return CompoundEntryState::kDamaged;
  if (found && found->storage &&
      !CheckChains(tree_->layout.get(), *found, ToUtf8(name) + "/", false, &tree_->warnings).ok())
    return CompoundEntryState::kDamaged;
  if (node_->Damaged(name) || (found && found->storage && AnyDamage(*found))) return CompoundEntryState::kDamaged;
  return found ? CompoundEntryState::kReadable : CompoundEntryState::kAbsent;
}

// A new empty entry in place of any of that name, readable or not. The
// damage mark of the one it replaces stays: the commit decides.
// mutate: damage-mark-cleared-on-replace
std::shared_ptr<DocNode> DocStorage::Replace(const CString& name, bool storage) {
  auto node = std::make_shared<DocNode>();
  node->name = name;
  node->storage = storage;
  for (auto& c : node_->children)
    if (c->name == name) return c = node;
  node_->children.push_back(node);
  return node;
}

DocStorage* RootOf(IStorage* storage) {
  auto* doc = dynamic_cast<DocStorage*>(storage);
  return doc && doc->File() ? doc : nullptr;
}

Status CheckBeforeWrite(DocStorage* doc) {
  return CheckChains(doc->Tree()->layout.get(), *doc->Node(), "", false, &doc->Tree()->warnings);
}

ComPtr<IStorage> MakeRoot(std::shared_ptr<const FileLayout> layout, std::shared_ptr<DocNode> root,
                          std::shared_ptr<FileState> file, std::vector<std::string> warnings) {
  auto tree = std::make_shared<TreeState>();
  tree->layout = std::move(layout);
  tree->warnings = std::move(warnings);
  tree->ledger = std::make_shared<HandleLedger>();
  return ComPtr<IStorage>::Attach(new DocStorage(std::move(tree), std::move(root), std::move(file)));
}

}  // namespace nametree::cfb
