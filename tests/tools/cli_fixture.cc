#include "cli_fixture.h"

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace nametree::test {
namespace {

std::string Quote(const std::string& word) {
  std::string q = "'";
  for (char c : word) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

void CliTest::SetUp() {
  std::string pattern = (std::filesystem::temp_directory_path() / "nametree-cli-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  dir_ = pattern;
}

void CliTest::TearDown() {
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

RunResult CliTest::Run(const std::vector<std::string>& args, const std::string& input, const std::string& out) const {
  WriteFile(".in", input);
  std::string command = Quote(NAMETREE_CLI);
  for (const std::string& a : args) command += " " + Quote(a);
  command += " >" + Quote(out.empty() ? Path(".out") : out) + " 2>" + Quote(Path(".err")) + " <" + Quote(Path(".in"));
  if (!out.empty()) WriteFile(".out", "");
  const int status = std::system(command.c_str());
  RunResult r;
  r.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.out = Slurp(Path(".out"));
  r.err = Slurp(Path(".err"));
  return r;
}

void ExpectHolds(const std::string& text, const std::vector<std::string>& parts) {
  for (const std::string& part : parts) EXPECT_NE(text.find(part), std::string::npos) << part << "\n" << text;
}

void CliTest::Expect(const std::vector<Case>& cases, const std::string& base) const {
  const std::string original = Bytes(base);
  for (const Case& c : cases) {
    WriteFile("doc.nt", original);
    std::vector<std::string> args = c.args;
    std::string trace;
    for (std::string& a : args) {
      trace += a + " ";
      if (a == "DOC") a = Path("doc.nt");
      if (a.rfind("FILE:", 0) == 0) a = Path(a.substr(5));
    }
    SCOPED_TRACE(trace);
    const RunResult r = Run(args, c.input);
    EXPECT_EQ(r.exit, c.exit) << r.out << r.err;
    ExpectHolds(r.out, c.out);
    ExpectHolds(r.err, c.err);
    EXPECT_EQ(Bytes("doc.nt") == original, c.unchanged);
    if (!c.after.empty()) ExpectHolds(Run({"tree", Path("doc.nt"), "--json"}).out, c.after);
  }
}

std::string CliTest::Bytes(const std::string& name) const { return Slurp(Path(name)); }

void CliTest::WriteFile(const std::string& name, const std::string& bytes) const {
  std::ofstream out(Path(name), std::ios::binary);
  out << bytes;
}

}  // namespace nametree::test
