// The count of the handles a storage tree has handed out and not yet got
// back. The library's own storages keep one so that tests and fuzzers can
// check that every stream and storage handle was released.
//
// Invariant: Live() is the number of handles opened from the tree and not
// yet released; Total() never decreases.
#pragma once

#include <cstdint>
#include <memory>

#include "nametree/storage.h"

namespace nametree {

class HandleLedger {
 public:
  void Opened() { ++live_; ++total_; }
  void Closed() { --live_; }
  std::int64_t Live() const { return live_; }
  std::int64_t Total() const { return total_; }

 private:
  std::int64_t live_ = 0;
  std::int64_t total_ = 0;
};

// The ledger of a storage made by CreateMemoryStorage (or a child of one);
// null for any other storage.
std::shared_ptr<HandleLedger> MemoryStorageLedger(IStorage* storage);

}  // namespace nametree
