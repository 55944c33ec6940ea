// Edits through the server where the model does not go: at the end of the
// ID counter, and with no notification manager or one that throws.
#include <stdexcept>

#include "server_fixture.h"

namespace nametree::test {
namespace {

using Registry = ServerTest;

// Near the counter's end an edit that needs more IDs than are left is
// refused and changes nothing; the last ID itself is still handed out.
TEST_F(Registry, IdsNeverWrap) {
  const std::uint32_t top = server.AddContainer(0, 0);
  struct Case {
    std::uint32_t last;
    char what;  // n: AddName, c: nested AddContainer, t: top-level AddContainer
    std::uint32_t id;  // 0: refused
  };
  for (const Case& k : {Case{0xFFFFFFFDu, 'c', 0xFFFFFFFFu}, Case{0xFFFFFFFEu, 'c', 0}, Case{0xFFFFFFFFu, 'c', 0},
                        Case{0xFFFFFFFEu, 'n', 0xFFFFFFFFu}, Case{0xFFFFFFFFu, 'n', 0},
                        Case{0xFFFFFFFEu, 't', 0xFFFFFFFFu}, Case{0xFFFFFFFFu, 't', 0}}) {
    CNameContainer::SetLastIssuedNameID(k.last);
    EXPECT_EQ(CNameContainer::GetRemainingNameIDs(), 0xFFFFFFFFu - k.last);
    server.SetDirty(false);
    const std::size_t before = server.GetTopLevelContainerIDs().size();
    const int subs = server.GetContainer(top)->GetNumSubContainers(), names = server.GetNameSize(top);
    std::uint32_t id = 0;
    HRESULT hr = S_OK;
    CNameRefusal why;
    if (k.what == 'n')
      hr = server.AddName(id, top, CString(u"Pump") + static_cast<char16_t>(u'A' + k.last % 26), 0, true, false, &why);
    if (k.what == 'c') id = server.AddContainer(top, 0, &why);
    if (k.what == 't') id = server.AddContainer(0, 0, &why);
    SCOPED_TRACE(testing::Message() << k.what << " " << k.last);
    EXPECT_EQ(hr, k.id || k.what != 'n' ? S_OK : E_FAIL);
    EXPECT_EQ(id, k.id);
    EXPECT_EQ(why.reason, k.id ? CNameRefusal::Reason::kNone : CNameRefusal::Reason::kOutOfIds);
    EXPECT_EQ(server.IsDirty(), k.id != 0);
    EXPECT_EQ(CNameContainer::GetLastIssuedNameID(), k.id ? 0xFFFFFFFFu : k.last);
    EXPECT_EQ(server.GetTopLevelContainerIDs().size() + server.GetContainer(top)->GetNumSubContainers() +
                  server.GetNameSize(top),
              before + subs + names + (k.id ? 1 : 0));
  }
  CNameRefusal why;
  EXPECT_EQ(server.DeleteName(top, 0, true, &why), E_FAIL);
  EXPECT_EQ(why.reason, CNameRefusal::Reason::kNoName);
  // The container's own entries refuse alike.
  CNameContainer c;
  CNameContainer::SetLastIssuedNameID(0xFFFFFFFFu);
  EXPECT_EQ((Ids{c.AddName(u"A"), c.AddContainer(0)}), (Ids{0, 0}));
  EXPECT_EQ(c.GetNumNames() + c.GetNumSubContainers(), 0);
}

// A host manager that throws from Post must neither undo nor abort a change.
struct ThrowingManager : CNotificationManager {
  HRESULT Post(const CNotification&) override { throw std::runtime_error("host failure"); }
};

TEST(EditingWithoutManager, ChangesStandWithNoManagerOrAThrowingOne) {
  CNameContainer::SetLastIssuedNameID(0);
  EXPECT_EQ(CNameServer().Initialize(nullptr), E_FAIL);
  ThrowingManager bad;
  for (CNotificationManager* manager : std::initializer_list<CNotificationManager*>{nullptr, &bad}) {
    CNameServer server;
    if (manager) {
      ASSERT_EQ(server.Initialize(manager), S_OK);
    }
    const std::uint32_t c = server.AddContainer(0, 0), sub = server.AddContainer(c, 0);
    std::uint32_t id = 0;  // the list is evaluated in order: id is set before the rename
    EXPECT_EQ((Results{server.AddName(id, c, u"Pump", 0, true), server.Rename(c, id, u"Motor", 0, true, false),
                       server.DeleteName(c, id, true), server.DeleteContainer(sub, true)}),
              (Results{S_OK, S_OK, S_OK, S_OK}));
    EXPECT_TRUE(server.GetNameSize(c) == 0 && !server.GetContainer(sub) && server.IsDirty());
    EXPECT_EQ(server.DeleteContainer(c, true), S_OK);
    EXPECT_EQ(server.GetContainer(c), nullptr);
  }
}

}  // namespace
}  // namespace nametree::test
