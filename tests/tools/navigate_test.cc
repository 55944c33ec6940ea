// The program on a document with labels and kept keywords: finding one's
// way (tree from a container, ls, find by pattern, show with counts),
// labels and keywords kept beside the names, and the document as text
// (export, dump --canonical, diff). Exit codes, output and file bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

#include "nametree/cfb_storage.h"
#include "support/program.h"

namespace nametree::test {
namespace {

struct Case {
  std::vector<std::string> args;  // "DOC" stands for a fresh copy of the base, "FILE:x" for x in the scratch directory
  std::string input;
  int exit;
  std::vector<std::string> has{};    // fragments of stdout and stderr together; "=..." is the whole stdout
  bool unchanged = true;             // the copy keeps its bytes
  std::vector<std::string> then{};   // a command run on the copy afterwards
  std::vector<std::string> thenHas{};
  std::vector<std::string> before{};  // a command that prepares the copy (exit 0)
};

// A global container 1 labelled Sys with Pump1 (2); a target 3 labelled
// plc1 with Valve (4) and a plain sub-container 6 with Motor_1 (7), made by
// one batch.
class Navigate : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(Run({"init", Path("base.nt")}).exit, 0);
    const ProgramRun made = Run({"batch", Path("base.nt")},
                               "add-container 0 --type global --as Sys\nadd @Sys Pump1\n"
                               "add-container 0 --type target --as plc1\nadd @plc1 Valve\n"
                               "add-container @plc1 --ref io\nadd @io Motor_1\n");
    ASSERT_EQ(made.exit, 0) << made.err;
  }
  ProgramRun Run(std::vector<std::string> args, const std::string& input = "") const {
    for (std::string& a : args) {
      if (a == "DOC") a = Path("doc.nt");
      if (a.rfind("FILE:", 0) == 0) a = Path(a.substr(5));
    }
    return RunProgram(dir_, args, input);
  }
  void Expect(const std::vector<Case>& cases) const {
    const std::string original = ReadBytes(Path("base.nt"));
    for (const Case& c : cases) {
      WriteBytes(Path("doc.nt"), original);
      std::string trace;
      for (const std::string& a : c.args) trace += a + " ";
      SCOPED_TRACE(trace);
      if (!c.before.empty()) {
        ASSERT_EQ(Run(c.before).exit, 0);
      }
      const std::string prepared = ReadBytes(Path("doc.nt"));
      const ProgramRun r = Run(c.args, c.input);
      EXPECT_EQ(r.exit, c.exit) << r.out << r.err;
      Holds(r, c.has);
      EXPECT_EQ(ReadBytes(Path("doc.nt")) == prepared, c.unchanged);
      if (!c.then.empty()) Holds(Run(c.then), c.thenHas);
    }
  }
  static void Holds(const ProgramRun& r, const std::vector<std::string>& parts) {
    for (const std::string& part : parts) {
      if (part[0] == '=') EXPECT_EQ(r.out, part.substr(1));
      else EXPECT_NE((r.out + r.err).find(part), std::string::npos) << part << "\n" << r.out << r.err;
    }
  }
  std::string Path(const std::string& name) const { return dir_.File(name); }

  // Rebuilds the document `from` in a new one, `to`, through export and
  // batch (each with `how`); the canonical dump of the new one.
  std::string Rebuilt(const std::string& from, const std::string& how, const std::string& to) const {
    std::vector<std::string> exportArgs = {"export", Path(from)}, batchArgs = {"batch", Path(to), "-"};
    if (!how.empty()) exportArgs.push_back(how), batchArgs.push_back(how);
    EXPECT_EQ(Run({"init", Path(to)}).exit, 0);
    const ProgramRun exported = Run(exportArgs);
    const ProgramRun replayed = Run(batchArgs, exported.out);
    EXPECT_EQ(replayed.exit, 0) << exported.out << replayed.err;
    return Run({"dump", Path(to), "--canonical"}).out;
  }

