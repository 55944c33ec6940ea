// The server keeps every table within what a saved document can count, so
// that a host learns of the limit when it adds, not when it saves.
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
  // Adds one entry through the server: its ID, or 0 when refused.
  std::function<std::uint32_t(CNameServer&, std::uint32_t top, int i)> add;
  std::function<void(CNameServer&, std::uint32_t top, std::uint32_t id)> remove;
};

const Table kTables[] = {
    {"names of a container", 0,
     [](CNameServer& s, std::uint32_t top, int i) {
       std::uint32_t id = 0;
       const HRESULT hr = s.AddName(id, top, Numbered(i), kOrdinaryName, false);
       EXPECT_TRUE(hr == S_OK || hr == E_FAIL) << StatusName(hr);
       return hr == S_OK ? id : 0u;
     },
     [](CNameServer& s, std::uint32_t top, std::uint32_t id) { EXPECT_EQ(s.DeleteName(top, id, false), S_OK); }},
    {"sub-containers of a parent", 0, [](CNameServer& s, std::uint32_t top, int) { return s.AddContainer(top, 0); },
     [](CNameServer& s, std::uint32_t, std::uint32_t id) { EXPECT_EQ(s.DeleteContainer(id, false), S_OK); }},
    {"top-level containers", 1, [](CNameServer& s, std::uint32_t, int) { return s.AddContainer(0, 0); },
     [](CNameServer& s, std::uint32_t, std::uint32_t id) { EXPECT_EQ(s.DeleteContainer(id, false), S_OK); }},
};

TEST(EntryLimits, EachTableStopsAtWhatASavedDocumentHolds) {
  for (const Table& t : kTables) {
    SCOPED_TRACE(t.what);
    CNameContainer::SetLastIssuedNameID(0);
    CNameServer server;
    const std::uint32_t top = server.AddContainer(0, kGlobalContainer);
    std::uint32_t last = 0;
    for (int i = t.heldBefore; i < kMaxEntriesPerTable; ++i) ASSERT_NE(last = t.add(server, top, i), 0u) << i;
    ComPtr<IStorage> doc = CreateMemoryStorage();
    EXPECT_EQ(server.Save(doc.Get()), S_OK);  // a full table is still writable

    const std::uint32_t counter = CNameContainer::GetLastIssuedNameID();
    EXPECT_EQ(t.add(server, top, kMaxEntriesPerTable), 0u);
    EXPECT_FALSE(server.IsDirty());
    EXPECT_EQ(CNameContainer::GetLastIssuedNameID(), counter);

    t.remove(server, top, last);
    EXPECT_NE(t.add(server, top, kMaxEntriesPerTable), 0u);
  }
}

TEST_F(ServerTest, AFullContainerStillReportsTheEarlierChecksAndTheContainerItselfHasNoLimit) {
  const std::uint32_t top = server.AddContainer(0, kGlobalContainer);
  CNameContainer* c = server.GetContainer(top);
  for (int i = 0; i < kMaxEntriesPerTable; ++i) c->AddName(Numbered(i));
  std::uint32_t id = 77;
  EXPECT_EQ((Results{server.AddName(id, top, u"1x", 0, true), server.AddName(id, top, u"N5", 0, true),
                     server.AddName(id, top, u"Fresh", 0, true)}),
            (Results{E_NAME_INVALID, E_NAME_DUPLICATE, E_FAIL}));
  EXPECT_EQ(id, 77u);

  c->AddName(u"Fresh");
  EXPECT_EQ(c->GetNumNameIDs(), kMaxEntriesPerTable + 1);
  ComPtr<IStorage> doc = CreateMemoryStorage();
  server.SetDirty(true);
  EXPECT_EQ(server.Save(doc.Get()), E_FAIL);
  EXPECT_TRUE(server.IsDirty());
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

}  // namespace
}  // namespace nametree::test
