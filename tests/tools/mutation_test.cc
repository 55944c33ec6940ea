// Damaged documents met by the program: random bytes of a saved document
// are changed, then an edit runs. It is refused with the file untouched,
// or it saves a document that still lists every name the damaged one
// showed. Never a crash, a hang or a lost name.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>
#include <regex>
#include <set>

#include "support/program.h"

namespace nametree::test {
namespace {

class MutatedDocuments : public ::testing::Test {
 protected:
  // The exit status; stdout into `out` when given.
  int Run(const std::vector<std::string>& args, std::string* out = nullptr, const std::string& input = "") const {
    ProgramRun run = RunProgram(dir_, args, input, "", 20);
    if (out) *out = std::move(run.out);
    return run.exit;
  }
  // Every (ID, text) pair `tree --json` lists, or nullopt when it refuses.
  std::optional<std::set<std::string>> Names(const std::string& doc) const {
    std::string json;
    std::set<std::string> names;
    if (Run({"tree", doc, "--json"}, &json) != 0) return std::nullopt;
    static const std::regex kName("\\{\"id\":\\d+,\"name\":\"[^\"]*\"\\}");
    for (std::sregex_iterator it(json.begin(), json.end(), kName), end; it != end; ++it) names.insert(it->str());
    return names;
  }
  TempDir dir_;
};

TEST_F(MutatedDocuments, AnEditIsRefusedOrKeepsEveryNameListedBefore) {
  const std::string base = dir_.File("base.nt"), doc = dir_.File("doc.nt");
  std::string batch = "add-container 0 --type global --as c0\nadd-container @c0 --as c1\n"
                      "add-container 0 --type target --as c2\n";
  for (int i = 0; i < 300; ++i) batch += "add @c" + std::to_string(i % 3) + " Tag" + std::to_string(i) + "\n";
  ASSERT_EQ(Run({"init", base}), 0);
  ASSERT_EQ(Run({"batch", base, "-"}, nullptr, batch), 0);
  const std::string original = ReadBytes(base);
  std::mt19937 random(25);
  int refused = 0, saved = 0;
  for (int round = 0; round < 40; ++round) {
    std::string bytes = original;
    const int changes = 1 + static_cast<int>(random() % 4);
    if (round == 0) {  // the table entry that links the first sector of "NameServer" to its second
      auto get32 = [&](std::size_t at) {
        std::uint32_t v = 0;
        for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(bytes[at + i]);
        return v;
      };
      const std::size_t entry = bytes.find(std::string("N\0a\0m\0e\0S\0e\0r\0v\0e\0r\0", 20));
      ASSERT_NE(entry, std::string::npos);
      const std::size_t link = (get32(76) + 1) * 512 + 4 * get32(entry + 116);
      ASSERT_LT(link + 4, bytes.size());
      bytes.replace(link, 4, 4, '\0');
    } else if (round % 2) {
      for (int i = 0; i < changes; ++i) bytes[random() % bytes.size()] = static_cast<char>(random());
    } else {  // four zero bytes in the tables behind the header
      const std::size_t at = 512 + 4 * (random() % 384);
      bytes.replace(std::min(at, bytes.size() - 4), 4, 4, '\0');
    }
    WriteBytes(dir_.File("doc.nt"), bytes);
    const std::optional<std::set<std::string>> before = Names(dir_.File("doc.nt"));
    EXPECT_TRUE(!before || !before->empty()) << "damage read as an empty document";
    const int exit = Run({"add-container", doc, "0", "--wait", "0"});
    SCOPED_TRACE("round " + std::to_string(round) + ", exit " + std::to_string(exit));
    ASSERT_TRUE(exit == 0 || exit == 1 || exit == 2) << "a crash or a hang";
    if (exit != 0) {
      EXPECT_EQ(ReadBytes(dir_.File("doc.nt")), bytes) << "a refused edit changed the file";
      ++refused;
      continue;
    }
    ++saved;
    const std::optional<std::set<std::string>> after = Names(dir_.File("doc.nt"));
    ASSERT_TRUE(before && after) << "an edit saved a document tree cannot read";
    for (const std::string& name : *before) EXPECT_EQ(after->count(name), 1u) << "lost " << name;
  }
  EXPECT_GT(refused, 0);
  EXPECT_GT(saved, 0);
}

TEST_F(MutatedDocuments, AHugeBatchLineIsRefusedShortWithoutAnAbort) {
  ASSERT_EQ(Run({"init", dir_.File("doc.nt")}), 0);
  std::string err;
  const int exit = Run({"batch", dir_.File("doc.nt"), "-", "--json"}, &err,
                       "add 1 " + std::string(20 << 20, 'x') + "\n");
  EXPECT_EQ(exit, 1);
  EXPECT_LT(err.size(), 2000u);
  EXPECT_NE(err.find("... (20971526 bytes)"), std::string::npos) << err.substr(0, 400);
}

}  // namespace
}  // namespace nametree::test