  // The bytes of the document's "NameServer" stream.
  std::string ServerStream(const std::string& name) const {
    ComPtr<IStorage> root;
    ComPtr<IStream> stream;
    std::string error, bytes;
    if (!OpenCompoundFile(Path(name), false, &root, &error) ||
        Failed(root->OpenStream(u"NameServer", kOpenMode, stream.Put())))
      return error;
    char chunk[4096];
    std::uint32_t got = 0;
    while (!Failed(stream->Read(chunk, sizeof chunk, &got)) && got > 0) bytes.append(chunk, got);
    return bytes;
  }

 private:
  TempDir dir_;
};

TEST_F(Navigate, LabelsNameContainersEverywhereAnIdGoesAndLiveBesideTheNames) {
  Expect({
      {{"label", "DOC"}, "", 0, {"=@Sys  container 1 (global) at 1\n@plc1  container 3 (target) at 3\n"}},
      {{"label", "DOC", "@PLC1", "Line2"}, "", 0, {"=labelled container 3 @Line2 (was @plc1)\n"}, false,
       {"ls", "DOC"}, {"container 3 (target) @Line2: 1 name, 1 sub-container\n"}},
      {{"label", "DOC", "6", "sys"}, "", 1, {"container 1 has that label"}},
      {{"label", "DOC", "6", "1io"}, "", 1, {"name rule"}},
      {{"label", "DOC", "99", "Io"}, "", 2, {"no container has ID 99"}},
      {{"label", "DOC", "@nowhere", "Io"}, "", 2, {"no container has the label \"nowhere\""}},
      {{"label", "DOC", "6"}, "", 2, {"LABEL is missing"}},
      {{"label", "DOC", "6", "--remove"}, "", 1, {"has no label"}},
      {{"label", "DOC", "@sys", "--remove"}, "", 0, {"removed the label @Sys of container 1"}, false,
       {"tree", "DOC"}, {"container 1 (global)\n  2  Pump1\ncontainer 3 (target) @plc1\n"}},
      {{"add", "DOC", "@Plc1", "Gate"}, "", 0, {"added \"Gate\" to container 3"}, false},
      {{"add", "DOC", "@plc", "Gate"}, "", 2, {"no container has the label \"plc\""}},
      {{"add-container", "DOC", "@Sys", "--label", "Pumps"}, "", 0, {"under container 1 labelled @Pumps"}, false,
       {"tree", "DOC", "--json"}, {"{\"id\":9,\"type\":0,\"typeName\":\"plain\",\"label\":\"Pumps\","}},
      {{"add-container", "DOC", "0", "--label", "SYS"}, "", 1, {"container 1 has that label"}},
      {{"delete", "DOC", "@plc1", "--container"}, "", 0, {}, false, {"label", "DOC"}, {"=@Sys  container 1 (global) at 1\n"}},
      {{"check", "DOC", "@plc1", "PUMP1"}, "", 1, {"in container 3 (target)", "global namespace"}},
      {{"next", "DOC", "6", "Valve"}, "", 0, {"=Valve1\n"}},
      {{"show", "DOC", "@plc1"}, "", 0,
       {"=container 3 (target) @plc1 at 3\n  holds 1 name and 1 sub-container; with everything below it, 2 names in 2 "
        "containers\n"}},
      {{"find", "DOC", "valve"}, "", 0, {"=4  \"Valve\"  in container 3 (target) @plc1 at 3\n"}},
      // --as keeps the label: a rerun finds the container it made, another container may not take it.
      {{"batch", "DOC"}, "add-container 0 --type global --as SYS\nadd @sys Extra\n", 0, {"applied 2 edits"}, false,
       {"ls", "DOC", "@Sys"}, {"  2  Pump1\n  8  Extra\n"}},
      {{"batch", "DOC"}, "add-container 0 --type target --as Sys\n", 1, {"container 1 has that label"}},
      {{"batch", "DOC"}, "add-container 0 --as Top --ref t\n", 2, {"--as or --ref, not both"}},
      {{"batch", "DOC", "--csv"}, "container,name\n@PLC1,Gate\n6,Gate2\n", 0, {"applied 2 edits"}, false,
       {"ls", "DOC", "3"}, {"  4  Valve\n  8  Gate\n"}},
      {{"batch", "DOC", "--csv"}, "container,name\n@nowhere,Gate\n", 2, {"no container has that label"}},
  });
  // A label changes the settings stream alone: the names' stream keeps every byte.
  const std::string names = ServerStream("base.nt");
  ASSERT_FALSE(names.empty());
  ASSERT_EQ(Run({"label", Path("base.nt"), "6", "Io"}).exit, 0);
  EXPECT_EQ(ServerStream("base.nt"), names);
  ASSERT_EQ(Run({"keyword", "add", Path("base.nt"), "BEGIN"}).exit, 0);
  EXPECT_EQ(ServerStream("base.nt"), names);
}

