// A document file through the host's door: open, edit, commit. Damage
// to "NameServer" is an error every time and never saved over; a commit
// leaves no deleted text behind; reserved words and labels persist beside
// the name server and never touch it.
#include <algorithm>

#include "cfb_fixture.h"
#include "nametree/document.h"
#include "nametree/memory_storage.h"

namespace nametree::test {
namespace {

// A document with a global container holding Pump1..Pump60.
std::string MakeDocument(const TempDir& dir) {
  const std::string path = dir.File("doc.nt");
  auto doc = Document::Open(path, {.create = true});
  EXPECT_TRUE(doc) << doc.error().message();
  const std::uint32_t global = doc->AddContainer(0, ContainerType::kGlobal).value_or(0);
  std::vector<std::string> pumps;
  for (int i = 1; i <= 60; ++i) pumps.push_back("Pump" + std::to_string(i));
  EXPECT_TRUE(doc->AddMany(global, pumps));
  EXPECT_TRUE(doc->Commit());
  return path;
}

bool Holds(const Bytes& file, std::u16string_view text) {
  Bytes wide;
  for (char16_t c : text) wide.insert(wide.end(), {static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(c >> 8)});
  return std::search(file.begin(), file.end(), wide.begin(), wide.end()) != file.end();
}

Result<Document> Open(const std::string& path, bool readOnly, bool force) {
  return Document::Open(path, {.readOnly = readOnly, .wait = std::chrono::milliseconds(0), .force = force});
}

TEST(DocumentSequence, DamagedNameServerIsAnErrorForEveryOpenAndIsNeverReplaced) {
  TempDir dir;
  Surgeon s(ReadBytes(MakeDocument(dir)));
  const std::size_t entry = s.EntryOffset(s.Id(u"NameServer"));
  const std::pair<std::size_t, std::uint32_t> damage[] = {
      {entry + 116, 0x00FFFFFF},                                  // a chain out of the file
      {entry + 120, 0x7FFFFFF0},                                  // a size the chain cannot hold
      {s.MiniFatOffset(s.Entry(u"NameServer").start), 0xFFFFFFFC},  // a broken mini table
  };
  for (const auto& [at, value] : damage) {
    Bytes file = s.file;
    cfb::Put32(&file[at], value);
    const std::string path = dir.File("damaged.nt");
    WriteBytes(path, file);
    for (const auto& [readOnly, force] : {std::pair{true, false}, {false, false}, {false, true}}) {
      auto doc = Open(path, readOnly, force);
      ASSERT_FALSE(doc);
      EXPECT_EQ(doc.error().kind(), ErrorKind::kDamaged) << doc.error().message();
      EXPECT_NE(doc.error().message().find("\"NameServer\" stream is damaged"), std::string::npos)
          << doc.error().message();
    }
    EXPECT_EQ(ReadBytes(path), file);
  }
  const std::pair<std::string, ErrorKind> others[] = {
      {dir.File("absent.nt"), ErrorKind::kNotFound}, {dir.File("garbage.nt"), ErrorKind::kNotADocument}};
  WriteBytes(dir.File("garbage.nt"), Bytes(3000, 'x'));
  for (const auto& [path, kind] : others) {
    auto doc = Open(path, true, false);
    ASSERT_FALSE(doc);
    EXPECT_EQ(ErrorKindName(doc.error().kind()), ErrorKindName(kind)) << doc.error().message();
  }
}

TEST(DocumentSequence, CommitsLeaveNoDeletedTextAndKeepSettingsBesideTheServer) {
  TempDir dir;
  const std::string path = MakeDocument(dir);
  {
    auto doc = Open(path, false, false);
    ASSERT_TRUE(doc) << doc.error().message();
    EXPECT_EQ(Open(path, false, false).error().kind(), ErrorKind::kLocked);
    for (int i = 2; i <= 60; ++i) EXPECT_TRUE(doc->Delete(doc->Find("Pump" + std::to_string(i))->at(0).id));
    ASSERT_TRUE(doc->SetKeywords({u"BEGIN", u"END"}));
    const std::uint32_t global = doc->Server().GetGlobalContainerID();
    const std::pair<std::string, ErrorKind> labels[] = {
        {"Plant", ErrorKind::kFailed}, {"1st", ErrorKind::kInvalidName}, {"plant", ErrorKind::kFailed}};
    for (const auto& [label, kind] : labels) {
      const Result<void> set = doc->SetLabel(global, label);
      EXPECT_EQ(set ? ErrorKind::kFailed : set.error().kind(), kind) << label;
    }
    EXPECT_EQ(doc->SetLabel(global + 999, "Other").error().kind(), ErrorKind::kNotFound);
    ASSERT_TRUE(doc->Commit());
  }
  const Bytes file = ReadBytes(path);
  EXPECT_TRUE(Holds(file, u"Pump1"));
  EXPECT_FALSE(Holds(file, u"Pump59"));
  {
    auto doc = Open(path, false, false);
    ASSERT_TRUE(doc) << doc.error().message();
    ComPtr<IStorage> fresh = CreateMemoryStorage();
    ASSERT_EQ(doc->Server().Save(fresh.Get()), S_OK);
    EXPECT_EQ(Parse(file).at("NameServer"), Snapshot(fresh.Get()).at("NameServer")) << "no stale tail";
    EXPECT_EQ(doc->Keywords(), (std::vector<std::string>{"BEGIN", "END"}));
    EXPECT_TRUE(doc->Server().IsKeyword(u"begin"));
    const std::uint32_t global = doc->Server().GetGlobalContainerID();
    EXPECT_EQ(doc->FindLabel("PLANT").value_or(0), global);
    EXPECT_EQ(doc->Label(global), "plant");
    const std::uint32_t other = *doc->AddContainer(0, ContainerType::kTarget);
    EXPECT_EQ(doc->SetLabel(other, "PLANT").error().kind(), ErrorKind::kDuplicate);
    ASSERT_TRUE(doc->DeleteContainer(global));
    EXPECT_EQ(doc->FindLabel("plant").error().kind(), ErrorKind::kNotFound);
    EXPECT_TRUE(doc->Labels().empty()) << "a deleted container's label is listed no more";
    ASSERT_TRUE(doc->Commit());
  }
  EXPECT_FALSE(Holds(ReadBytes(path), u"plant"));
}

TEST(DocumentSequence, MalformedSettingsRefuseTheCommitUnlessForced) {
  TempDir dir;
  const std::string path = MakeDocument(dir);
  Tree tree = Parse(ReadBytes(path));
  tree["NametreeLabels"] = Bytes{1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x7F};
  WriteBytes(path, Serialize(tree));
  for (bool force : {false, true}) {
    auto doc = Open(path, false, force);
    ASSERT_TRUE(doc) << doc.error().message();
    EXPECT_EQ(doc->Warnings(), std::vector<std::string>{"NametreeLabels: its contents are malformed"});
    const Result<void> done = doc->Commit();
    EXPECT_EQ(done ? ErrorKind::kFailed : done.error().kind(), force ? ErrorKind::kFailed : ErrorKind::kDamaged);
    EXPECT_EQ(static_cast<bool>(done), force);
  }
  EXPECT_EQ(Parse(ReadBytes(path)).at("NametreeLabels"), (Bytes{1, 0, 0, 0, 0, 0, 0, 0}));
}

}  // namespace
}  // namespace nametree::test
