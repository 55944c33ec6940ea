// Building and dismantling the container tree through the server.
#include <stdexcept>

#include "server_fixture.h"

namespace nametree::test {
namespace {

using Registry = ServerTest;
using Ids = std::vector<std::uint32_t>;

TEST_F(Registry, ContainersDrawIdsFromTheSharedCounter) {
  Ids targets{99};
  EXPECT_EQ(server.GetTargetsContainerIDList(targets), S_OK);
  EXPECT_FALSE(server.IsDirty() || server.GetGlobalContainerID() || server.GetContainer(1));
  // Top level: one draw each; nested: the child's own draw (2) is discarded.
  EXPECT_EQ((Ids{server.AddContainer(0, 2), server.AddContainer(1, 3), server.AddContainer(0, 2),
                 server.AddContainer(0, 3)}),
            (Ids{1, 3, 4, 5}));
  EXPECT_TRUE(server.IsDirty());
  EXPECT_EQ(server.GetGlobalContainerID(), 1u);  // the first global one
  server.GetTargetsContainerIDList(targets);
  EXPECT_EQ(targets, (Ids{99, 5}));  // the nested type 3 is no target
  server.SetDirty(false);
  EXPECT_EQ(server.AddContainer(12345, 0), 0u);
  EXPECT_FALSE(server.IsDirty());
  EXPECT_EQ(CNameServer().Initialize(nullptr), E_FAIL);
}

TEST_F(Registry, DeletingContainers) {
  const std::uint32_t a = server.AddContainer(0, 2), b = server.AddContainer(0, 3), c = server.AddContainer(0, 0);
  const std::uint32_t sub = server.AddContainer(b, 4), subsub = server.AddContainer(sub, 0);
  server.SetDirty(false);
  EXPECT_EQ((Results{server.DeleteContainer(0, true), server.DeleteContainer(777, true)}), (Results{S_OK, S_OK}));
  EXPECT_FALSE(server.IsDirty());
  EXPECT_EQ((Results{server.DeleteContainer(sub, true), server.DeleteContainer(b, true)}), (Results{S_OK, S_OK}));
  EXPECT_TRUE(server.IsDirty());
  EXPECT_EQ(server.GetContainer(subsub), nullptr);
  EXPECT_EQ(server.GetTopLevelContainerIDs(), (Ids{a, c}));
  EXPECT_EQ(server.DeleteContainer(a, false), S_OK);
  EXPECT_EQ(posted, (std::vector<Posted>{{kContainerWasDeleted, sub, 0, u"", u""},
                                         {kContainerWasDeleted, b, 0, u"", u""}}));
}

// A host manager that throws from Post must neither undo nor abort a change.
struct ThrowingManager : CNotificationManager {
  HRESULT Post(const CNotification&) override { throw std::runtime_error("host failure"); }
};

TEST_F(Registry, AThrowingManagerDoesNotEscape) {
  ThrowingManager bad;
  ASSERT_EQ(server.Initialize(&bad), S_OK);
  const std::uint32_t c = server.AddContainer(0, 0);
  EXPECT_EQ(server.DeleteName(c, Put(c, u"Pump"), true), S_OK);
  EXPECT_EQ(server.GetNameSize(c), 0);
  EXPECT_EQ(server.DeleteContainer(c, true), S_OK);
  EXPECT_EQ(server.GetContainer(c), nullptr);
}

}  // namespace
}  // namespace nametree::test