TEST_F(Navigate, KeywordsKeptInTheDocumentApplyToEveryCommandWithoutOptions) {
  Expect({
      {{"keyword", "add", "DOC", "Begin", "END", "begin"}, "", 0, {"added 2 keywords to ", "(1 kept already)"}, false,
       {"keyword", "list", "DOC"}, {"Begin\nEND\n"}},
      {{"add", "DOC", "3", "begin"}, "", 1, {"keyword"}, true, {}, {}, {"keyword", "add", "DOC", "BEGIN"}},
      {{"rename", "DOC", "4", "End"}, "", 1, {"keyword"}, true, {}, {}, {"keyword", "add", "DOC", "END"}},
      {{"check", "DOC", "3", "End"}, "", 1, {"add:        would be refused"}, true, {}, {}, {"keyword", "add", "DOC", "END"}},
      {{"next", "DOC", "3", "Q"}, "", 0, {"=Q2\n"}, true, {}, {}, {"keyword", "add", "DOC", "Q1"}},
      {{"lint", "DOC"}, "", 1, {"error: container 1 (global) @Sys at 1: \"Pump1\" (ID 2) is a keyword"}, true, {}, {},
       {"keyword", "add", "DOC", "PUMP1"}},
      {{"batch", "DOC"}, "keyword Gate\n", 0, {}, false, {"keyword", "list", "DOC"}, {"=Gate\n"}},
      {{"add", "DOC", "3", "If"}, "", 1, {"keyword"}, true, {}, {}, {"keyword", "add", "DOC", "--set", "iec61131-3"}},
      {{"add", "DOC", "3", "TON"}, "", 0, {}, false, {}, {}, {"keyword", "add", "DOC", "--set", "iec61131-3"}},
      {{"add", "DOC", "3", "While", "--keyword-set", "iec61131-3"}, "", 1, {"keyword"}},
      {{"batch", "DOC", "--keyword-set", "iec61131-3"}, "add 3 Real\n", 1, {"keyword"}},
      {{"lint", "DOC", "--json"}, "", 1, {"\"id\":2,\"name\":\"Pump1\",\"label\":\"Sys\"}"}, true, {}, {},
       {"keyword", "add", "DOC", "PUMP1"}},
      {{"lint", "DOC", "--keyword-set", "nope"}, "", 2, {"no built-in keyword set is called \"nope\""}},
      {{"keyword", "remove", "DOC", "begin"}, "", 0, {"removed 1 keyword"}, false, {"keyword", "list", "DOC"}, {"=END\n"},
       {"keyword", "add", "DOC", "BEGIN", "END"}},
      {{"keyword", "remove", "DOC", "Zed"}, "", 1, {"not kept in the document: \"Zed\""}},
      {{"keyword", "drop", "DOC", "X"}, "", 2, {"ACTION is add, remove or list"}},
      {{"keyword", "list", "DOC", "X"}, "", 2, {"list takes no words"}},
  });
}

