// Compound-file parsing of arbitrary bytes: any result is fine, a crash,
// hang, leak or huge allocation is not. A file that parses must serialise
// again and parse back; a "NameServer" stream in it goes through Load.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "nametree/cfb_storage.h"
#include "nametree/memory_storage.h"
#include "nametree/name_server.h"

using namespace nametree;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> bytes(data, data + size);
  ComPtr<IStorage> storage;
  std::string error;
  int version = 0;
  if (!ParseCompoundFile(bytes, &storage, &error, &version)) {
    if (error.empty()) __builtin_trap();  // every refusal says why
    return 0;
  }
  {
    CNameServer server;
    server.Load(storage.Get());
  }
  std::vector<std::uint8_t> again;
  if (!SerializeCompoundFile(storage.Get(), version, &again, &error)) {
    // Only names the format cannot hold (case twins, say) may refuse.
    if (error.empty()) __builtin_trap();
    return 0;
  }
  ComPtr<IStorage> back;
  if (!ParseCompoundFile(again, &back, &error)) __builtin_trap();
  if (MemoryStorageLedger(storage.Get())->Live() != 1) __builtin_trap();  // a handle leaked
  return 0;
}
