// Compound-file parsing of arbitrary bytes: any result is fine, a crash,
// hang, leak or huge allocation is not. A file that parses must serialise
// again (unless some entries could not be read) and parse back with the
// same entries; a "NameServer" stream in it goes through Load.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cfb/cfb_file.h"
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
    // Names the format cannot hold (case twins, say), or unreadable entries.
    if (error.empty()) __builtin_trap();
    return 0;
  }
  ComPtr<IStorage> back;
  if (!ParseCompoundFile(again, &back, &error)) __builtin_trap();
  if (!CompoundFileWarnings(back.Get()).empty()) __builtin_trap();
  std::vector<std::uint8_t> third;
  if (!SerializeCompoundFile(back.Get(), version, &third, &error) || third != again) __builtin_trap();
  if (cfb::CompoundFileLedger(storage.Get())->Live() != 1) __builtin_trap();  // a handle leaked
  return 0;
}