TEST_F(Navigate, TreeLsFindAndShowGoStraightToWhatIsAsked) {
  Expect({
      {{"tree", "DOC", "@plc1", "--depth", "0"}, "", 0, {"=container 3 (target) @plc1\n  4  Valve\n  ... 1 sub-container below\n"}},
      {{"tree", "DOC", "3"}, "", 0, {"=container 3 (target) @plc1\n  4  Valve\n  container 6 (plain)\n    7  Motor_1\n"}},
      {{"tree", "DOC", "--depth", "0", "--json"}, "", 0, {"\"containers\":[],\"containersNotShown\":1}"}},
      {{"tree", "DOC", "6", "--json"}, "", 0, {"\"containers\":[{\"id\":6,\"type\":0,\"typeName\":\"plain\",\"names\""}},
      {{"tree", "DOC", "5"}, "", 2, {"no container has ID 5"}},
      {{"tree", "DOC", "3", "--depth", "x"}, "", 2, {"--depth must be a number"}},
      {{"ls", "DOC"}, "", 0,
       {"=top level: 2 containers\n  container 1 (global) @Sys: 1 name, 0 sub-containers\n"
        "  container 3 (target) @plc1: 1 name, 1 sub-container\n"}},
      {{"ls", "DOC", "6", "--json"}, "", 0,
       {"\"container\":{\"id\":6,\"type\":0,\"typeName\":\"plain\",\"names\":1,\"containers\":0,\"path\":\"3/6\"},"
        "\"names\":[{\"id\":7,\"name\":\"Motor_1\"}],\"containers\":[]"}},
      {{"find", "DOC", "PU", "--prefix"}, "", 0, {"=2  \"Pump1\"  in container 1 (global) @Sys at 1\n"}},
      {{"find", "DOC", "Pump", "--prefix"}, "", 0, {"\"Pump1\""}},
      {{"find", "DOC", "Pump"}, "", 1, {"=no entry is \"Pump\" in any letter case\n"}},
      {{"find", "DOC", "*O*", "--glob"}, "", 0, {"=7  \"Motor_1\"  in container 6 (plain) at 3/6\n"}},
      {{"find", "DOC", "v?lv*", "--glob"}, "", 0, {"\"Valve\""}},
      {{"find", "DOC", "?", "--glob"}, "", 1, {"=no entry matches \"?\"\n"}},
      {{"find", "DOC", "^(pump1|VALVE)$", "--regex", "--json"}, "", 0, {"\"id\":2,\"name\":\"Pump1\"", "\"id\":4,\"name\":\"Valve\""}},
      {{"find", "DOC", "_\\d$", "--regex"}, "", 0, {"7  \"Motor_1\""}},
      {{"find", "DOC", "(", "--regex"}, "", 2, {"does not compile"}},
      {{"find", "DOC", "P", "--prefix", "--glob"}, "", 2, {"exclude each other"}},
      {{"show", "DOC", "3", "--json"}, "", 0, {"\"label\":\"plc1\",\"path\":\"3\",\"names\":1,\"containers\":1,\"treeNames\":2,\"treeContainers\":2}"}},
  });
}

// IDs left out, the canonical dump of a document and of its export replayed.
std::string WithoutIds(const std::string& dump) {
  return std::regex_replace(dump, std::regex("(^|\n)( *)(container )?[0-9]+"), "$1$2$3#");
}

