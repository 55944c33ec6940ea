// The program's help at the width of the terminal ($COLUMNS here, stdout
// being a file): wrapping moves line breaks only, never a word, and help
// whose lines fit stays as it was written.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include "support/program.h"

namespace nametree::test {
namespace {

// What the program prints with COLUMNS set to `columns` ("" for unset).
std::string Help(const TempDir& dir, const std::string& columns, const std::vector<std::string>& args) {
  if (columns.empty()) unsetenv("COLUMNS");
  else setenv("COLUMNS", columns.c_str(), 1);
  const ProgramRun r = RunProgram(dir, args);
  unsetenv("COLUMNS");
  EXPECT_EQ(r.exit, 0) << r.err;
  return r.out;
}

std::vector<std::string> Words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

TEST(Help, WrapsToTheWidthMovingLineBreaksOnly) {
  TempDir dir;
  const std::vector<std::size_t> some = {50, 63, 80};
  std::vector<std::size_t> every;  // each width: a line one column too wide shows at some
  for (std::size_t width = 50; width <= 100; ++width) every.push_back(width);
  for (const auto& [args, widths] : std::vector<std::pair<std::vector<std::string>, std::vector<std::size_t>>>{
           {{"add", "--help"}, every}, {{"--help"}, some}, {{"help", "keyword"}, some}, {{"add-container", "-h"}, some}}) {
    const std::vector<std::string> words = Words(Help(dir, "100000", args));
    for (std::size_t width : widths) {
      std::istringstream lines(Help(dir, std::to_string(width), args));
      std::string text;
      for (std::string line; std::getline(lines, line); text += line + "\n") EXPECT_LE(line.size(), width) << line;
      EXPECT_EQ(Words(text), words) << width;
    }
  }
}

TEST(Help, KeepsWhatFitsAndRefillsTheRest) {
  TempDir dir;
  const std::string repair =  // today's line, 106 columns
      "  repair                      raise a stored last issued ID that is below an ID\n"
      "                              in use, and report the rest\n";
  const std::string add80 =
      "NAME (UTF-8) is checked against the name rules and, unless --no-check, against\n"
      "every namespace the container must not collide with. Prints the new name's ID. A\n"
      "document whose stored last issued ID is below an ID it holds is refused: run\n"
      "'nametree repair'.\n";
  struct Case {
    std::string columns;
    std::vector<std::string> args;
    std::string part;
  };
  for (const Case& c : std::vector<Case>{
           {"", {"--help"}, "valid and unique across its namespaces: a tree of\ncontainers whose top-level global"},
           {"", {"--help"}, repair},
           {"", {"add", "--help"}, add80},
           {"", {"add", "--help"}, "  --json                      report as JSON (errors too, on stdout)\n"},
           {"", {"help", "keyword"}, "\n  nametree keyword add FILE BEGIN END\n  nametree keyword add FILE --set"},
           {"0", {"--help"}, repair},
           {"100", {"--help"}, "Names are UTF-8.\nTry 'nametree demo' for a tour.\nExit codes:\n  0      success\n"},  // fits
           {"", {"--help"}, "\n  2      usage, file or output error\n  128+N  ended by signal N\n"},
           {"", {"--help"}, "\n  help                        print the help of a command, or of the program\n"},
           {"", {"help"}, "\n  help                        print the help of a command, or of the program\n"},
           {"", {"help", "help"}, "Usage: nametree help [OPTIONS] [COMMAND]\n"},
           {"", {"help", "--help"}, "  --man                       print the manual page (roff) instead\n"},
           {"80x", {"add", "--help"}, add80},
           {"86", {"add", "--help"}, "\nNAME (UTF-8) is checked against the name rules and, unless --no-check, against every\n"},
           {"10", {"add", "--help"},
            "  --json                      report as JSON\n                              (errors too, on\n                              stdout)\n"},
       }) {
    const std::string out = Help(dir, c.columns, c.args);
    EXPECT_NE(out.find(c.part), std::string::npos) << "COLUMNS=" << c.columns << "\n" << out;
  }
}

}  // namespace
}  // namespace nametree::test
