// Edits that lint would reject: the program warns of what an edit makes new
// and, under --strict, refuses it and leaves the file as it was.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>

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
      // Skipped for one run: the edit is made, nothing is judged.
      {{"add", "DOC", "1", "Var1", "--no-edit-check"}, "", 0, "added \"Var1\" to container 1 as ID 8", "", false},
      {{"batch", "DOC", "--no-edit-check"}, "add 1 Motor\nadd 1 Var1\n", 0, "applied 2 edits", "", false},
      {{"batch", "DOC", "--no-edit-check", "--json"}, "add 1 Var1\n", 0, "\"applied\":1", "", false},
      {{"add", "DOC", "1", "Var1", "--strict", "--no-edit-check"}, "", 2, "",
       "--strict needs the edit check that --no-edit-check skips", true},
      {{"batch", "DOC", "--strict", "--no-edit-check"}, "add 1 Var1\n", 2, "", "--strict needs the edit check", true},
  };
  RunCases(dir, base, cases);
  WriteBytes(doc, ReadBytes(base));
  RunProgram(dir, {"batch", doc, "--strict", "--keep-going"}, "add 1 Var1\nadd 1 Motor\n");
  EXPECT_EQ(RunProgram(dir, {"find", doc, "Var1"}).out.find("in container 1"), std::string::npos)
      << "the refused add did not stay";
  // A refused rename is taken back too, so that the rest is saved.
  RunProgram(dir, {"batch", doc, "--strict", "--keep-going"}, "rename 2 VAR1\nadd 1 Motor2\n");
  EXPECT_NE(RunProgram(dir, {"show", doc, "2"}).out.find("\"Pump1\""), std::string::npos);
  EXPECT_NE(RunProgram(dir, {"find", doc, "Motor2"}).out.find("in container 1"), std::string::npos);
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

