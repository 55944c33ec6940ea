// Several documents open in one process share one ID counter; the highest ID
// each server holds is what lets a host keep the counter above all of them.
#include <algorithm>
#include <functional>

#include "nametree/memory_storage.h"
#include "server_fixture.h"

namespace nametree::test {
namespace {

using Ids = std::vector<std::uint32_t>;

struct HighestCase {
  const char* scene;
  // Builds on a server whose one top-level container has ID 1, with the
  // counter far below the IDs entered here.
  std::function<void(CNameServer&, CNameContainer& top)> build;
  std::uint32_t highest;
};

TEST(HighestID, CountsEveryKeyAndEveryStoredID) {
  const HighestCase cases[] = {
      {"the top-level container alone", [](CNameServer&, CNameContainer&) {}, 1},
      {"containers added in depth",
       [](CNameServer& s, CNameContainer&) { s.AddContainer(s.AddContainer(1, 0), 0); }, 5},
      {"a name", [](CNameServer&, CNameContainer& top) { top.AddNameFromData(900, u"A", 0); }, 900},
      {"an ID left only as a text's stored ID",
       [](CNameServer&, CNameContainer& top) {
         top.AddNameFromData(900, u"a", 0);
         top.AddNameFromData(900, u"b", 0);
         top.DeleteName(900);
       },
       900},
      {"an ID left only as a table key, its text taken by a later ID",
       [](CNameServer&, CNameContainer& top) {
         top.AddNameFromData(900, u"A", 0);
         top.AddNameFromData(7, u"a", 0);
       },
       900},
      {"a sub-container whose own ID is above its key",
       [](CNameServer& s, CNameContainer&) { s.GetContainer(s.AddContainer(1, 0))->CreateContainerFromData(700, 0); },
       700},
      {"a sub-container whose key is above its own ID",
       [](CNameServer&, CNameContainer& top) {
         top.AddContainerFromData(&top, 800, 0);
         top.FindContainer(800)->CreateContainerFromData(2, 0);
       },
       800},
      {"a top-level container given a high ID", [](CNameServer&, CNameContainer& top) { top.CreateContainerFromData(600, 2); },
       600},
  };
  EXPECT_EQ(CNameServer().GetHighestID(), 0u);
  for (const HighestCase& c : cases) {
    CNameContainer::SetLastIssuedNameID(0);
    CNameServer server;
    c.build(server, *server.GetContainer(server.AddContainer(0, 0)));
    EXPECT_EQ(server.GetHighestID(), c.highest) << c.scene;
  }
}

TEST(SeveralDocuments, RaisingTheCounterAfterALoadKeepsEveryIDUnique) {
  CNameContainer::SetLastIssuedNameID(0);
  ComPtr<IStorage> doc = CreateMemoryStorage();
  {
    CNameServer early;  // saved while the counter stood at 2
    std::uint32_t valve = 0;
    ASSERT_EQ(early.AddName(valve, early.AddContainer(0, kGlobalContainer), u"Valve", 0, true), S_OK);
    ASSERT_EQ(early.Save(doc.Get()), S_OK);
  }
  CNameServer first;
  const std::uint32_t top = first.AddContainer(0, kGlobalContainer);
  std::uint32_t pump = 0, motor = 0;
  ASSERT_EQ((Results{first.AddName(pump, top, u"Pump", 0, true), first.AddName(motor, top, u"Motor", 0, true)}),
            (Results{S_OK, S_OK}));

  CNameServer second;
  ASSERT_EQ(second.Load(doc.Get()), S_OK);
  EXPECT_EQ(CNameContainer::GetLastIssuedNameID(), 2u);  // the loaded document's counter, set back
  EXPECT_EQ((Ids{first.GetHighestID(), second.GetHighestID()}), (Ids{motor, 2}));

  CNameContainer::SetLastIssuedNameID(
      std::max({CNameContainer::GetLastIssuedNameID(), first.GetHighestID(), second.GetHighestID()}));
  std::uint32_t fan = 0, gate = 0;
  ASSERT_EQ((Results{first.AddName(fan, top, u"Fan", 0, true), second.AddName(gate, 1, u"Gate", 0, true)}),
            (Results{S_OK, S_OK}));
  EXPECT_EQ((Ids{fan, gate}), (Ids{motor + 1, motor + 2}));
  CString texts[2];
  EXPECT_EQ((Results{first.GetName(pump, texts[0]), first.GetName(motor, texts[1])}), (Results{S_OK, S_OK}));
  EXPECT_EQ(texts[0] + u"," + texts[1], u"Pump,Motor");
}

}  // namespace
}  // namespace nametree::test
