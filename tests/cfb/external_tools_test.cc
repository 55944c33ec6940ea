// Independent readers see in our files what we wrote, and we read what
// independent writers made. Each tool is skipped when it is not installed.
#include <filesystem>
#include <iterator>
#include <sstream>

#include "cfb_fixture.h"

namespace nametree::test {
namespace {

Tree Sample() {
  Tree t;
  t["empty"] = Bytes{};
  t["small"] = Pattern(100, 1);
  t["edge4095"] = Pattern(4095, 2);
  t["edge4096"] = Pattern(4096, 3);
  t["large"] = Pattern(70000, 4);
  t["Sub"] = std::nullopt;
  t["Sub/Deeper"] = std::nullopt;
  t["Sub/Deeper/leaf"] = Pattern(5000, 5);
  for (int i = 0; i < 30; ++i) t["Sub/n" + std::to_string(i)] = Pattern(i * 61, 10 + i);
  return t;
}

// "D path" for a storage, "F path size sha256" for a stream, one a line.
std::string Listing(const Tree& tree) {
  std::string out;
  for (const auto& [path, data] : tree)
    out += data ? "F " + path + " " + std::to_string(data->size()) + " " + Sha256Hex(*data) + "\n"
                : "D " + path + "\n";
  return out;
}

constexpr char kOlefileListing[] = R"(
import hashlib, sys, olefile
ole = olefile.OleFileIO(sys.argv[1], raise_defects=olefile.DEFECT_INCORRECT)
rows = []
for entry in ole.listdir(streams=True, storages=True):
    path = '/'.join(entry)
    if ole.get_type(entry) == olefile.STGTY_STREAM:
        data = ole.openstream(entry).read()
        rows.append('F %s %d %s' % (path, len(data), hashlib.sha256(data).hexdigest()))
    else:
        rows.append('D ' + path)
print(''.join(r + '\n' for r in sorted(rows)), end='')
)";

std::string OlefileListing(const TempDir& dir, const std::string& file) {
  WriteBytes(dir.File("list.py"), Bytes(std::begin(kOlefileListing), std::end(kOlefileListing) - 1));
  std::string out;
  EXPECT_EQ(RunShell("/usr/bin/python3 " + ShellQuote(dir.File("list.py")) + " " + ShellQuote(file), &out), 0);
  return out;
}

class ExternalReaders : public ::testing::TestWithParam<int> {};

TEST_P(ExternalReaders, Olefile) {
  if (!HaveOlefile()) GTEST_SKIP() << "python3-olefile is not installed";
  TempDir dir;
  WriteBytes(dir.File("doc.cfb"), Serialize(Sample(), GetParam()));
  EXPECT_EQ(OlefileListing(dir, dir.File("doc.cfb")), Listing(Sample()));
}

TEST_P(ExternalReaders, Olecf) {
  if (!HaveProgram("/usr/bin/olecfinfo") || !HaveProgram("/usr/bin/olecfexport"))
    GTEST_SKIP() << "libolecf-utils is not installed";
  TempDir dir;
  const std::string file = dir.File("doc.cfb");
  WriteBytes(file, Serialize(Sample(), GetParam()));

  // olecfinfo prints the tree indented by two spaces a level: "name (N bytes)".
  std::string info;
  ASSERT_EQ(RunShell("/usr/bin/olecfinfo " + ShellQuote(file), &info), 0);
  std::istringstream lines(info.substr(info.find("Root Entry")));
  std::string line;
  std::getline(lines, line);
  std::vector<std::string> stack;
  Tree seen;
  while (std::getline(lines, line) && !line.empty()) {
    const std::size_t depth = line.find_first_not_of(' ') / 2 - 1;
    const std::size_t paren = line.rfind(" (");
    stack.resize(depth);
    stack.push_back(line.substr(2 * (depth + 1), paren - 2 * (depth + 1)));
    std::string path;
    for (const std::string& part : stack) path += (path.empty() ? "" : "/") + part;
    seen[path] = Bytes(std::stoul(line.substr(paren + 2)));
  }
  ASSERT_EQ(seen.size(), Sample().size()) << info;
  for (const auto& [path, data] : Sample()) {
    ASSERT_TRUE(seen.count(path)) << path;
    EXPECT_EQ(seen[path].value().size(), data ? data->size() : 0u) << path;
  }

  // olecfexport writes each stream to <path>/StreamData.bin.
  ASSERT_EQ(RunShell("/usr/bin/olecfexport -t " + ShellQuote(dir.File("out")) + " " + ShellQuote(file) +
                " >/dev/null 2>&1"),
            0);
  for (const auto& [path, data] : StreamsOnly(Sample()))
    EXPECT_EQ(ReadBytes(dir.File("out.export/" + path + "/StreamData.bin")), *data) << path;
}

TEST_P(ExternalReaders, Gsf) {
  if (!HaveProgram("/usr/bin/gsf")) GTEST_SKIP() << "libgsf-bin is not installed";
  TempDir dir;
  const std::string file = dir.File("doc.cfb");
  WriteBytes(file, Serialize(Sample(), GetParam()));
  // "gsf list": a kind letter, an optional date, the size, then the path.
  std::string listing;
  ASSERT_EQ(RunShell("/usr/bin/gsf list " + ShellQuote(file), &listing), 0);
  std::istringstream lines(listing);
  std::string line;
  std::getline(lines, line);  // the file name
  Tree seen;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::vector<std::string> w{std::istream_iterator<std::string>(words), {}};
    ASSERT_GE(w.size(), 3u) << line;
    if (w.back() == "*root*") continue;
    seen[w.back()] = w[0] == "d" ? std::optional<Bytes>() : Bytes(std::stoul(w[w.size() - 2]));
  }
  ASSERT_EQ(seen.size(), Sample().size()) << listing;
  for (const auto& [path, data] : Sample()) {
    ASSERT_TRUE(seen.count(path)) << path;
    EXPECT_EQ(seen[path].has_value(), data.has_value()) << path;
    if (!data) continue;
    std::string out;
    ASSERT_EQ(RunShell("/usr/bin/gsf cat " + ShellQuote(file) + " " + ShellQuote(path), &out), 0);
    EXPECT_EQ(Bytes(out.begin(), out.end()), *data) << path;
  }
}

