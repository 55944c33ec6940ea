// The modern face under hostile use: texts a document cannot keep, a
// Document used after a move, and the shared ID counter near its end.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "nametree/cfb_storage.h"
#include "nametree/document.h"
#include "support/scratch.h"

namespace nametree {
namespace {

using Kind = ErrorKind;

TEST(DocumentHostile, NulIsRefusedInEveryKindAndEveryCall) {
  Document doc = Document::InMemory();
  const std::uint32_t area = *doc.AddContainer(0, ContainerType::kGlobal);
  const std::uint32_t keep = *doc.Add(area, "Keep");
  const std::string evil("Keep\0Evil", 9);
  for (std::uint32_t kind : {0u, 1u, 5u}) {
    SCOPED_TRACE(kind);
    auto added = doc.Add(area, evil, kind);
    ASSERT_FALSE(added);
    EXPECT_EQ(added.error().kind(), Kind::kInvalidName);
    EXPECT_NE(added.error().message().find("U+0000 at position 5"), std::string::npos) << added.error().message();
    EXPECT_FALSE(doc.Add(area, std::u16string(u"\0", 1), kind));
    EXPECT_FALSE(doc.AddMany(area, std::vector<std::string>{"Fine", evil}, kind));
    EXPECT_EQ(doc.Rename(keep, evil, kind).error().kind(), Kind::kInvalidName);
  }
  EXPECT_FALSE(doc.Check(area, evil));
  EXPECT_FALSE(doc.NextName(area, evil));
  EXPECT_EQ(doc.Server().GetContainer(area)->GetNumNames(), 1);
}

TEST(DocumentHostile, AMovedFromDocumentAnswersEveryCallWithAnError) {
  Document doc = Document::InMemory();
  const std::uint32_t area = *doc.AddContainer(0, ContainerType::kGlobal);
  const std::uint32_t pump = *doc.Add(area, "Pump");
  Document taken = std::move(doc);
  auto moved = [](const Error& e) { return e.message() == "document moved from"; };
  EXPECT_TRUE(moved(doc.Add(area, "Other").error()));
  EXPECT_TRUE(moved(doc.AddContainer(0).error()));
  EXPECT_TRUE(moved(doc.AddMany(area, std::vector<std::string>{"A"}).error()));
  EXPECT_TRUE(moved(doc.Rename(pump, "Other").error()));
  EXPECT_TRUE(moved(doc.Delete(pump).error()));
  EXPECT_TRUE(moved(doc.DeleteContainer(area).error()));
  EXPECT_TRUE(moved(doc.NextName(area, "Pump").error()));
  EXPECT_TRUE(moved(doc.Check(area, "Pump").error()));
  EXPECT_TRUE(moved(doc.Find("Pump").error()));
  EXPECT_TRUE(moved(doc.Commit().error()));
  EXPECT_EQ(doc.Lint().size(), 1u);
  EXPECT_EQ(doc.Warnings(), std::vector<std::string>{"document moved from"});
  EXPECT_TRUE(doc.IsReadOnly());
  EXPECT_FALSE(doc.IsDirty());
  EXPECT_TRUE(doc.Containers().begin() == TreeWalk::iterator());
  EXPECT_EQ(doc.Server().GetTopLevelContainerIDs().size(), 0u);
  // The document it went to is whole, and one assigned over keeps working.
  EXPECT_TRUE(taken.Find("Pump"));
  Document again = Document::InMemory();
  again = std::move(taken);
  EXPECT_TRUE(again.Add(area, "Other"));
  EXPECT_TRUE(moved(taken.Add(area, "Third").error()));
  doc = Document::InMemory();
  EXPECT_TRUE(doc.AddContainer(0));
}

TEST(DocumentHostile, OpeningNeverMovesTheCounterAgainstAnotherDocument) {
  test::TempDir dir;
  const std::string path = dir.File("near-end.nt");
  {
    // A document holding IDs 1 and 2 whose stored last issued ID is 0xFFFFFFFE.
    ComPtr<IStorage> root;
    std::string error;
    ASSERT_TRUE(CreateCompoundFile(path, &root, &error)) << error;
    CNameServer server;
    CNameContainer::SetLastIssuedNameID(0);
    const std::uint32_t c = server.AddContainer(0, kGlobalContainer);
    std::uint32_t id = 0;
    ASSERT_EQ(server.AddName(id, c, u"Far", 0, true), S_OK);
    CNameContainer::SetLastIssuedNameID(0xFFFFFFFEu);
    ASSERT_EQ(server.Save(root.Get()), S_OK);
    ASSERT_TRUE(CommitCompoundFile(root.Get(), &error)) << error;
  }
  // A reader leaves the counter as it was, and refuses edits of its own.
  CNameContainer::SetLastIssuedNameID(0);
  {
    auto reader = Document::Open(path, {.readOnly = true});
    ASSERT_TRUE(reader) << reader.error().message();
    EXPECT_EQ(CNameContainer::GetLastIssuedNameID(), 0u);
    EXPECT_TRUE(reader->Lint().empty());
    auto near = reader->Add(1, "Near");
    ASSERT_FALSE(near);
    EXPECT_EQ(near.error().kind(), Kind::kReadOnly);
    EXPECT_EQ(CNameContainer::GetLastIssuedNameID(), 0u);
    EXPECT_EQ(reader->Find("Far")->size(), 1u);
  }
  CNameContainer::SetLastIssuedNameID(100);
  Document busy = Document::InMemory();
  const std::uint32_t area = *busy.AddContainer(0);
  ASSERT_TRUE(Document::Open(path, {.readOnly = true}));
  EXPECT_EQ(*busy.Add(area, "Busy"), 102u);

  auto writer = Document::Open(path);
  ASSERT_TRUE(writer) << writer.error().message();
  EXPECT_EQ(CNameContainer::GetLastIssuedNameID(), 0xFFFFFFFEu);
  auto last = busy.Add(area, "Last");
  ASSERT_TRUE(last);
  auto none = busy.Add(area, "None");
  ASSERT_FALSE(none);
  EXPECT_EQ(none.error().kind(), Kind::kOutOfIds);
  EXPECT_NE(none.error().message().find("has been issued in this process"), std::string::npos);
  EXPECT_EQ(busy.AddContainer(area).error().kind(), Kind::kOutOfIds);
  CNameContainer::SetLastIssuedNameID(200);
}

}  // namespace
}  // namespace nametree
