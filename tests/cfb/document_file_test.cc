// The library on real document files: saving and loading a name server
// and importing a legacy document through a compound file, and a commit
// that the file system fails at any step leaving the earlier file whole.
#include "cfb_fixture.h"
#include "nametree/cfb_storage.h"
#include "nametree/legacy_storage.h"
#include "nametree/memory_storage.h"
#include "nametree/name_server.h"

namespace nametree::test {
namespace {

Bytes StreamBytes(IStorage* storage, const CString& name) {
  ComPtr<IStream> s;
  if (Failed(storage->OpenStream(name, kOpenMode, s.Put()))) return {};
  Bytes out, chunk(1 << 16);
  std::uint32_t got = 0;
  HRESULT hr = S_OK;
  while (hr == S_OK) {
    hr = s->Read(chunk.data(), static_cast<std::uint32_t>(chunk.size()), &got);
    out.insert(out.end(), chunk.begin(), chunk.begin() + got);
  }
  return out;
}

CString Ascii(const std::string& text) { return CString(text.begin(), text.end()); }

// A plant of `names` names over a global tree and a few targets.
void BuildPlant(CNameServer& server, int names) {
  const std::uint32_t global = server.AddContainer(0, kGlobalContainer);
  std::vector<std::uint32_t> where{global};
  for (int i = 0; i < 40; ++i)
    where.push_back(server.AddContainer(where[static_cast<std::size_t>(i) / 3], i % 2 ? 3 : 0));
  for (int t = 0; t < 3; ++t) where.push_back(server.AddContainer(0, kTargetContainer));
  for (int i = 0; i < names; ++i) {
    const std::uint32_t c = where[static_cast<std::size_t>(i) % where.size()];
    server.GetContainer(c)->AddName(u"Tag\u00e9" + CString(1, static_cast<char16_t>(u'A' + i % 26)) + u"_" +
                                    Ascii(std::to_string(i)));
  }
}

TEST(DocumentFile, ServerSavesAndLoadsThroughAFile) {
  TempDir dir;
  const std::string path = dir.File("plant.nt");
  CNameContainer::SetLastIssuedNameID(0);
  CNameServer server;
  BuildPlant(server, 200000);
  ComPtr<IStorage> inMemory = CreateMemoryStorage();
  ASSERT_EQ(server.Save(inMemory.Get()), S_OK);
  const Bytes expected = StreamBytes(inMemory.Get(), u"NameServer");
  ASSERT_GT(expected.size(), 3u * 1024 * 1024);

  std::string error;
  {
    ComPtr<IStorage> file;
    ASSERT_TRUE(CreateCompoundFile(path, &file, &error)) << error;
    ASSERT_EQ(server.Save(file.Get()), S_OK);
    ASSERT_TRUE(CommitCompoundFile(file.Get(), &error)) << error;
  }
  ComPtr<IStorage> reopened;
  ASSERT_TRUE(OpenCompoundFile(path, false, &reopened, &error)) << error;
  EXPECT_TRUE(StreamBytes(reopened.Get(), u"NameServer") == expected);
  CNameServer loaded;
  ASSERT_EQ(loaded.Load(reopened.Get()), S_OK);
  ComPtr<IStorage> again = CreateMemoryStorage();
  ASSERT_EQ(loaded.Save(again.Get()), S_OK);
  EXPECT_EQ(StreamBytes(again.Get(), u"NameServer").size(), expected.size());
  EXPECT_EQ(loaded.GetTopLevelContainerIDs(), server.GetTopLevelContainerIDs());
  for (std::uint32_t id : server.GetTopLevelContainerIDs())
    EXPECT_EQ(loaded.GetNameSize(id), server.GetNameSize(id));
  // Read-only documents are not written back.
  EXPECT_FALSE(CommitCompoundFile(reopened.Get(), &error));
  EXPECT_NE(error.find("read-only"), std::string::npos) << error;
}

TEST(DocumentFile, LegacyDocumentImportsFromAFile) {
  TempDir dir;
  const std::string path = dir.File("old.doc");
  // Frame, no objects or bags, one target bag container (ID 10).
  const Bytes stream = {0, 0, 0,  0, 0x2C, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0,
                        0, 0, 10, 0, 0,    0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  std::string error;
  {
    ComPtr<IStorage> root;
    ASSERT_TRUE(CreateCompoundFile(path, &root, &error)) << error;
    Build(root.Get(), {{"B926AE3FAF0511d28CDB00A0C9A0FF", std::nullopt},
                       {"B926AE3FAF0511d28CDB00A0C9A0FF/NameService", stream}});
    ASSERT_TRUE(CommitCompoundFile(root.Get(), &error)) << error;
  }
  ComPtr<IStorage> file;
  ASSERT_TRUE(OpenCompoundFile(path, false, &file, &error)) << error;
  ComPtr<IZebStorage> legacy = CreateLegacyStorageAdapter(file.Get());
  CNameServer server;
  ASSERT_EQ(server.LoadOldVersion(legacy.Get()), S_OK);
  EXPECT_EQ(server.GetTopLevelContainerIDs(), std::vector<std::uint32_t>{10});
  EXPECT_EQ(CNameContainer::GetLastIssuedNameID(), 300u);
}

bool Create(cfb::FileLayer& files, const std::string& path, const Tree& tree, std::string* error) {
  CompoundFileOptions exclusive;
  exclusive.exclusive = true;
  ComPtr<IStorage> storage;
  if (!cfb::CreateCompoundFile(files, path, 3, exclusive, &storage, error)) return false;
  Build(storage.Get(), tree);
  return cfb::CommitCompoundFile(files, storage.Get(), {}, nullptr, error);
}

// Every file operation of an edit and of a creation, failed or cut short
// in turn (a full disk among them): the earlier file stays byte for byte,
// or the whole new one is there, and no temporary file is left.
TEST(DocumentFile, FailedFileOperationLeavesTheEarlierFile) {
  const Tree tree = {{"NameServer", Pattern(3000, 1)}, {"Sub", std::nullopt}, {"Sub/big", Pattern(90000, 2)}};
  const Tree change = {{"NameServer", Pattern(70000, 3)}};
  Tree changed = tree;
  changed["NameServer"] = change.at("NameServer");
  const Bytes before = Serialize(tree), after = Serialize(changed);
  for (cfb::FileLayer* layer : {&cfb::SystemFiles(), &cfb::SystemFilesWithNamedTemps()}) {
    TempDir dir;
    const std::string path = dir.File("doc.nt");
    std::string error;
    WriteBytes(path, before);
    cfb::FaultyFileLayer counting(*layer, cfb::FileFault::kFail, -1);
    ASSERT_TRUE(Edit(counting, path, change, &error)) << error;
    ASSERT_EQ(ReadBytes(path), after);
    ASSERT_GE(counting.Calls(), 10);
    for (cfb::FileFault fault : {cfb::FileFault::kFail, cfb::FileFault::kShortWrite}) {
      for (int k = 0; k < counting.Calls(); ++k) {
        WriteBytes(path, before);
        cfb::FaultyFileLayer faulty(*layer, fault, k);
        error.clear();
        const bool ok = Edit(faulty, path, change, &error);
        const Bytes now = ReadBytes(path);
        if (ok)
          EXPECT_EQ(now, after) << "call " << k;
        else
          EXPECT_FALSE(error.empty()) << "call " << k;
        // Once renamed, the new file is whole even if a later step fails.
        EXPECT_TRUE(now == before || now == after) << "damaged at call " << k << ": " << error;
        EXPECT_EQ(dir.Names(), std::vector<std::string>{"doc.nt"}) << "temporary file left at call " << k;
      }
    }
    // A new document is all there or not at all.
    const std::string fresh = dir.File("new.nt");
    cfb::FaultyFileLayer creating(*layer, cfb::FileFault::kFail, -1);
    ASSERT_TRUE(Create(creating, fresh, tree, &error)) << error;
    ASSERT_EQ(ReadBytes(fresh), before);
    for (int k = 0; k < creating.Calls(); ++k) {
      std::remove(fresh.c_str());
      cfb::FaultyFileLayer faulty(*layer, cfb::FileFault::kFail, k);
      if (!Create(faulty, fresh, tree, &error) && dir.Names().size() == 1) continue;
      EXPECT_EQ(ReadBytes(fresh), before) << "call " << k;
      EXPECT_EQ(dir.Names(), (std::vector<std::string>{"doc.nt", "new.nt"})) << "call " << k;
    }
  }
}

}  // namespace
}  // namespace nametree::test
