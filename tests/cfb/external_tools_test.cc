// Independent readers see in our files what we wrote (each tool is skipped
// when it is not installed), and we read what independent writers made: in
// real files written by other software every stream the manifest lists is
// read with its size and digest, nothing more, and each file survives a
// round trip through our writer.
#include <fstream>
#include <set>
#include <sstream>

#include "cfb_fixture.h"
#include "nametree/cfb_storage.h"
#include "support/hex.h"

namespace nametree::test {
namespace {

// Each row: a command that fails when the tool is missing, then one that
// lists the file $F, "D path" for a storage and "F path hex" for a stream,
// one a line; $O is a free path for the tool's output.
const std::pair<const char*, const char*> kReaders[] = {
    {"/usr/bin/python3 -c 'import olefile' 2>/dev/null", R"sh(/usr/bin/python3 -c '
import sys, olefile
ole = olefile.OleFileIO(sys.argv[1], raise_defects=olefile.DEFECT_INCORRECT)
for e in ole.listdir(streams=True, storages=True):
    if ole.get_type(e) == olefile.STGTY_STREAM:
        print("F", "/".join(e), ole.openstream(e).read().hex())
    else:
        print("D", "/".join(e))
' "$F")sh"},
    // olecfexport writes each entry to a directory, its bytes to StreamData.bin.
    {"test -x /usr/bin/olecfexport", R"sh(/usr/bin/olecfexport -t "$O" "$F" >/dev/null 2>&1
cd "$O.export" && find . -mindepth 1 -type d | while read -r d; do
  if [ -n "$(find "$d" -mindepth 1 -type d)" ]; then echo "D ${d#./}"
  else echo "F ${d#./} $(od -An -v -tx1 "$d/StreamData.bin" | tr -d ' \n')"; fi
done)sh"},
    // "gsf list": a kind letter, an optional date, the size, then the path.
    {"test -x /usr/bin/gsf", R"sh(/usr/bin/gsf list "$F" | awk 'NR > 1 && $NF != "*root*" {print $1, $NF}' |
while read -r k p; do
  if [ "$k" = d ]; then echo "D $p"
  else echo "F $p $(/usr/bin/gsf cat "$F" "$p" | od -An -v -tx1 | tr -d ' \n')"; fi
done)sh"},
};

Tree ReadListing(const std::string& text) {
  Tree tree;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::string kind, path, hex;
    words >> kind >> path >> hex;
    tree[path] = kind == "D" ? std::nullopt : std::optional<Bytes>(Hex(hex));
  }
  return tree;
}

class ExternalReaders : public ::testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(ExternalReaders, SeeWhatWeWrote) {
  const auto [which, version] = GetParam();
  const auto& [probe, listing] = kReaders[which];
  if (RunShell(probe) != 0) GTEST_SKIP() << "not installed: " << probe;
  // The second tree's FAT goes past the header into DIFAT sectors.
  for (const Tree& tree : {Sample(), Tree{{"Big", Pattern(8u << 20, 11)}, {"tail", Pattern(3000, 12)}}}) {
    TempDir dir;
    WriteBytes(dir.File("doc.cfb"), Serialize(tree, version));
    std::string out;
    RunShell("F=" + ShellQuote(dir.File("doc.cfb")) + " O=" + ShellQuote(dir.File("out")) + "; " + listing,
             &out);
    EXPECT_TRUE(ReadListing(out) == tree) << out.substr(0, 2000);
  }
}

INSTANTIATE_TEST_SUITE_P(ToolsAndVersions, ExternalReaders,
                         ::testing::Combine(::testing::Range(0, 3), ::testing::Values(3, 4)));

// The manifest's row for one stream of `file` as we read it.
std::string Row(const std::string& file, const std::string& path, const Bytes& data) {
  TempDir dir;
  WriteBytes(dir.File("stream"), data);
  std::string digest;
  EXPECT_EQ(RunShell("sha256sum " + ShellQuote(dir.File("stream")), &digest), 0);
  return file + "\t" + path + "\t" + std::to_string(data.size()) + "\t" + digest.substr(0, 64);
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
    for (const auto& [path, data] : tree)
      if (data) seen.insert(Row(file, path, *data));
    // Our writer keeps all of it, storages included.
    EXPECT_EQ(Parse(SerializeOrDie(root.Get())), tree);
  }
  EXPECT_EQ(seen, expected);
}

}  // namespace
}  // namespace nametree::test
