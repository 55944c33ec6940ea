// Edits that lint would reject: the program warns of what an edit makes new
// and, under --strict, refuses it and leaves the file as it was.
#include <gtest/gtest.h>

#include "support/program.h"

namespace nametree::test {
namespace {

struct Case {
  std::vector<std::string> args;  // "DOC" stands for a fresh copy of the base document
  std::string input;
  int exit;
  std::string out, err;  // fragments the streams hold; "" for err: stderr is empty
  bool unchanged;
};

// A global container 1 with Pump1 (2); a target 3 with Valve (4) and a
// plain container 6 under it holding Var1 (7), which the global check of
// an add does not look into.
std::string MakeBase(const TempDir& dir) {
  const std::string base = dir.File("base.nt");
  EXPECT_EQ(RunProgram(dir, {"init", base}).exit, 0);
  EXPECT_EQ(RunProgram(dir, {"batch", base},
                       "add-container 0 --type global\nadd 1 Pump1\nadd-container 0 --type target\nadd 3 Valve\n"
                       "add-container 3 --as p\nadd @p Var1\n")
                .exit,
            0);
  return base;
}

// Each case runs on a fresh copy of the base; no temporary file is left.
void RunCases(const TempDir& dir, const std::string& base, const std::vector<Case>& cases) {
  const std::string doc = dir.File("doc.nt");
  const std::string original = ReadBytes(base);
  for (const Case& c : cases) {
    WriteBytes(doc, original);
    std::vector<std::string> args = c.args;
    for (std::string& a : args)
      if (a == "DOC") a = doc;
    SCOPED_TRACE(args[0] + " " + args.back());
    const ProgramRun r = RunProgram(dir, args, c.input);
    EXPECT_EQ(r.exit, c.exit) << r.out << r.err;
    EXPECT_NE(r.out.find(c.out), std::string::npos) << r.out;
    if (c.err.empty()) EXPECT_EQ(r.err, "");
    else EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    EXPECT_EQ(ReadBytes(doc) == original, c.unchanged);
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{".err", ".in", ".out", "base.nt", "doc.nt"}));
  }
}

TEST(EditSafety, LintFindingsAnEditMakesAreWarnedOrRefused) {
  TempDir dir;
  const std::string base = MakeBase(dir), doc = dir.File("doc.nt");
  const std::string collides = "the edit makes lint report: error: container 6 (plain) at 3/6: \"Var1\" (ID 7) "
                               "collides with the global namespace: \"Var1\" (ID 8) in container 1 (global) at 1";
  const std::string looks = "warning: container 6 (plain) at 3/6: \"Var1\" (ID 7) looks like \"V\u0430r1\" (ID 8)";
  const std::vector<Case> cases = {
      {{"add", "DOC", "1", "Motor"}, "", 0, "added \"Motor\"", "", false},
      {{"add", "DOC", "1", "Var1"}, "", 0, "added \"Var1\" to container 1 as ID 8", "doc.nt: " + collides, false},
      {{"add", "DOC", "1", "Var1", "--json"}, "", 0,
       "\"notifications\":[],\"findings\":[{\"severity\":\"error\",\"check\":\"collision\"", "", false},
      {{"add", "DOC", "1", "Var1", "--strict"}, "", 1, "",
       "cannot add \"Var1\" to container 1: lint would then report 1 finding more, which --strict refuses", true},
      {{"add", "DOC", "1", "Var1", "--strict", "--json"}, "", 1, "\"kind\":\"refused\"", "", true},
      {{"add", "DOC", "1", "V\u0430r1"}, "", 0, "", looks, false},  // a warning is refused under --strict too
      {{"add", "DOC", "1", "V\u0430r1", "--strict"}, "", 1, "", "--strict refuses", true},
      {{"rename", "DOC", "2", "VAR1", "--strict"}, "", 1, "", "cannot rename ID 2 to \"VAR1\": lint would then", true},
      {{"rename", "DOC", "2", "VAR1"}, "", 0, "renamed ID 2", "collides with the global namespace", false},
      {{"batch", "DOC"}, "add 1 Motor\nadd 1 Var1\n", 0, "applied 2 edits",
       "standard input:2: the edit makes lint report: error: container 6 (plain)", false},
      {{"batch", "DOC", "--strict"}, "add 1 Motor\nadd 1 Var1\n", 1, "1 line refused", "standard input:2: cannot add",
       true},
      // The refused add is taken back: the rest is saved, and Var1 is free again.
      {{"batch", "DOC", "--strict", "--keep-going"}, "add 1 Var1\nadd 1 Motor\nadd 6 Pump1x\n", 1,
       "applied 2 of 3 edits", "standard input:1: cannot add", false},
      {{"batch", "DOC"}, "add 1 Motor\n", 0, "applied 1 edit from", "", false},
      {{"batch", "DOC", "--json"}, "add 1 Var1\n", 0, "\"findings\":[{\"line\":1,\"severity\":\"error\"", "", false},
  };
  RunCases(dir, base, cases);
  WriteBytes(doc, ReadBytes(base));
  RunProgram(dir, {"batch", doc, "--strict", "--keep-going"}, "add 1 Var1\nadd 1 Motor\n");
  EXPECT_EQ(RunProgram(dir, {"find", doc, "Var1"}).out.find("in container 1"), std::string::npos)
      << "the refused add did not stay";
  // A delete can make lint report more: of two equal texts, the later is then judged alone.
  ASSERT_EQ(RunProgram(dir, {"batch", base}, "keyword PUMP2\nadd 1 Pump2 --no-check\nadd 1 PUMP2 --no-check\n").exit, 0);
  RunCases(dir, base, {
      {{"delete", "DOC", "8", "--strict"}, "", 1, "", "cannot delete ID 8: lint would then report 1 finding more", true},
      {{"delete", "DOC", "8"}, "", 0, "deleted \"Pump2\"", "\"PUMP2\" (ID 9) is a keyword", false},
      {{"delete", "DOC", "9", "--strict"}, "", 0, "deleted \"PUMP2\"", "", false},
  });
}

