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

using Digests = std::map<std::string, std::pair<std::uint64_t, std::string>>;  // path -> size, SHA-256

struct Expected {
  Digests streams;
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

Digests DigestsOf(const Tree& streams) {
  TempDir dir;
  std::string args;
  for (const auto& [path, data] : streams) {
    const std::string name = dir.File(std::to_string(args.size()));
    WriteBytes(name, *data);
    args += " " + ShellQuote(name);
  }
  std::string out;
  if (!streams.empty()) {
    EXPECT_EQ(RunShell("sha256sum" + args, &out), 0);
  }
  std::istringstream lines(out);
  Digests digests;
  for (const auto& [path, data] : streams) {
    std::string line;
    std::getline(lines, line);
    digests[path] = {data->size(), line.substr(0, 64)};
  }
  return digests;
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
      // Damaged on purpose, by a chain that loops: refused, saying so.
      EXPECT_FALSE(ParseCompoundFile(bytes, &root, &error));
      EXPECT_TRUE(error.find("loops") != std::string::npos || error.find("shared") != std::string::npos) << error;
      continue;
    }
    ASSERT_TRUE(ParseCompoundFile(bytes, &root, &error)) << error;
    EXPECT_EQ(DigestsOf(StreamsOnly(Snapshot(root.Get()))), expected.streams);
    // Our writer keeps all of it, storages included.
    EXPECT_EQ(Parse(SerializeOrDie(root.Get())), Snapshot(root.Get()));
  }
}

}  // namespace
}  // namespace nametree::test
