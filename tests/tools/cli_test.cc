// The nametree program driven from the outside: exit codes, what it prints,
// and that a run which must not change the document leaves it byte for byte
// as it was.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "legacy/legacy_doc.h"
#include "nametree/cfb_storage.h"
#include "nametree/name_server.h"
#include "support/program.h"

namespace nametree::test {
namespace {

struct Case {
  std::vector<std::string> args;  // "DOC" stands for the copy, "FILE:x" for x in the scratch directory
  std::string input;              // standard input
  int exit;
  std::vector<std::string> out{}, err{};  // fragments each stream must hold
  bool unchanged = true;                  // the copy keeps its bytes
  std::vector<std::string> after{};       // fragments of `tree DOC --json` once the run is done
};

void ExpectHolds(const std::string& text, const std::vector<std::string>& parts) {
  for (const std::string& part : parts) EXPECT_NE(text.find(part), std::string::npos) << part << "\n" << text;
}

// Runs the built program as a user would, in a scratch directory holding a
// base document: a global container 1 with Pump1 (2) and a Cyrillic-a
// "V\u0430lve" (5) that looks like the Valve (4) of target 3, made by one
// batch; and two files that are no documents.
class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(Run({"init", Path("base.nt")}).exit, 0);
    const ProgramRun made = Run({"batch", Path("base.nt")},
                               "add-container 0 --type global\nadd 1 Pump1\nadd-container 0 --type target\n"
                               "add 3 Valve\nadd 1 V\u0430lve\n");
    ASSERT_EQ(made.exit, 0) << made.err;
    WriteFile("garbage.nt", std::string(3000, 'x'));
    WriteFile("words.txt", "\xEF\xBB\xBFmotor\r\nBegin\n");
  }
  // Runs the program with `input` on stdin; `out` names where stdout goes
  // (its own file when empty).
  ProgramRun Run(const std::vector<std::string>& args, const std::string& input = "", const std::string& out = "") const {
    return RunProgram(dir_, args, input, out);
  }

  // Runs each case on a fresh copy of the scratch file `base`.
  void Expect(const std::vector<Case>& cases, const std::string& base = "base.nt") const {
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
      const ProgramRun r = Run(args, c.input);
      EXPECT_EQ(r.exit, c.exit) << r.out << r.err;
      ExpectHolds(r.out, c.out);
      ExpectHolds(r.err, c.err);
      EXPECT_EQ(Bytes("doc.nt") == original, c.unchanged);
      if (!c.after.empty()) ExpectHolds(Run({"tree", Path("doc.nt"), "--json"}).out, c.after);
    }
  }

  std::string Path(const std::string& name) const { return dir_.File(name); }
  std::string Bytes(const std::string& name) const { return ReadBytes(Path(name)); }
  void WriteFile(const std::string& name, const std::string& bytes) const { WriteBytes(Path(name), bytes); }

  // Writes `legacy` as a compound file of the earlier format.
  void WriteLegacy(const std::string& name, const LegacyDocument& legacy) {
    ComPtr<IStorage> root;
    std::string error;
    ASSERT_TRUE(CreateCompoundFile(Path(name), &root, &error)) << error;
    ASSERT_TRUE(PutLegacyStream(root.Get(), EncodeLegacyStream(legacy)));
    ASSERT_TRUE(CommitCompoundFile(root.Get(), &error)) << error;
  }

 private:
  TempDir dir_;
};

