// The storage tree of a compound file as the host sees it: storages and
// streams over the DocNodes of doc_tree.h. A stream still in the file is
// read through its chain when opened (its chain is checked first, and an
// entry whose chain fails moves to `unreadable`); the first write loads it
// whole into memory, since bytes behind a write stay. Every handle counts
// in the tree's ledger.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "cfb/doc_tree.h"
#include "nametree/cfb_storage.h"
#include "nametree/storage.h"
#include "platform/counted.h"

namespace nametree::cfb {

struct FileState;  // what a root knows of its file; the file layer's own

struct TreeState {
  std::shared_ptr<const FileLayout> layout;  // null when nothing comes from a file
  std::shared_ptr<HandleLedger> ledger;
  std::vector<std::string> warnings;  // entries found unreadable, at open or since
};

class DocStorage final : public Counted<IStorage> {
 public:
  DocStorage(std::shared_ptr<TreeState> tree, std::shared_ptr<DocNode> node, std::shared_ptr<FileState> file)
      : Counted(tree->ledger), tree_(std::move(tree)), node_(std::move(node)), file_(std::move(file)) {}

  HRESULT QueryInterface(const IID& iid, void** ppv) override { return Answer(iid, IID_IStorage, ppv); }
  HRESULT OpenStream(const CString& name, std::uint32_t mode, IStream** pp) override;
  HRESULT CreateStream(const CString& name, std::uint32_t mode, IStream** pp) override;
  HRESULT OpenStorage(const CString& name, std::uint32_t mode, IStorage** pp) override;
  HRESULT CreateStorage(const CString& name, std::uint32_t mode, IStorage** pp) override;
  HRESULT EnumElements(std::vector<StorageElement>* out) override;

  const std::shared_ptr<TreeState>& Tree() const { return tree_; }
  const std::shared_ptr<DocNode>& Node() const { return node_; }
  const std::shared_ptr<FileState>& File() const { return file_; }

  // Whether the entry `name` of this storage is absent, readable or
  // damaged; its chain is checked now if it was not yet.
  CompoundEntryState State(const CString& name);

 private:
  DocNode* Find(const CString& name) const;
  std::shared_ptr<DocNode> Shared(DocNode* node) const;
  HRESULT Missing(const CString& name) const;
  // Checks the chain of a child stream before its first use; false when it
  // cannot be read at all (it is then marked and gone from the children).
  bool Check(DocNode* child);
  std::shared_ptr<DocNode> Replace(const CString& name, bool storage);

  std::shared_ptr<TreeState> tree_;
  std::shared_ptr<DocNode> node_;
  std::shared_ptr<FileState> file_;  // the root of a file only
};

// The root storage of `storage` when it is one with a file state.
DocStorage* RootOf(IStorage* storage);

// Every chain is followed before a write, so that what cannot be read is
// known (and refused, unless forced) before anything is written.
Status CheckBeforeWrite(DocStorage* doc);

ComPtr<IStorage> MakeRoot(std::shared_ptr<const FileLayout> layout, std::shared_ptr<DocNode> root,
                          std::shared_ptr<FileState> file, std::vector<std::string> warnings);

}  // namespace nametree::cfb