// A dry run prints the report of the real run and a last line, and leaves
// the file's bytes as they were; mistyped commands and odd batch input get
// plain messages.
TEST(EditSafety, DryRunsWriteNothingAndMistakesAreNamed) {
  TempDir dir;
  RunCases(dir, MakeBase(dir), {
      {{"add", "DOC", "1", "Motor", "--dry-run"}, "", 0, "added \"Motor\" to container 1 as ID 8\ndry run: ", "", true},
      {{"rename", "DOC", "2", "Pump2", "--dry-run"}, "", 0, "\"Pump1\" -> \"Pump2\"\ndry run: ", "", true},
      {{"delete", "DOC", "2", "--dry-run"}, "", 0, "deleted \"Pump1\" (ID 2) from container 1\n", "", true},
      {{"delete", "DOC", "3", "--container", "--dry-run"}, "", 0, "3 with 1 sub-container and 2 names\n", "", true},
      {{"delete", "DOC", "3", "--container"}, "", 0, "container 3 with 1 sub-container and 2 names\n", "", false},
      {{"delete", "DOC", "6", "--container", "--json", "--dry-run"}, "", 0, "\"subContainers\":0,\"names\":1",
       "nametree: dry run: ", true},
      {{"add-container", "DOC", "0", "--label", "L", "--dry-run"}, "", 0, "level labelled @L\ndry run: ", "", true},
      {{"label", "DOC", "1", "Plant", "--dry-run"}, "", 0, "labelled container 1 @Plant\ndry run: ", "", true},
      {{"keyword", "add", "DOC", "BEGIN", "--dry-run"}, "", 0, "added 1 keyword to ", "", true},
      {{"repair", "DOC", "--dry-run"}, "", 0, "nothing to repair\n", "", true},
      {{"batch", "DOC", "--dry-run"}, "add 1 Motor\nadd-container 0 --as x\n", 0, " left unchanged\n", "", true},
      {{"batch", "DOC", "--json", "--dry-run"}, "add 1 M\n", 0, "\"saved\":false,\"dryRun\":true", "dry run: ", true},
      {{"add", "DOC", "1", "Pump1", "--dry-run"}, "", 1, "", "cannot add", true},
      {{"ad"}, "", 2, "", "nametree: unknown command \"ad\"; did you mean \"add\"?\n", true},
      {{"help", "labl"}, "", 2, "", "did you mean \"label\"?", true},
      {{"batch", "DOC"}, "add 1 Motor  # the new one\n  # a whole line\nadd 1 \"#1\" --kind 1 #\n", 0,
       "applied 2 edits", "\"#1\" (ID 9) breaks the name rule", false},
      {{"batch", "DOC", "/"}, "", 2, "", "nametree: /: is a directory", true},
      {{"batch", "DOC", "--csv"}, "container,name,note\n", 2, "", "column 3 \"note\" is not one of them", true},
      {{"batch", "DOC", "--csv"}, "container,name\n1,Motor,x,y\n", 2, "", "the first extra one is \"x\"", true},
  });
  EXPECT_EQ(RunProgram(dir, {"help", "rename"}).out, RunProgram(dir, {"rename", "--help"}).out);
}

}  // namespace
}  // namespace nametree::test