TEST_F(Cli, LookupsProposalsChecksAndErrors) {
  Expect({
      {{}, "", 2},
      {{"--help"}, "", 0, {"import-legacy"}},
      {{"rename", "--help"}, "", 0, {"NEWNAME", "--kind"}},
      {{"-V"}, "", 0, {"nametree "}},
      {{"frobnicate"}, "", 2, {}, {"frobnicate"}},
      {{"help", "ad"}, "", 2, {}, {"unknown command \"ad\"; did you mean \"add\"?"}},
      {{"help", "add", "rename"}, "", 2},
      {{"help", "--man", "add"}, "", 2, {}, {"--man takes no COMMAND"}},
      {{"help", "--man"}, "", 0, {".SH EXIT STATUS\n", ".SH EXAMPLES\n", ".SH FILES\n", "\\fI.FILE.nametree\\-tmp.PID.XXXXXX\\fR",
                                  "\"NametreeLabels\"", "\n.TP\n\\fB128+N\\fR\n"}},
      {{"add", "DOC"}, "", 2},  // too few arguments
      {{"tree", "DOC", "--bogus"}, "", 2},
      {{"add", "DOC", "x", "Y", "--json"}, "", 2, {"\"resultName\":\"E_INVALIDARG\""}},
      {{"add", "DOC", "3", "Motor", "--kind", "x"}, "", 2},
      {{"add-container", "DOC", "0", "--type", "5x"}, "", 2, {},
       {"--type must be global, target, own, plain or a number from -32768 to 32767, not \"5x\""}},
      {{"next", "DOC", "1", "Pump", "--digits", "33"}, "", 2, {}, {"--digits must be a number from 0 to 32, not \"33\""}},
      {{"check", "DOC", "1", "X", "--keyword-set", "nope"}, "", 2, {}, {"no built-in keyword set is called \"nope\""}},
      {{"add", "DOC", "3", "Motor", "--wait", "soon"}, "", 2, {}, {"--wait takes a whole number"}},
      {{"batch", "DOC", "-", "--wait", "-1"}, "add 3 Motor\n", 2, {}, {"--wait takes a whole number"}},
      {{"add", "DOC", "3", "Motor", "--keywords", "-", "--keywords", "FILE:absent"}, "", 2, {}, {"absent"}},
      {{"tree", "FILE:absent.nt"}, "", 2, {}, {Path("absent.nt")}},
      {{"tree", "FILE:garbage.nt", "--json"}, "", 2, {"\"error\":", Path("garbage.nt")}},
      {{"init", "DOC"}, "", 2},  // never replaces a file
      {{"find", "DOC", "PUMP1"}, "", 0, {"2  \"Pump1\"  in container 1 (global) at 1\n"}},
      {{"find", "DOC", "Nothing", "--json"}, "", 1, {"{\"text\":\"Nothing\",\"found\":[]}"}},
      {{"show", "DOC", "3"}, "", 0, {"container 3 (target) at 3\n"}},
      {{"show", "DOC", "4", "--json"}, "", 0, {"\"names\":[{\"id\":4,\"name\":\"Valve\",\"container\":{\"id\":3"}},
      {{"show", "DOC", "77"}, "", 1, {"nothing has ID 77"}},
      {{"check", "DOC", "3", "PUMP1", "--json"}, "", 1,
       {"\"namespace\":\"global\",\"container\":1,\"id\":2", "\"result\":\"E_NAME_DUPLICATE\""}},
      {{"check", "DOC", "3", "Motor"}, "", 0, {"duplicate:  no"}},
      {{"next", "DOC", "3", "Pump"}, "", 0, {"Pump2\n"}},  // Pump1 is global
      {{"next", "DOC", "3", "Pump", "--local"}, "", 0, {"Pump1\n"}, {"add would refuse \"Pump1\""}},
      {{"next", "DOC", "1", "Valve", "--digits", "3"}, "", 0, {"Valve001\n"}},
      {{"next", "DOC", "3", "Gate", "--keywords", "-"}, "GATE1\n", 0, {"Gate2\n"}},
      {{"next", "DOC", "3", "2nd"}, "", 1, {}, {"no number makes a valid name", "begins with \"2\""}},
      {{"next", "DOC", "3", "2nd", "--kind", "1", "--json"}, "", 0, {"\"proposal\":\"2nd1\""}},
      {{"lint", "DOC"}, "", 0, {"0 errors, 2 warnings"}},  // each side of the look-alike
      {{"lint", "DOC", "--strict", "--json"}, "", 1, {"\"errors\":0,\"warnings\":2"}},
  });
  EXPECT_EQ(Run({"tree", Path("base.nt")}, "", "/dev/full").exit, 2) << "unwritable output";
}

