// A document file through its public sequence: open, edit, commit. Damage
// to "NameServer" is an error every time and never saved over; a commit
// leaves no deleted text behind; reserved words and labels persist beside
// the name server and never touch it.
#include <algorithm>

#include "cfb_fixture.h"
#include "nametree/document_file.h"
#include "nametree/memory_storage.h"
#include "nametree/utf8.h"

namespace nametree::test {
namespace {

// A document with a global container holding Pump1..Pump60.
std::string MakeDocument(const TempDir& dir) {
  const std::string path = dir.File("doc.nt");
  DocumentFileOptions create;
  create.create = true;
  FileError error;
  auto doc = DocumentFile::Open(path, create, &error);
  EXPECT_TRUE(doc) << error.message;
  const std::uint32_t global = doc->Server().AddContainer(0, kGlobalContainer);
  for (int i = 1; i <= 60; ++i) {
    std::uint32_t id = 0;
    doc->Server().AddName(id, global, u"Pump" + FromUtf8(std::to_string(i)), kOrdinaryName, true, false);
  }
  EXPECT_TRUE(doc->Commit(&error)) << error.message;
  return path;
}

bool Holds(const Bytes& file, std::u16string_view text) {
  Bytes wide;
  for (char16_t c : text) wide.insert(wide.end(), {static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(c >> 8)});
  return std::search(file.begin(), file.end(), wide.begin(), wide.end()) != file.end();
}

std::unique_ptr<DocumentFile> Open(const std::string& path, bool readOnly, bool force, FileError* error) {
  DocumentFileOptions options;
  options.readOnly = readOnly;
  options.force = force;
  options.lockWaitMilliseconds = 0;
  return DocumentFile::Open(path, options, error);
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
      FileError error;
      EXPECT_FALSE(Open(path, readOnly, force, &error));
      EXPECT_EQ(error.kind, FileErrorKind::kDamaged) << error.message;
      EXPECT_NE(error.message.find("\"NameServer\" stream is damaged"), std::string::npos) << error.message;
    }
    EXPECT_EQ(ReadBytes(path), file);
  }
  const std::pair<std::string, FileErrorKind> others[] = {
      {dir.File("absent.nt"), FileErrorKind::kNotFound}, {dir.File("garbage.nt"), FileErrorKind::kNotADocument}};
  WriteBytes(dir.File("garbage.nt"), Bytes(3000, 'x'));
  for (const auto& [path, kind] : others) {
    FileError error;
    EXPECT_FALSE(Open(path, true, false, &error));
    EXPECT_EQ(FileErrorKindName(error.kind), FileErrorKindName(kind)) << error.message;
  }
}

TEST(DocumentSequence, CommitsLeaveNoDeletedTextAndKeepSettingsBesideTheServer) {
  TempDir dir;
  const std::string path = MakeDocument(dir);
  FileError error;
  {
    auto doc = Open(path, false, false, &error);
    ASSERT_TRUE(doc) << error.message;
    FileError second;
    EXPECT_FALSE(Open(path, false, false, &second));
    EXPECT_EQ(second.kind, FileErrorKind::kLocked) << second.message;
    const std::uint32_t global = doc->Server().GetGlobalContainerID();
    for (int i = 2; i <= 60; ++i)
      EXPECT_EQ(doc->Server().DeleteName(global, doc->Server().GetID(global, u"Pump" + FromUtf8(std::to_string(i))), false), S_OK);
    doc->SetStoredKeywords({u"BEGIN", u"END"});
    const std::pair<std::u16string, FileErrorKind> labels[] = {
        {u"Plant", FileErrorKind::kNone}, {u"1st", FileErrorKind::kRefused}, {u"plant", FileErrorKind::kNone}};
    for (const auto& [label, kind] : labels) EXPECT_EQ(doc->SetLabel(global, label).kind, kind);
    EXPECT_EQ(doc->SetLabel(global + 999, u"Other").kind, FileErrorKind::kRefused);
    ASSERT_TRUE(doc->Commit(&error)) << error.message;
  }
  const Bytes file = ReadBytes(path);
  EXPECT_TRUE(Holds(file, u"Pump1"));
  EXPECT_FALSE(Holds(file, u"Pump59"));
  auto doc = Open(path, false, false, &error);
  ASSERT_TRUE(doc) << error.message;
  ComPtr<IStorage> fresh = CreateMemoryStorage();
  ASSERT_EQ(doc->Server().Save(fresh.Get()), S_OK);
  EXPECT_EQ(Parse(file).at("NameServer"), Snapshot(fresh.Get()).at("NameServer")) << "no stale tail";
  EXPECT_EQ(doc->StoredKeywords(), (std::vector<CString>{u"BEGIN", u"END"}));
  EXPECT_TRUE(doc->Server().IsKeyword(u"begin"));
  const std::uint32_t global = doc->Server().GetGlobalContainerID();
  EXPECT_EQ(doc->FindLabel(u"PLANT"), std::optional<std::uint32_t>(global));
  ASSERT_NE(doc->LabelOf(global), nullptr);
  EXPECT_EQ(*doc->LabelOf(global), u"plant");
  const std::uint32_t other = doc->Server().AddContainer(0, kTargetContainer);
  EXPECT_EQ(doc->SetLabel(other, u"PLANT").kind, FileErrorKind::kRefused);
  doc->Server().DeleteContainer(global, false);
  EXPECT_EQ(doc->FindLabel(u"plant"), std::nullopt);
  EXPECT_TRUE(doc->Labels().empty()) << "a deleted container's label is listed no more";
  ASSERT_TRUE(doc->Commit(&error)) << error.message;
  doc.reset();
  EXPECT_FALSE(Holds(ReadBytes(path), u"plant"));
}

TEST(DocumentSequence, MalformedSettingsRefuseTheCommitUnlessForced) {
  TempDir dir;
  const std::string path = MakeDocument(dir);
  Tree tree = Parse(ReadBytes(path));
  tree["NametreeLabels"] = Bytes{1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x7F};
  WriteBytes(path, Serialize(tree));
  for (bool force : {false, true}) {
    FileError error;
    auto doc = Open(path, false, force, &error);
    ASSERT_TRUE(doc) << error.message;
    EXPECT_EQ(doc->Warnings(), std::vector<std::string>{"NametreeLabels: its contents are malformed"});
    EXPECT_EQ(doc->Commit(&error), force) << error.message;
    EXPECT_EQ(error.kind, force ? FileErrorKind::kNone : FileErrorKind::kDamaged);
  }
  EXPECT_EQ(Parse(ReadBytes(path)).at("NametreeLabels"), (Bytes{1, 0, 0, 0, 0, 0, 0, 0}));
}

}  // namespace
}  // namespace nametree::test
