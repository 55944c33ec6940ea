// The library on real document files: saving and loading a name server
// through a compound file, and a commit that the file system fails at any
// step leaving the earlier file whole.
#include <filesystem>
#include <functional>

#include "cfb_fixture.h"
#include "nametree/cfb_storage.h"
#include "nametree/memory_storage.h"
#include "nametree/name_server.h"
#include "nametree/utf8.h"

namespace nametree::test {
namespace {

TEST(DocumentFile, ServerSavesAndLoadsThroughAFile) {
  // A plant of 200 000 names over a global tree and a few targets.
  CNameContainer::SetLastIssuedNameID(0);
  CNameServer server;
  std::vector<std::uint32_t> where{server.AddContainer(0, kGlobalContainer)};
  for (int i = 0; i < 40; ++i)
    where.push_back(server.AddContainer(where[static_cast<std::size_t>(i) / 3], i % 2 ? 3 : 0));
  for (int t = 0; t < 3; ++t) where.push_back(server.AddContainer(0, kTargetContainer));
  for (int i = 0; i < 200000; ++i)
    server.GetContainer(where[static_cast<std::size_t>(i) % where.size()])
        ->AddName(u"Tag\u00e9" + CString(1, static_cast<char16_t>(u'A' + i % 26)) + u"_" +
                  FromUtf8(std::to_string(i)));
  ComPtr<IStorage> inMemory = CreateMemoryStorage();
  ASSERT_EQ(server.Save(inMemory.Get()), S_OK);
  const Bytes expected = *Snapshot(inMemory.Get()).at("NameServer");
  ASSERT_GT(expected.size(), 3u * 1024 * 1024);

  TempDir dir;
  const std::string path = dir.File("plant.nt");
  std::string error;
  {
    ComPtr<IStorage> file;
    ASSERT_TRUE(CreateCompoundFile(path, &file, &error)) << error;
    ASSERT_EQ(server.Save(file.Get()), S_OK);
    ASSERT_TRUE(CommitCompoundFile(file.Get(), &error)) << error;
  }
  ComPtr<IStorage> reopened;
  ASSERT_TRUE(OpenCompoundFile(path, false, &reopened, &error)) << error;
  EXPECT_TRUE(*Snapshot(reopened.Get()).at("NameServer") == expected);
  CNameServer loaded;
  ASSERT_EQ(loaded.Load(reopened.Get()), S_OK);
  ComPtr<IStorage> again = CreateMemoryStorage();
  ASSERT_EQ(loaded.Save(again.Get()), S_OK);
  EXPECT_EQ(Snapshot(again.Get()).at("NameServer")->size(), expected.size());
  EXPECT_EQ(loaded.GetTopLevelContainerIDs(), server.GetTopLevelContainerIDs());
  for (std::uint32_t id : server.GetTopLevelContainerIDs())
    EXPECT_EQ(loaded.GetNameSize(id), server.GetNameSize(id));
  // Read-only documents are not written back.
  EXPECT_FALSE(CommitCompoundFile(reopened.Get(), &error));
  EXPECT_NE(error.find("read-only"), std::string::npos) << error;
}

std::optional<Bytes> Contents(const std::string& path) {
  return std::filesystem::exists(path) ? std::optional(ReadBytes(path)) : std::nullopt;
}

// Every file operation of an edit and of a creation, failed or cut short
// in turn (a full disk among them): the earlier file stays byte for byte,
// or the whole new one is there, and no temporary file is left.
TEST(DocumentFile, FailedFileOperationLeavesTheEarlierFile) {
  const Tree tree = {{"NameServer", Pattern(3000, 1)}, {"Sub", std::nullopt}, {"Sub/big", Pattern(90000, 2)}};
  const Tree change = {{"NameServer", Pattern(70000, 3)}};
  Tree changed = tree;
  changed["NameServer"] = change.at("NameServer");
  using Run = std::function<bool(cfb::FileLayer&, const std::string&, std::string*)>;
  const Run create = [&](cfb::FileLayer& files, const std::string& path, std::string* error) {
    CompoundFileOptions exclusive;
    exclusive.exclusive = true;
    ComPtr<IStorage> storage;
    if (!cfb::CreateCompoundFile(files, path, 3, exclusive, &storage, error)) return false;
    Build(storage.Get(), tree);
    return cfb::CommitCompoundFile(files, storage.Get(), {}, nullptr, error);
  };
  const Run edit = [&](cfb::FileLayer& files, const std::string& path, std::string* error) {
    return Edit(files, path, change, error);
  };
  const struct {
    const Run& run;
    std::optional<Bytes> before, after;
  } operations[] = {{edit, Serialize(tree), Serialize(changed)}, {create, std::nullopt, Serialize(tree)}};
  for (cfb::FileLayer* layer : {&cfb::SystemFiles(), &cfb::SystemFilesWithNamedTemps()}) {
    for (const auto& op : operations) {
      TempDir dir;
      const std::string path = dir.File("doc.nt");
      auto restore = [&] {
        std::filesystem::remove(path);
        if (op.before) WriteBytes(path, *op.before);
      };
      std::string error;
      restore();
      cfb::FaultyFileLayer counting(*layer, cfb::FileFault::kFail, -1);
      ASSERT_TRUE(op.run(counting, path, &error)) << error;
      ASSERT_EQ(Contents(path), op.after);
      ASSERT_GE(counting.Calls(), 10);
      for (cfb::FileFault fault : {cfb::FileFault::kFail, cfb::FileFault::kShortWrite}) {
        for (int k = 0; k < counting.Calls(); ++k) {
          SCOPED_TRACE("call " + std::to_string(k));
          restore();
          cfb::FaultyFileLayer faulty(*layer, fault, k);
          error.clear();
          const bool ok = op.run(faulty, path, &error);
          const std::optional<Bytes> now = Contents(path);
          if (ok)
            EXPECT_EQ(now, op.after);
          else
            EXPECT_FALSE(error.empty());
          // Once renamed, the new file is whole even if a later step fails.
          EXPECT_TRUE(now == op.before || now == op.after) << "damaged: " << error;
          EXPECT_EQ(dir.Names(), now ? std::vector<std::string>{"doc.nt"} : std::vector<std::string>{})
              << "temporary file left";
        }
      }
    }
  }
}

}  // namespace
}  // namespace nametree::test