TEST_F(Cli, EditsAreSavedAndNotifiedAndRefusalsNamedWithoutTouchingTheFile) {
  Expect({
      {{"add", "DOC", "3", "Motor", "--json"}, "", 0, {"\"id\":6"}, {}, false, {"{\"id\":6,\"name\":\"Motor\"}"}},
      {{"rename", "DOC", "2", "FeedPump"}, "", 0,
       {"renamed ID 2 from \"Pump1\" to \"FeedPump\"\n"
        "  notified NameChanged: container 1, ID 2, \"Pump1\" -> \"FeedPump\"\n"},
       {}, false, {"{\"id\":2,\"name\":\"FeedPump\"}"}},
      {{"delete", "DOC", "4"}, "", 0, {"NameWasDeleted: container 3, ID 4"}, {}, false,
       {"\"typeName\":\"target\",\"names\":[]"}},
      {{"add", "DOC", "3", "Motor", "--wait", "0", "--force"}, "", 0, {}, {}, false},
      {{"tree", "DOC"}, "", 0, {"container 1 (global)\n  2  Pump1\n"}},
      {{"dump", "DOC", "--json"}, "", 0, {"\"name\":\"Pump1\""}},
      {{"add", "DOC", "3", "pump1"}, "", 1, {}, {"doc.nt", "global namespace", "ID 2"}},
      {{"add", "DOC", "3", "pump1", "--json"}, "", 1,
       {"{\"error\":\"cannot add \\\"pump1\\\"", "\"result\":\"0x800A03EB\",\"resultName\":\"E_NAME_DUPLICATE\"}"}},
      {{"add", "DOC", "3", "1abc"}, "", 1, {}, {"doc.nt"}},
      {{"add", "DOC", "99", "Motor"}, "", 2, {}, {"doc.nt"}},
      {{"add", "DOC", "3", "MOTOR", "--keywords", "FILE:words.txt"}, "", 1, {}, {"keyword"}},
      {{"rename", "DOC", "2", "Pump1"}, "", 1, {}, {"doc.nt"}},
      {{"rename", "DOC", "77", "Motor"}, "", 1, {}, {"doc.nt"}},
      {{"delete", "DOC", "77"}, "", 1, {}, {"doc.nt"}},
      {{"add-container", "DOC", "55"}, "", 2, {}, {"doc.nt"}},
  });
}

TEST_F(Cli, ADamagedNameServerStopsEveryCommandAndHiddenCharactersShowEscaped) {
  // The "NameServer" entry's chain points out of the file.
  std::string damaged = Bytes("base.nt");
  const std::size_t entry = damaged.find(std::string("N\0a\0m\0e\0S\0e\0r\0v\0e\0r\0", 20));
  ASSERT_NE(entry, std::string::npos);
  damaged.replace(entry + 116, 4, std::string("\xFF\xFF\xFF\x00", 4));
  WriteFile("damaged.nt", damaged);
  const std::vector<std::string> damage = {"doc.nt: the \"NameServer\" stream is damaged and cannot be read ("};
  Expect({{{"tree", "DOC"}, "", 2, {}, damage},
          {{"lint", "DOC"}, "", 2, {}, damage},
          {{"find", "DOC", "Pump1"}, "", 2, {}, damage},
          {{"add", "DOC", "1", "Motor"}, "", 2, {}, damage},
          {{"add-container", "DOC", "0", "--force"}, "", 2, {}, damage},
          {{"batch", "DOC", "--force"}, "add-container 0\n", 2, {}, damage},
          {{"repair", "DOC", "--force"}, "", 2, {}, damage},
          {{"tree", "DOC", "--json"}, "", 2, {"\"kind\":\"damaged\""}}},
         "damaged.nt");
  // A declared size one mini sector past the chain: --force keeps what the chain holds.
  std::string longer = Bytes("base.nt");
  std::uint32_t size = 0;
  std::memcpy(&size, &longer[entry + 120], 4);
  size += 64;
  std::memcpy(&longer[entry + 120], &size, 4);
  WriteFile("longer.nt", longer);
  Expect({{{"add", "DOC", "3", "Motor"}, "", 2, {}, damage},
          {{"add", "DOC", "3", "Motor", "--force"}, "", 0, {}, {}, false, {"\"name\":\"Pump1\"", "\"name\":\"Motor\""}}},
         "longer.nt");
  const std::string evil = "Evil\\u{202E}gnp\\u{FE0F}";  // as the program shows it
  Expect({{{"add", "DOC", "3", evil, "--kind", "1", "--no-check"}, "", 0, {"added \"" + evil + "\" to container 3"}, {},
           false, {"\"name\":\"Evil\u202Egnp\uFE0F\""}},
          {{"add", "DOC", "3", "Tab\\tX\\x01\\\\", "--kind", "1", "--no-check"}, "", 0, {"\"Tab\\u{0009}X\\u{0001}\\\\\""}, {},
           false, {"\"name\":\"Tab\\tX\\u0001\\\\\""}},
          {{"batch", "DOC"}, "add 1 " + std::string(5000, 'x') + "\n", 1, {}, {"... (5000 UTF-16 code units)"}}});
  const ProgramRun full = Run({"add", Path("base.nt"), "3", "Motor"}, "", "/dev/full");
  EXPECT_EQ(full.exit, 2);
  ExpectHolds(full.err, {"cannot write the output", "the edits were saved to " + Path("base.nt")});
}

