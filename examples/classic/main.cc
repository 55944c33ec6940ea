// A minimal host: one server per document, a subscriber for notifications,
// a few names entered and renamed, the document saved to storage, and a
// second document opened beside the first.
#include <algorithm>
#include <cstdio>

#include "nametree/memory_storage.h"
#include "nametree/name_server.h"
#include "nametree/utf8.h"
#include "nametree/version.h"

using namespace nametree;

int main() {
  CNotificationManager manager;
  manager.Subscribe([](const CNotification& n) {
    const CNotificationPayload* p = n.Payload();
    std::printf("notified: %s container=%u name=%u %s -> %s\n", ToUtf8(n.Name()).c_str(), p->containerID,
                p->nameID, ToUtf8(p->oldName).c_str(), ToUtf8(p->newName).c_str());
  });

  CNameServer server;
  if (server.Initialize(&manager) != S_OK) return 1;
  const std::uint32_t plant = server.AddContainer(0, kGlobalContainer);

  std::uint32_t pump = 0, valve = 0;
  CString proposal;
  server.GetNextName(plant, u"Pump", 0, &proposal);
  if (server.AddName(pump, plant, proposal, kOrdinaryName, true) != S_OK) return 1;
  if (server.AddName(valve, plant, u"Valve", kOrdinaryName, true) != S_OK) return 1;
  std::uint32_t dup = 0;
  const HRESULT refused = server.AddName(dup, plant, u"VALVE", kOrdinaryName, true);
  std::printf("adding VALVE again: %s\n", StatusName(refused).c_str());
  if (server.Rename(plant, pump, u"FeedPump", kOrdinaryName, true, false) != S_OK) return 1;

  ComPtr<IStorage> document = CreateMemoryStorage();
  if (server.Save(document.Get()) != S_OK) return 1;
  std::printf("nametree %s: saved %d names, dirty=%d\n", LibraryVersion(), server.GetNameSize(plant),
              server.IsDirty() ? 1 : 0);

  // Loading sets the process-wide ID counter from the document; with several
  // documents open, raise it above every ID that any of them holds.
  CNameServer second;
  if (second.Load(document.Get()) != S_OK) return 1;
  CNameContainer::SetLastIssuedNameID(std::max(
      {CNameContainer::GetLastIssuedNameID(), server.GetHighestID(), second.GetHighestID()}));
  std::uint32_t motor = 0;
  if (server.AddName(motor, plant, u"Motor", kOrdinaryName, true) != S_OK) return 1;
  CNameRuleViolation why;
  if (server.ExplainInvalidName(u"Feed Pump", kOrdinaryName, &why))
    std::printf("Feed Pump is no name: character %d is U+%04X\n", why.index, static_cast<unsigned>(why.unit));
  return refused == E_NAME_DUPLICATE && motor > second.GetHighestID() ? 0 : 1;
}
