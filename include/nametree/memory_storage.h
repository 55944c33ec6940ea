// An in-memory structured storage: streams and child storages held in
// memory, with counted handles that can be audited.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "nametree/export.h"
#include "nametree/storage.h"

namespace nametree {

// Counts the handles that a storage tree has handed out and not yet got
// back, so that a caller can check that every one was released.
class NAMETREE_API HandleLedger {
 public:
  void Opened() { ++live_; ++total_; }
  void Closed() { --live_; }
  std::int64_t Live() const { return live_; }
  std::int64_t Total() const { return total_; }

 private:
  std::int64_t live_ = 0;
  std::int64_t total_ = 0;
};

// Creates an empty in-memory storage. The caller owns the one reference
// returned. All child storages and streams opened from it share its ledger.
NAMETREE_API ComPtr<IStorage> CreateMemoryStorage();

// The ledger of a storage made by CreateMemoryStorage (or a child of one);
// null for any other storage.
NAMETREE_API std::shared_ptr<HandleLedger> MemoryStorageLedger(IStorage* storage);

// A stand-alone in-memory stream over the given bytes, positioned at 0.
NAMETREE_API ComPtr<IStream> CreateMemoryStream(std::vector<std::uint8_t> bytes = {});

// The bytes of a stream made by CreateMemoryStream or held by a memory
// storage; empty for any other stream.
NAMETREE_API std::vector<std::uint8_t> MemoryStreamBytes(IStream* stream);

}  // namespace nametree
