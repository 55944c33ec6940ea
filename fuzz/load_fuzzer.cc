// CNameServer::Load on arbitrary "NameServer" stream bytes: any result is
// fine, a crash, hang, leak or huge allocation is not. A successful load
// must save again.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "nametree/memory_storage.h"
#include "platform/handle_ledger.h"
#include "nametree/name_server.h"

using namespace nametree;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ComPtr<IStorage> storage = CreateMemoryStorage();
  {
    ComPtr<IStream> s;
    storage->CreateStream(u"NameServer", kCreateMode, s.Put());
    s->Write(data, static_cast<std::uint32_t>(size), nullptr);
  }
  CNameServer server;
  if (server.Load(storage.Get()) == S_OK) {
    ComPtr<IStorage> again = CreateMemoryStorage();
    if (server.Save(again.Get()) != S_OK) __builtin_trap();
  }
  server.TraceDumpNameServer();
  if (MemoryStorageLedger(storage.Get())->Live() != 1) __builtin_trap();  // a stream handle leaked
  return 0;
}