INSTANTIATE_TEST_SUITE_P(Versions, ExternalReaders, ::testing::Values(3, 4));

TEST(ExternalReaders, OlefileFollowsTheDifat) {
  if (!HaveOlefile()) GTEST_SKIP() << "python3-olefile is not installed";
  TempDir dir;
  Tree tree;
  tree["Big"] = Pattern(8u << 20, 11);
  tree["tail"] = Pattern(3000, 12);
  WriteBytes(dir.File("big.cfb"), Serialize(tree));
  EXPECT_EQ(OlefileListing(dir, dir.File("big.cfb")), Listing(tree));
}

TEST(ExternalWriters, GsfCreateole) {
  if (!HaveProgram("/usr/bin/gsf")) GTEST_SKIP() << "libgsf-bin is not installed";
  TempDir dir;
  // Files become streams and directories storages, named by their last part.
  Tree tree;
  tree["zero"] = Bytes{};
  tree["small"] = Pattern(200, 21);
  tree["edge4095"] = Pattern(4095, 22);
  tree["edge4096"] = Pattern(4096, 23);
  tree["large"] = Pattern(30000, 24);
  tree["folder"] = std::nullopt;
  tree["folder/inner"] = Pattern(777, 25);
  tree["folder/nested"] = std::nullopt;
  tree["folder/nested/deep"] = Pattern(9000, 26);
  std::string args;
  std::filesystem::create_directory(dir.File("in"));
  for (const auto& [path, data] : tree) {
    if (data) WriteBytes(dir.File("in/" + path), *data);
    else std::filesystem::create_directory(dir.File("in/" + path));
    if (path.find('/') == std::string::npos) args += " " + ShellQuote(dir.File("in/" + path));
  }
  const std::string file = dir.File("made.ole");
  ASSERT_EQ(RunShell("/usr/bin/gsf createole " + ShellQuote(file) + args + " >/dev/null 2>&1"), 0);
  EXPECT_EQ(Parse(ReadBytes(file)), tree);

  // olefile rewrites streams in place; we see the new bytes, small and large.
  if (!HaveOlefile()) return;
  tree["small"] = Pattern(200, 31);
  tree["folder/nested/deep"] = Pattern(9000, 32);
  WriteBytes(dir.File("new-small"), *tree["small"]);
  WriteBytes(dir.File("new-deep"), *tree["folder/nested/deep"]);
  ASSERT_EQ(RunShell("/usr/bin/python3 -c \"import olefile, sys\n"
                "ole = olefile.OleFileIO(sys.argv[1], write_mode=True)\n"
                "ole.write_stream('small', open(sys.argv[2], 'rb').read())\n"
                "ole.write_stream('folder/nested/deep', open(sys.argv[3], 'rb').read())\n"
                "ole.close()\" " +
                ShellQuote(file) + " " + ShellQuote(dir.File("new-small")) + " " +
                ShellQuote(dir.File("new-deep"))),
            0);
  EXPECT_EQ(Parse(ReadBytes(file)), tree);
}

}  // namespace
}  // namespace nametree::test