TEST_F(Cli, BatchAppliesAllOrNothingAndReportsEveryRefusedLine) {
  const std::string refusals = "add 3 pump1\nadd 3 Gate\nadd 3 gate\nadd 9 X\n";
  Expect({
      {{"batch", "DOC", "-"},
       "# labels\n\nadd-container 3 --type target --as plc\nadd @plc Tag1\nrename 2 FeedPump\nkeyword BEGIN\n"
       "add @plc \"Tag2\"\n",
       0, {"applied 5 edits"}, {}, false, {"{\"id\":8,\"name\":\"Tag1\"}", "{\"id\":9,\"name\":\"Tag2\"}"}},
      {{"batch", "DOC"}, refusals, 2, {"3 lines refused", "left as it was"},
       {"standard input:1: ", "global namespace", "standard input:3: ", "standard input:4: ", "no container has ID 9"}},
      {{"batch", "DOC", "--keep-going"}, refusals, 2, {"applied 1 of 4 edits"}, {}, false, {"\"name\":\"Gate\""}},
      {{"batch", "DOC", "--json"}, refusals, 2,
       {"\"applied\":1,\"saved\":false", "{\"line\":1,\"text\":\"add 3 pump1\"", "\"resultName\":\"E_NAME_DUPLICATE\""}},
      {{"batch", "DOC"}, "frob 1\nadd 3\nadd @nowhere X\nadd 3 'open\n", 2, {}, {":1: ", ":2: ", ":3: ", ":4: "}},
      {{"batch", "DOC"}, "keyword Gate\nadd 3 GATE\n", 1, {}, {"keyword"}},
      {{"batch", "DOC", "--csv"}, "Container,Name,Kind\n3,Alpha,\n3,_Beta,1\n3,\"Ga\"\"te\",1\n", 0, {"applied 3"}, {},
       false, {"\"name\":\"Ga\\\"te\""}},
      {{"batch", "DOC", "--csv"}, "container;name\n3;Alpha\n", 2, {}, {"header"}},
      {{"batch", "DOC", "-", "--keywords", "-"}, "add 3 X\n", 2, {}, {"standard input"}},
      {{"batch", "DOC", "FILE:absent.txt"}, "", 2, {}, {"absent.txt"}},
  });
}