TEST_F(Navigate, ExportRebuildsTheTreeAndDiffNamesEveryChangeByID) {
  WriteBytes(Path("more"), "rename 4 Gate\ndelete 2\nadd-container 1 --ref x\nadd @x Flow\nkeyword K\n");
  Expect({
      {{"export", "DOC"}, "", 0,
       {"=# nametree export of " + Path("doc.nt") + "\nadd-container 0 --type global --as Sys\nadd @Sys Pump1\n"
        "add-container 0 --type target --as plc1\nadd @plc1 Valve\nadd-container @plc1 --type plain --ref 6\n"
        "add @6 Motor_1\nkeyword \"Sp ace\"\n"}, true, {}, {}, {"keyword", "add", "DOC", "Sp ace"}},
      {{"export", "DOC", "--csv"}, "", 0,
       {"=container,name,kind,parent,type\n@Sys,,,0,global\n@Sys,Pump1,,,\n@plc1,,,0,target\n@plc1,Valve,,,\n"
        "--ref 6,,,@plc1,plain\n@6,Motor_1,,,\n"}},
      {{"dump", "DOC", "--canonical"}, "", 0,
       {"=keyword A\nkeyword B\ncontainer 1 (global) @Sys\n  2 Pump1\ncontainer 3 (target) @plc1\n  4 Valve\n"
        "  container 6 (plain)\n    7 Motor_1\n"}, true, {}, {}, {"keyword", "add", "DOC", "B", "A"}},
      {{"diff", "FILE:base.nt", "DOC"}, "", 0, {"="}},
      {{"diff", "FILE:base.nt", "DOC"}, "", 1, {"=relabelled container 3 from @plc1 to @Line\n"}, true, {}, {},
       {"label", "DOC", "3", "Line"}},
      {{"diff", "DOC", "FILE:base.nt"}, "", 1,
       {"=removed container 9 (plain) from under 1\nadded name 2 \"Pump1\" to container 1\n"
        "renamed name 4 from \"Gate\" to \"Valve\"\nremoved name 10 \"Flow\" from container 9\nremoved keyword \"K\"\n"},
       true, {}, {}, {"batch", "DOC", "FILE:more"}},
      {{"diff", "DOC", "FILE:base.nt", "--json"}, "", 1,
       {"\"equal\":false,\"changes\":[{\"change\":\"removed\",\"container\":9,\"parent\":1}"}, true, {}, {},
       {"batch", "DOC", "FILE:more"}},
      {{"diff", "DOC", "FILE:absent.nt"}, "", 2, {"absent.nt"}},
  });
  // What add refuses but the document holds comes back too, under other IDs.
  const std::string odd = "add 6 \"Two \\\"words\\\"\" --kind 1\nadd 3 _Under --kind 1\nadd 6 PUMP1 --no-check\n"
                          "add 6 Tab\\tX --kind 1\nadd 6 Lone\\u{DC01}x --kind 1\nkeyword Valve\n";
  ASSERT_EQ(Run({"batch", Path("base.nt")}, odd).exit, 0);
  ASSERT_EQ(Run({"init", Path("copy.nt")}).exit, 0);
  ASSERT_EQ(Run({"add-container", Path("copy.nt"), "0"}).exit, 0);
  ASSERT_EQ(Run({"delete", Path("copy.nt"), "1", "--container"}).exit, 0);
  const ProgramRun exported = Run({"export", Path("base.nt")});
  const ProgramRun replayed = Run({"batch", Path("copy.nt")}, exported.out);
  ASSERT_EQ(replayed.exit, 0) << exported.out << replayed.err;
  const std::string before = Run({"dump", Path("base.nt"), "--canonical"}).out;
  const std::string after = Run({"dump", Path("copy.nt"), "--canonical"}).out;
  EXPECT_NE(before, after) << "the IDs differ";
  EXPECT_EQ(WithoutIds(before), WithoutIds(after));
  // A lone surrogate, which UTF-8 cannot carry, comes back as the same unit.
  EXPECT_NE(Run({"export", Path("copy.nt")}).out.find(" Lone\\u{DC01}x --kind 1\n"), std::string::npos);
}

