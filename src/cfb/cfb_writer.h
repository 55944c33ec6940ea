// Writing a tree of entries as a compound file, front to back into a sink,
// so that a file of any size is written with bounded memory: streams still
// in the file they were read from are copied from it in large runs.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cfb/doc_tree.h"
#include "nametree/storage.h"

namespace nametree::cfb {

class ByteSink {
 public:
  virtual ~ByteSink() = default;
  virtual Status Put(const std::uint8_t* data, std::size_t size) = 0;
  // Appends `length` bytes of `source` from `offset`; by default through a
  // buffer of at most a few MB.
  virtual Status CopyFrom(ByteSource& source, std::uint64_t offset, std::uint64_t length);
};

struct WriteFormat {
  int majorVersion = 3;
  std::uint32_t sectorSize = 512;  // 4096 for version 4, and for some version 3 files
};

// Serialises the tree under `root`; `layout` is the file its unloaded
// streams lie in (null when all are in memory). Entries that could not be
// read refuse the write unless `force`, which leaves them out and lists
// them in `leftOut`. Fails on names the format cannot hold, on names that
// differ only in case, on a stream still open and on trees nested too
// deeply.
Status WriteTree(const DocNode& root, const std::shared_ptr<const FileLayout>& layout, WriteFormat format,
                 bool force, ByteSink& sink, std::vector<std::string>* leftOut);

// Any storage as a node tree with its streams' bytes in memory.
Status ImportStorage(IStorage* storage, std::shared_ptr<DocNode>* root);

}  // namespace nametree::cfb