// A document with what the library refuses at entry, made by a host that
// switched the checks off, and saved with its counter set back.
TEST_F(Cli, LintFindsWhatEntryWouldRefuseAndRepairRaisesTheCounter) {
  {
    CNameContainer::SetLastIssuedNameID(0);
    CNameServer server;
    const std::uint32_t g = server.AddContainer(0, kGlobalContainer), t = server.AddContainer(0, kTargetContainer);
    const std::uint32_t plain = server.AddContainer(t, kOrdinaryContainer);
    std::uint32_t id = 0;
    for (auto [container, text] : std::vector<std::pair<std::uint32_t, CString>>{
             {g, u"Pump"}, {t, u"PUMP"}, {t, u"\u0420ump"}, {plain, u"1bad"}, {plain, u"Twin"}, {plain, u"TWIN"},
             {plain, u"Ctl\u0001"}, {plain, CString(u"Lone") + char16_t(0xD800)}})
      ASSERT_EQ(server.AddName(id, container, text, kAllowLeadingUnderscore, false), S_OK);
    server.GetContainer(plain)->AddNameFromData(5, u"Again", 0);
    CNameContainer::SetLastIssuedNameID(3);
    ComPtr<IStorage> storage;
    std::string error;
    ASSERT_TRUE(CreateCompoundFile(Path("bad.nt"), &storage, &error)) << error;
    ASSERT_EQ(server.Save(storage.Get()), S_OK);
    ASSERT_TRUE(CommitCompoundFile(storage.Get(), &error)) << error;
  }
  Expect({
      {{"lint", "DOC"}, "", 1,
       {"\"PUMP\" (ID 6) collides with the global namespace: \"Pump\" (ID 5)", "collides with the target namespace",
        "\"1bad\" (ID 8) breaks the name rule", "\"Twin\" (ID 9) and \"TWIN\" (ID 10) are one text held twice",
        "stored last issued ID 3 is below ID 12", "\"\u0420ump\" (ID 7) looks like \"PUMP\" (ID 6) of the own-tree",
        "ID 5 is held twice: by name \"Pump\" in container 1", "8 errors, 3 warnings"}},
      {{"lint", "DOC", "--json"}, "", 1, {"{\"severity\":\"warning\",\"check\":\"look-alike\""}},
      {{"tree", "DOC"}, "", 0, {"     9  Twin\n    10  TWIN\n    11  Ctl\\u{0001}\n", "12  Lone\\u{D800}\n"}},
      {{"tree", "DOC", "--json"}, "", 0, {"{\"id\":12,\"name\":\"Lone\xEF\xBF\xBD\"}"}},
      {{"add", "DOC", "1", "Fresh"}, "", 2, {}, {"nametree repair"}},
  }, "bad.nt");
  const ProgramRun repair = Run({"repair", Path("bad.nt")});
  EXPECT_EQ(repair.exit, 1) << "the collisions remain";
  ExpectHolds(repair.out, {"raised the stored last issued ID from 3 to 12"});
  EXPECT_EQ(repair.out.find("below ID"), std::string::npos) << repair.out;
  EXPECT_EQ(Run({"add", Path("bad.nt"), "1", "Fresh"}).out, "added \"Fresh\" to container 1 as ID 13\n");
}

TEST_F(Cli, ImportAndDemoConvertListWhatTheyDropAndNeverOverwrite) {
  LegacyDocument legacy{.lastIssuedID = 300,
                        .objects = {Name(100, u"Pump", 10), Name(101, u"Valve", 10), Name(102, u"Orphan", 99)},
                        .containers = {Box(10, 3)}};
  WriteLegacy("old.doc", legacy);
  legacy.objects.clear();
  for (std::uint32_t i = 0; i < 32768; ++i) legacy.objects.push_back(Name(1000 + i, u"N", 10));
  WriteLegacy("big.doc", legacy);
  Expect({
      {{"import-legacy", "FILE:old.doc", "FILE:new.nt"}, "", 0,
       {"1 container, 2 names\ndropped 1 record of",
        "name object 102 \"Orphan\": container 99, where it belongs, does not exist"}},
      {{"tree", "FILE:new.nt", "--json"}, "", 0, {"\"lastIssuedID\":300", "{\"id\":101,\"name\":\"Valve\"}"}},
      {{"import-legacy", "FILE:old.doc", "FILE:other.nt", "--json"}, "", 0,
       {"\"dropped\":1,\"drops\":[{\"record\":\"name object\",\"id\":102,\"reason\":\"container-missing\""}},
      {{"import-legacy", "DOC", "FILE:current.nt"}, "", 2},  // a current document is no legacy one
      {{"import-legacy", "FILE:old.doc", "DOC"}, "", 2},
      {{"import-legacy", "FILE:big.doc", "FILE:big.nt"}, "", 2, {},
       {"container 10 (target) at 10 holds 32768 names, more than a saved document holds (32767)"}},
      {{"demo", "--keep", "FILE:kept"}, "", 0,
       {"NameChanged", "NameWasDeleted", "ContainerWasDeleted", "E_NAME_DUPLICATE", "the same tree", "imported and saved",
        "\"Devices\" of container 10 is container 20"}},
      // The kept document of the earlier format is one to try the import on.
      {{"import-legacy", "FILE:kept/earlier.doc", "FILE:converted.nt"}, "", 0},
  });
  EXPECT_FALSE(std::filesystem::exists(Path("big.nt")));
  const std::string kept = Bytes("kept/plant.nt");
  EXPECT_EQ(Run({"demo", "--keep", Path("kept")}).exit, 2) << "the demo never replaces what it kept";
  EXPECT_EQ(Bytes("kept/plant.nt"), kept);
}

}  // namespace
}  // namespace nametree::test
