// GetContainer answers from an index; it must name exactly the container
// that a walk of the tree finds first, also when IDs repeat.
#include <memory>
#include <random>

#include "nametree/memory_storage.h"
#include "server_fixture.h"

namespace nametree {

using Walk = CNameServerTestAccess;

namespace test {
namespace {

class ContainerIndex : public ::testing::Test {
 protected:
  void SetUp() override { CNameContainer::SetLastIssuedNameID(0); }
};

void ExpectAgreement(const CNameServer& s, std::uint32_t upTo, const std::string& where) {
  for (std::uint32_t id = 0; id <= upTo; ++id)
    ASSERT_EQ(s.GetContainer(id), Walk::WalkFind(s, id)) << where << ", ID " << id;
}

std::unique_ptr<CNameServer> Reloaded(CNameServer& s) {
  ComPtr<IStorage> st = CreateMemoryStorage();
  EXPECT_EQ(s.Save(st.Get()), S_OK);
  auto fresh = std::make_unique<CNameServer>();
  EXPECT_EQ(fresh->Load(st.Get()), S_OK);
  return fresh;
}

TEST_F(ContainerIndex, AgreesWithTheWalkThroughRandomEdits) {
  for (unsigned seed = 1; seed <= 6; ++seed) {
    std::mt19937 rng(seed);
    auto server = std::make_unique<CNameServer>();
    std::vector<std::uint32_t> ids{0};
    for (int step = 0; step < 160; ++step) {
      const std::uint32_t pick = ids[rng() % ids.size()];
      switch (rng() % 10) {
        case 0:
          // From here on new containers reuse IDs already in the tree.
          CNameContainer::SetLastIssuedNameID(rng() % 40);
          break;
        case 1:
          server->DeleteContainer(pick, false);
          break;
        case 2:
          server = Reloaded(*server);
          break;
        default:
          if (std::uint32_t id = server->AddContainer(rng() % 3 ? pick : 0, static_cast<std::int16_t>(rng() % 5)))
            ids.push_back(id);
      }
      const std::uint32_t top = *std::max_element(ids.begin(), ids.end()) + 2;
      ExpectAgreement(*server, step % 20 == 19 ? top : std::min<std::uint32_t>(top, 48),
                      "seed " + std::to_string(seed) + " step " + std::to_string(step));
      if (HasFatalFailure()) return;
    }
  }
}

TEST_F(ContainerIndex, RepeatedIDsResolveToTheFirstInWalkOrder) {
  CNameServer server;
  const std::uint32_t a = server.AddContainer(0, kTargetContainer);     // 1
  const std::uint32_t aChild = server.AddContainer(a, 0);              // 3 (two IDs drawn)
  CNameContainer::SetLastIssuedNameID(aChild - 1);
  const std::uint32_t b = server.AddContainer(0, kGlobalContainer);    // 3 again, at the top
  ASSERT_EQ(b, aChild);
  EXPECT_EQ(server.GetContainer(b)->GetParentID(), a) << "the subtree of the first top-level entry comes first";
  EXPECT_EQ(server.GetContainer(b), Walk::WalkFind(server, b));
  // Deleting the first one makes the second the answer.
  ASSERT_EQ(server.DeleteContainer(aChild, false), S_OK);
  ASSERT_NE(server.GetContainer(b), nullptr);
  EXPECT_EQ(server.GetContainer(b)->GetContainerType(), kGlobalContainer);
  ExpectAgreement(server, 8, "after delete");
}

TEST_F(ContainerIndex, ContainersChangedBehindTheServerAreSeen) {
  CNameServer server;
  const std::uint32_t top = server.AddContainer(0, kTargetContainer);
  ASSERT_NE(server.GetContainer(top), nullptr);
  // Editing a container's own tree directly must not leave the index stale.
  const std::uint32_t sub = server.GetContainer(top)->AddContainer(0);
  EXPECT_EQ(server.GetContainer(sub), Walk::WalkFind(server, sub));
  ASSERT_EQ(server.GetContainer(top)->DeleteContainer(sub), S_OK);
  EXPECT_EQ(server.GetContainer(sub), nullptr);
}

}  // namespace
}  // namespace test
}  // namespace nametree
