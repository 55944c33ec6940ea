// LoadOldVersion on arbitrary legacy stream bytes in a memory document.
#include <cstddef>
#include <cstdint>

#include "nametree/legacy_storage.h"
#include "nametree/memory_storage.h"
#include "platform/handle_ledger.h"
#include "nametree/name_server.h"

using namespace nametree;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ComPtr<IStorage> storage = CreateMemoryStorage();
  {
    ComPtr<IStorage> child;
    storage->CreateStorage(u"QXTNameServer", kCreateMode, child.Put());
    ComPtr<IStream> s;
    child->CreateStream(u"NameService", kCreateMode, s.Put());
    s->Write(data, static_cast<std::uint32_t>(size), nullptr);
  }
  const auto baseline = MemoryStorageLedger(storage.Get())->Live();
  {
    CNameServer server;
    ComPtr<IZebStorage> zeb = CreateLegacyStorageAdapter(storage.Get());
    if (server.LoadOldVersion(zeb.Get()) == S_OK) {
      ComPtr<IStorage> out = CreateMemoryStorage();
      if (server.Save(out.Get()) != S_OK) __builtin_trap();
      CNameServer reloaded;
      if (reloaded.Load(out.Get()) != S_OK) __builtin_trap();
    }
  }
  if (MemoryStorageLedger(storage.Get())->Live() != baseline) __builtin_trap();
  return 0;
}
