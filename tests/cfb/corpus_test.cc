// Real files written by other software: every stream the manifest lists is
// read with its size and digest, nothing more, and each file survives a
// round trip through our writer.
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "cfb_fixture.h"
#include "nametree/cfb_storage.h"

namespace nametree::test {
namespace {

// The manifest's rows for `file` as we read it: "file, stream, size, SHA-256".
std::set<std::string> RowsOf(const std::string& file, const Tree& tree) {
  TempDir dir;
  std::string args;
  for (const auto& [path, data] : tree) {
    if (!data) continue;
    const std::string name = dir.File(std::to_string(args.size()));
    WriteBytes(name, *data);
    args += " " + ShellQuote(name);
  }
  std::string digests;
  if (!args.empty()) {
    EXPECT_EQ(RunShell("sha256sum" + args, &digests), 0);
  }
  std::istringstream lines(digests);
  std::set<std::string> rows;
  for (const auto& [path, data] : tree) {
    std::string line;
    if (data && std::getline(lines, line))
      rows.insert(file + "\t" + path + "\t" + std::to_string(data->size()) + "\t" + line.substr(0, 64));
  }
  return rows;
}

TEST(Corpus, EveryStreamMatchesTheManifest) {
  const std::string dir = NAMETREE_CORPUS_DIR;
  std::ifstream manifest(dir + "/MANIFEST.tsv");
  if (!manifest) GTEST_SKIP() << "no corpus at " << dir;
  std::set<std::string> expected, files, seen;
  std::string line;
  std::getline(manifest, line);  // column names
  while (std::getline(manifest, line)) {
    expected.insert(line);
    files.insert(line.substr(0, line.find('\t')));
  }
  ASSERT_GE(files.size(), 10u);
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    const Bytes bytes = ReadBytes(dir + "/" + file);
    ASSERT_FALSE(bytes.empty());
    ComPtr<IStorage> root;
    std::string error;
    if (!ParseCompoundFile(bytes, &root, &error)) {
      // Damaged on purpose, by a chain that loops: refused, saying so.
      EXPECT_TRUE(error.find("loops") != std::string::npos || error.find("shared") != std::string::npos) << error;
      seen.insert(file + "\t-\tno-entries\t-");
      continue;
    }
    const Tree tree = Snapshot(root.Get());
    seen.merge(RowsOf(file, tree));
    // Our writer keeps all of it, storages included.
    EXPECT_EQ(Parse(SerializeOrDie(root.Get())), tree);
  }
  EXPECT_EQ(seen, expected);
}

}  // namespace
}  // namespace nametree::test
