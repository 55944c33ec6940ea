// Real files written by other software: every stream the manifest lists is
// read with its size and digest, nothing more, and each file survives a
// round trip through our writer.
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "cfb_fixture.h"
#include "nametree/cfb_storage.h"

namespace nametree::test {
namespace {

struct Expected {
  std::map<std::string, std::pair<std::uint64_t, std::string>> streams;  // path -> size, digest
  bool noEntries = false;
};

std::map<std::string, Expected> ReadManifest(const std::string& dir) {
  std::map<std::string, Expected> files;
  std::ifstream in(dir + "/MANIFEST.tsv");
  std::string line;
  std::getline(in, line);  // column names
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string file, stream, size, digest;
    std::getline(fields, file, '\t');
    std::getline(fields, stream, '\t');
    std::getline(fields, size, '\t');
    std::getline(fields, digest, '\t');
    if (size == "no-entries" || size == "unreadable") files[file].noEntries = true;
    else files[file].streams[stream] = {std::stoull(size), digest};
  }
  return files;
}

TEST(Corpus, EveryStreamMatchesTheManifest) {
  const std::string dir = NAMETREE_CORPUS_DIR;
  if (!std::filesystem::exists(dir + "/MANIFEST.tsv")) GTEST_SKIP() << "no corpus at " << dir;
  const auto manifest = ReadManifest(dir);
  ASSERT_GE(manifest.size(), 10u);
  for (const auto& [file, expected] : manifest) {
    SCOPED_TRACE(file);
    const Bytes bytes = ReadBytes(dir + "/" + file);
    ASSERT_FALSE(bytes.empty());
    ComPtr<IStorage> root;
    std::string error;
    if (expected.noEntries) {
      // Damaged on purpose: refused with a reason, or read as holding nothing.
      if (ParseCompoundFile(bytes, &root, &error)) EXPECT_TRUE(StreamsOnly(Snapshot(root.Get())).empty());
      else EXPECT_FALSE(error.empty());
      continue;
    }
    ASSERT_TRUE(ParseCompoundFile(bytes, &root, &error)) << error;
    const Tree streams = StreamsOnly(Snapshot(root.Get()));
    std::map<std::string, std::pair<std::uint64_t, std::string>> seen;
    for (const auto& [path, data] : streams) seen[path] = {data->size(), Sha256Hex(*data)};
    EXPECT_EQ(seen, expected.streams);
    // Our writer keeps all of it, storages included.
    EXPECT_EQ(Parse(SerializeOrDie(root.Get())), Snapshot(root.Get()));
  }
}

TEST(Corpus, ChainLoopIsRefused) {
  const std::string path = std::string(NAMETREE_CORPUS_DIR) + "/FatChainLoop_v3.cfs";
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "no corpus file " << path;
  ComPtr<IStorage> root;
  std::string error;
  EXPECT_FALSE(ParseCompoundFile(ReadBytes(path), &root, &error));
  EXPECT_TRUE(error.find("loops") != std::string::npos || error.find("shared") != std::string::npos) << error;
}

TEST(Sha256, KnownDigests) {
  EXPECT_EQ(Sha256Hex({}), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Sha256Hex({'a', 'b', 'c'}), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

}  // namespace
}  // namespace nametree::test