TEST_F(Navigate, CsvExportRebuildsUnlabelledNestedContainers) {
  // Under unlabelled 6: unlabelled 9 and, in it, a labelled one; a name on
  // every level, one that needs quotes and one of kind 1.
  ASSERT_EQ(Run({"batch", Path("base.nt")},
                "add-container 6 --ref deep\nadd @deep \"Comma,\\\"Quote\" --kind 1\nadd 6 Second\n"
                "add-container @deep --type own --as Cell\nadd @Cell _Under --kind 1\nadd-container 0 --ref bare\n")
                .exit,
            0);
  const std::string before = Run({"dump", Path("base.nt"), "--canonical"}).out;
  ASSERT_NE(before.find("    container 9 (plain)\n      10 Comma,\"Quote\n      container "),
            std::string::npos)
      << before;
  ASSERT_EQ(Run({"keyword", "add", Path("base.nt"), "Mine"}).exit, 0);
  const std::string dump = Run({"dump", Path("base.nt"), "--canonical"}).out;
  const std::string text = Rebuilt("base.nt", "", "text.nt");
  EXPECT_EQ(WithoutIds(text), WithoutIds(dump));
  const std::string csv = Rebuilt("base.nt", "--csv", "csv.nt");
  EXPECT_EQ(WithoutIds(csv), WithoutIds(std::regex_replace(dump, std::regex("keyword Mine\n"), "")));
  // The labels are kept and the refs are not: exporting again writes the same rows.
  const ProgramRun again = Run({"export", Path("csv.nt"), "--csv"});
  EXPECT_NE(again.out.find("\n@Sys,,,0,global\n"), std::string::npos) << again.out;
  EXPECT_EQ(Run({"label", Path("csv.nt")}).out.find("@6"), std::string::npos);
  // A ref stands for this batch alone, and a row either makes or adds.
  Expect({
      {{"batch", "DOC", "--csv"}, "container,name,kind,parent,type\n--ref a,,,@plc1,target\n@a,Tag,,,\n", 0,
       {"applied 2 edits"}, false, {"tree", "DOC", "--json"}, {"\"name\":\"Tag\""}},
      {{"batch", "DOC", "--csv"}, "container,name,parent,type\n--ref a,,0,plain\n--ref a,,0,plain\n", 2,
       {"already uses --as a"}},
      {{"batch", "DOC", "--csv"}, "container,name,parent,type\n@plc1,X,0,\n", 2, {"not both"}},
      {{"batch", "DOC", "--csv"}, "container,name,parent,type\nplc1,,0,global\n", 2, {"@LABEL (kept), --ref NAME"}},
      {{"batch", "DOC", "--csv"}, "container,name,parent,type\n@New,,,global\n", 2, {"gives its parent"}},
      {{"batch", "DOC", "--csv"}, "container,name,parent,type\n@New,,0,bogus\n", 2, {"--type must be"}},
      {{"batch", "DOC", "--csv"}, "container,name,type,parent\n", 2, {"column 3 \"type\""}},
      {{"batch", "DOC", "--csv"}, "container,name,kind,parent,type\n@x,Tag,,\n", 2, {"expected 5 fields, found 4"}},
  });
}

TEST_F(Navigate, ExportWritesAKeywordSetHeldWholeAsOneLine) {
  ASSERT_EQ(Run({"keyword", "add", Path("base.nt"), "Mine", "--set", "iec61131-3"}).exit, 0);
  ASSERT_EQ(Run({"keyword", "add", Path("base.nt"), "Late"}).exit, 0);
  const std::string kept = Run({"keyword", "list", Path("base.nt")}).out;
  const ProgramRun exported = Run({"export", Path("base.nt")});
  EXPECT_NE(exported.out.find("\nkeyword Mine\nkeyword --set iec61131-3\nkeyword Late\n"), std::string::npos)
      << exported.out;
  const std::string dump = Run({"dump", Path("base.nt"), "--canonical"}).out;
  EXPECT_EQ(WithoutIds(Rebuilt("base.nt", "", "copy.nt")), WithoutIds(dump));
  EXPECT_EQ(Run({"keyword", "list", Path("copy.nt")}).out, kept);
  // One word short of the set: every word on a line of its own.
  ASSERT_EQ(Run({"keyword", "remove", Path("copy.nt"), "WSTRING"}).exit, 0);
  const std::string partial = Run({"export", Path("copy.nt")}).out;
  const std::string left = Run({"keyword", "list", Path("copy.nt")}).out;
  EXPECT_EQ(partial.find("--set"), std::string::npos);
  std::size_t lines = 0;
  for (std::size_t at = partial.find("\nkeyword "); at != std::string::npos; at = partial.find("\nkeyword ", at + 1)) ++lines;
  EXPECT_EQ(lines, static_cast<std::size_t>(std::count(left.begin(), left.end(), '\n')));
  Expect({
      {{"batch", "DOC"}, "keyword --set iec61131-3 BEGIN\n", 2, {"a WORD or --set NAME"}},
      {{"batch", "DOC"}, "keyword --set c89\n", 2, {"no built-in keyword set is called \"c89\""}},
  });
}

}  // namespace
}  // namespace nametree::test