// Under --json an error says what kind it is; batch input must be read as
// a stream; a new document's dry run leaves no file; a refused character
// outside the BMP is shown whole.
TEST(EditSafety, ErrorKindsBatchInputsAndNewDocumentDryRuns) {
  TempDir dir, other;
  const std::string base = MakeBase(dir), text = other.File("text.txt"), ro = other.File("ro.nt"),
                    locked = other.File("locked.nt"), sock = other.File("sock"), xml = other.File("p.xml");
  WriteBytes(text, "hello\n");
  WriteBytes(ro, ReadBytes(base));
  chmod(ro.c_str(), 0444);
  WriteBytes(locked, ReadBytes(base));
  const int fd = open(locked.c_str(), O_RDWR);
  struct flock hold {};
  hold.l_type = F_WRLCK;
  ASSERT_EQ(fcntl(fd, F_SETLK, &hold), 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  sock.copy(address.sun_path, sizeof address.sun_path - 1);
  ASSERT_EQ(bind(socket(AF_UNIX, SOCK_STREAM, 0), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  WriteBytes(xml, "<project xmlns=\"http://www.plcopen.org/xml/tc6_0201\"><types><pous>"
                  "<pou name=\"P\" pouType=\"program\"/></pous></types></project>");
  ASSERT_EQ(RunProgram(other, {"demo", "--keep", other.File("tour")}).exit, 0);
  const std::string fresh = dir.File("new.nt");
  RunCases(dir, base, {
      {{"tree", other.File("none.nt"), "--json"}, "", 2, "\"kind\":\"not-found\"", "", true},
      {{"add", ro, "1", "X", "--json"}, "", 2, "\"kind\":\"read-only\"", "", true},
      {{"tree", text, "--json"}, "", 2, "\"kind\":\"not-a-document\"", "", true},
      {{"import-legacy", text, fresh, "--json"}, "", 2, "\"kind\":\"not-a-document\"", "", true},
      {{"add", locked, "1", "X", "--wait", "0", "--json"}, "", 2, "\"kind\":\"locked\"", "", true},
      {{"add", "DOC", "--json"}, "", 2, "\"kind\":\"usage\"", "", true},
      {{"add", "DOC", "1", "Pump1", "--json"}, "", 1, "\"kind\":\"refused\"", "", true},
      {{"tree", "DOC", "9", "--json"}, "", 2, "\"kind\":\"not-found\"", "", true},
      {{"batch", "DOC", other.File("none.txt"), "--json"}, "", 2, "\"kind\":\"not-found\"", "", true},
      {{"batch", "DOC", sock}, "", 2, "", "sock: is a socket; a batch is read from a file", true},
      {{"batch", "DOC", "/dev/null"}, "", 0, "applied 0 edits", "", true},
      {{"batch", "DOC", "/dev/stdin"}, "add 1 Motor\n", 0, "applied 1 edit", "", false},
      {{"add", "DOC", "1", "Pump\U0001F600"}, "", 1, "", "it contains \"\U0001F600\" at position 5;", true},
      {{"check", "DOC", "1", "\U0001F600x"}, "", 1, "it begins with \"\U0001F600\";", "", true},
      {{"init", fresh, "--dry-run"}, "", 0, "created " + fresh + " (no containers", "", true},
      {{"import-legacy", other.File("tour/earlier.doc"), fresh, "--dry-run"}, "", 0, "\ndry run: ", "", true},
      {{"import-plcopen", xml, fresh, "--dry-run", "--json"}, "", 0, "\"written\":false,\"dryRun\":true", "dry run: ",
       true},
  });
  close(fd);
}

// A closed pipe ends the program as it ends any filter, silently, even with
// SIGPIPE ignored, and the batch whose report it cut is saved whole. Ctrl-C
// leaves the document as it was and says so; a long batch says it saves.
TEST(EditSafety, PipesInterruptsAndLongSaves) {
  TempDir dir;
  const std::string doc = dir.File("doc.nt"), copy = dir.File("copy.nt"), input = dir.File("in.txt");
  ASSERT_EQ(RunProgram(dir, {"init", doc}).exit, 0);
  const std::string empty = ReadBytes(doc);
  std::string lines = "add-container 0 --type global\n";
  for (int i = 0; i < 6000; ++i)
    lines += "add 1 PumpOfTheFeedLine" + std::to_string(i) + "\nadd 1 " + std::to_string(i) + "\n";
  WriteBytes(input, lines);
  WriteBytes(copy, empty);
  const std::string cli = ShellQuote(NAMETREE_CLI), status = dir.File("status"), err = " 2>" + dir.File("err");
  auto shell = [&](const std::string& script) {
    if (std::system(("sh -c " + ShellQuote(script)).c_str()) == -1) ADD_FAILURE() << "no shell";
    return ReadBytes(status) + ReadBytes(dir.File("err"));
  };
  const std::string batch = cli + " batch " + doc + " " + input + " --keep-going";
  // Waits (up to a minute) until process $p has its SIGINT handler, so a slow start cannot race the signal.
  const std::string fifo = dir.File("fifo");
  const std::string kUntilCatching =
      "i=0; while [ $i -lt 600 ] && [ $(( 0x$(awk '/^SigCgt/{print $2}' /proc/$p/status) & 2 )) -eq 0 ]; do "
      "sleep 0.1; i=$((i + 1)); done; ";
  EXPECT_EQ(shell("(" + batch + " --json" + err + "; echo $? >" + status + ") | head -c 1 >/dev/null"), "141\n");
  RunProgram(dir, {"batch", copy, input, "--keep-going"});
  EXPECT_EQ(RunProgram(dir, {"tree", doc}).out, RunProgram(dir, {"tree", copy}).out);
  EXPECT_EQ(shell("trap '' PIPE; (" + cli + " tree " + doc + err + "; echo $? >" + status + ") | head -c 1 >/dev/null"),
            "141\n");
  WriteBytes(doc, empty);
  EXPECT_EQ(shell("mkfifo " + fifo + "; sleep 60 >" + fifo + " & s=$!; " + cli + " batch " + doc + " <" + fifo + err +
                  " & p=$!; " + kUntilCatching + "kill -INT $p; wait $p; echo $? >" + status + "; kill $s"),
            "130\nnametree: interrupted, " + doc + " unchanged\n");
  EXPECT_EQ(ReadBytes(doc), empty);
  EXPECT_NE(shell("script -qec " + ShellQuote(batch) + " /dev/null >" + status).find("saving " + doc + " ...\r\n"),
            std::string::npos);
}

}  // namespace
}  // namespace nametree::test
