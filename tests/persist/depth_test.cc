// A tree far deeper than any call stack allows to recurse is a valid
// document: on a thread with a small stack it loads, answers every search,
// takes edits at the bottom, saves byte for byte and is freed.
#include <gtest/gtest.h>

#include "nametree/memory_storage.h"
#include "support/deep_stream.h"

namespace nametree::test {
namespace {

constexpr std::uint32_t kDepth = 20000;
constexpr std::uint32_t kBottom = 2 * (kDepth - 1) + 1;
constexpr std::uint32_t kBottomName = kBottom + 1;

void DeepDocument(void*) {
  const std::vector<std::uint8_t> bytes = NestedStream(kDepth, 4, 1);
  CNameContainer::SetLastIssuedNameID(0);
  auto server = std::make_unique<CNameServer>();
  ASSERT_EQ(server->Load(StorageWith(bytes).Get()), S_OK);
  EXPECT_EQ(server->CheckInvariants(), "");
  CNameContainer* top = server->GetContainer(1);
  CNameContainer* bottom = server->GetContainer(kBottom);
  ASSERT_TRUE(top && bottom);
  std::uint32_t levels = 0, id = 0;
  for (CNameContainer* c = bottom; c->GetParent(); c = c->GetParent()) ++levels;
  EXPECT_EQ(levels, kDepth - 1);
  EXPECT_EQ(bottom->FindRootContainer(), top);
  // The container's own searches, each to the bottom.
  CString text;
  EXPECT_EQ(top->FindContainer(kBottom), bottom);
  EXPECT_EQ(top->FindContainerOfName(kBottomName), bottom);
  EXPECT_EQ(top->FindNameByIDForAllContainers(kBottomName, &text), S_OK);
  EXPECT_EQ(text, u"N19999_0");
  EXPECT_EQ(top->FindName(u"n19999_0", true, &id), S_OK);
  EXPECT_EQ(id, kBottomName);
  EXPECT_TRUE(server->FindName(1, u"N19999_0", true));
  EXPECT_GE(top->GetHighestID(), kBottomName);
  std::size_t steps = 0, widest = 0;
  server->TraceDumpNameServer([&](const CString& indent, bool, std::uint32_t, std::int16_t, const CString&) {
    ++steps;
    widest = std::max(widest, indent.size());
  });
  EXPECT_EQ(steps, 2 * kDepth);
  EXPECT_EQ(widest, 2 * kDepth);
  ComPtr<IStorage> copy = CreateMemoryStorage();
  ASSERT_EQ(server->Save(copy.Get()), S_OK);
  EXPECT_EQ(StreamBytes(copy.Get()), bytes);
  // Edits at the bottom: a checked name, a deeper container, then the
  // subtree below the top goes.
  EXPECT_EQ(server->AddName(id, kBottom, u"Pump", 0, true), S_OK);
  EXPECT_TRUE(server->IsDuplicateName(kBottom, u"PUMP", false));
  const std::uint32_t deeper = server->AddContainer(kBottom, 0);
  EXPECT_EQ(server->GetContainer(deeper)->GetParent(), bottom);
  EXPECT_EQ(server->CheckInvariants(), "");
  EXPECT_EQ(server->DeleteContainer(3, true), S_OK);
  EXPECT_EQ(server->GetContainer(kBottom), nullptr);
  EXPECT_EQ(server->CheckInvariants(), "");
  // A tree of no server is read and freed alike.
  auto alone = std::make_unique<CNameContainer>(true);
  ComPtr<IStream> record = CreateMemoryStream(std::vector<std::uint8_t>(bytes.begin() + 4, bytes.end() - 4));
  EXPECT_EQ(alone->Load(record.Get()), S_OK);
  EXPECT_EQ(alone->FindContainerOfName(kBottomName)->GetID(), kBottom);
  alone.reset();
  ASSERT_EQ(server->Load(copy.Get()), S_OK);
  server.reset();
}

TEST(Depth, ADeepTreeWorksOnASmallStack) { EXPECT_TRUE(RunWithStack(1 << 20, &DeepDocument, nullptr)); }

}  // namespace
}  // namespace nametree::test
