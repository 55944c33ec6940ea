// An in-memory structured storage: streams and child storages held in
// memory.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "nametree/export.h"
#include "nametree/storage.h"

namespace nametree {

// Creates an empty in-memory storage. The caller owns the one reference
// returned. All child storages and streams opened from it share its ledger.
NAMETREE_API ComPtr<IStorage> CreateMemoryStorage();

// A stand-alone in-memory stream over the given bytes, positioned at 0.
NAMETREE_API ComPtr<IStream> CreateMemoryStream(std::vector<std::uint8_t> bytes = {});

// The bytes of a stream made by CreateMemoryStream or held by a memory
// storage; empty for any other stream.
NAMETREE_API std::vector<std::uint8_t> MemoryStreamBytes(IStream* stream);

}  // namespace nametree
