// What a saved document can count, so that a host learns of a limit when it
// adds, not when it saves; and the highest ID a server holds, which lets a
// host with several documents open keep the shared counter above them all.
#include <functional>

#include "nametree/memory_storage.h"
#include "server_fixture.h"

namespace nametree::test {
namespace {

CString Numbered(int i) {
  CString text = u"N";
  for (char c : std::to_string(i)) text.push_back(static_cast<char16_t>(c));
  return text;
}

struct Table {
  const char* what;
  int heldBefore;  // entries the table holds once the fixture's top container exists
  // Adds one entry through the server: its ID, or 0 when refused (why).
  std::function<std::uint32_t(CNameServer&, std::uint32_t top, int i, CNameRefusal* why)> add;
  std::function<void(CNameServer&, std::uint32_t top, std::uint32_t id)> remove;
};

const Table kTables[] = {
    {"names of a container", 0,
     [](CNameServer& s, std::uint32_t top, int i, CNameRefusal* why) {
       std::uint32_t id = 0;
       const HRESULT hr = s.AddName(id, top, Numbered(i), kOrdinaryName, false, false, why);
       EXPECT_TRUE(hr == S_OK || hr == E_FAIL) << StatusName(hr);
       return hr == S_OK ? id : 0u;
     },
     [](CNameServer& s, std::uint32_t top, std::uint32_t id) { EXPECT_EQ(s.DeleteName(top, id, false), S_OK); }},
    {"sub-containers of a parent", 0, [](CNameServer& s, std::uint32_t top, int, CNameRefusal* why) { return s.AddContainer(top, 0, why); },
     [](CNameServer& s, std::uint32_t, std::uint32_t id) { EXPECT_EQ(s.DeleteContainer(id, false), S_OK); }},
    {"top-level containers", 1, [](CNameServer& s, std::uint32_t, int, CNameRefusal* why) { return s.AddContainer(0, 0, why); },
     [](CNameServer& s, std::uint32_t, std::uint32_t id) { EXPECT_EQ(s.DeleteContainer(id, false), S_OK); }},
};

TEST(EntryLimits, EachTableStopsAtWhatASavedDocumentHolds) {
  for (const Table& t : kTables) {
    SCOPED_TRACE(t.what);
    CNameContainer::SetLastIssuedNameID(0);
    CNameServer server;
    const std::uint32_t top = server.AddContainer(0, kGlobalContainer);
    std::uint32_t last = 0;
    for (int i = t.heldBefore; i < kMaxEntriesPerTable; ++i) ASSERT_NE(last = t.add(server, top, i, nullptr), 0u) << i;
    ComPtr<IStorage> doc = CreateMemoryStorage();
    EXPECT_EQ(server.Save(doc.Get()), S_OK);  // a full table is still writable

    const std::uint32_t counter = CNameContainer::GetLastIssuedNameID();
    CNameRefusal why;
    EXPECT_EQ(t.add(server, top, kMaxEntriesPerTable, &why), 0u);
    EXPECT_EQ(why.reason, CNameRefusal::Reason::kFull);
    EXPECT_FALSE(server.IsDirty());
    EXPECT_EQ(CNameContainer::GetLastIssuedNameID(), counter);

    t.remove(server, top, last);
    EXPECT_NE(t.add(server, top, kMaxEntriesPerTable, &why), 0u);
    EXPECT_FALSE(why.refused());
  }
}

TEST_F(ServerTest, AFullContainerStillReportsTheEarlierChecksAndTheContainerItselfHasNoLimit) {
  const std::uint32_t top = server.AddContainer(0, kGlobalContainer);
  CNameContainer* c = server.GetContainer(top);
  for (int i = 0; i < kMaxEntriesPerTable; ++i) c->AddName(Numbered(i));
  std::uint32_t id = 77;
  CString proposal;
  EXPECT_EQ((Results{server.AddName(id, top, u"1x", 0, true), server.AddName(id, top, u"N5", 0, true),
                     server.AddName(id, top, u"Fresh", 0, true),
                     server.GetNextAcceptedName(top, u"Fresh", 0, 0, false, &proposal)}),
            (Results{E_NAME_INVALID, E_NAME_DUPLICATE, E_FAIL, E_FAIL}));
  EXPECT_EQ(id, 77u);

  c->AddName(u"Fresh");
  EXPECT_EQ(c->GetNumNameIDs(), kMaxEntriesPerTable + 1);
  ComPtr<IStream> record = CreateMemoryStream();
  EXPECT_EQ(c->Save(record.Get()), E_FAIL);
  EXPECT_TRUE(MemoryStreamBytes(record.Get()).empty());  // refused before writing
  // A document stops at the same record, its header written.
  ComPtr<IStorage> doc = CreateMemoryStorage();
  EXPECT_EQ(server.Save(doc.Get()), E_FAIL);
  ComPtr<IStream> stream;
  ASSERT_EQ(doc->OpenStream(u"NameServer", kOpenMode, stream.Put()), S_OK);
  EXPECT_EQ(MemoryStreamBytes(stream.Get()), (std::vector<std::uint8_t>{1, 0, 1, 0}));
}

TEST(EntryLimits, DocumentsBeyondALimitStillLoad) {
  CNameContainer::SetLastIssuedNameID(0);
  ComPtr<IStorage> doc = CreateMemoryStorage();
  {
    CNameServer half;
    for (int i = 0; i < 20000; ++i) half.AddContainer(0, 0);
    ASSERT_EQ(half.Save(doc.Get()), S_OK);
  }
  CNameServer server;
  EXPECT_EQ((Results{server.Load(doc.Get()), server.Load(doc.Get())}), (Results{S_OK, S_OK}));
  EXPECT_EQ(server.GetTopLevelContainerIDs().size(), 40000u);
  EXPECT_EQ(server.AddContainer(0, 0), 0u);
  EXPECT_NE(server.AddContainer(server.GetTopLevelContainerIDs().back(), 0), 0u);
  EXPECT_EQ(server.Save(doc.Get()), E_FAIL);
}


TEST(HighestID, CountsEveryKeyAndEveryStoredID) {
  const struct {
    const char* scene;
    // Builds on a server whose one top-level container has ID 1, with the
    // counter far below the IDs entered here.
    std::function<void(CNameServer&, CNameContainer& top)> build;
    std::uint32_t highest;
  } cases[] = {
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
  for (const auto& c : cases) {
    CNameContainer::SetLastIssuedNameID(0);
    CNameServer server;
    c.build(server, *server.GetContainer(server.AddContainer(0, 0)));
    EXPECT_EQ(server.GetHighestID(), c.highest) << c.scene;
  }
}

}  // namespace
}  // namespace nametree::test
