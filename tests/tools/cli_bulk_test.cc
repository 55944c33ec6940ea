// The commands for real work, driven through the built program: batch,
// lint and repair, find and show, next, and errors under --json. Every run
// that must not change the document is checked byte for byte.
#include <filesystem>

#include "cli_fixture.h"
#include "legacy/legacy_doc.h"
#include "nametree/cfb_storage.h"
#include "nametree/name_server.h"

namespace nametree::test {
namespace {

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

struct Case {
  std::vector<std::string> args;  // "DOC" stands for the document
  std::string input;              // standard input
  int exit;
  std::vector<std::string> out{}, err{};  // fragments each stream must hold
  bool unchanged = true;              // the document keeps its bytes
};

class Workflows : public CliTest {
 protected:
  // A global container 1 with Pump1 (2) and a Cyrillic-a "V\u0430lve" (5) that looks like
  // the Valve (4) of target 3, made by one batch.
  void SetUp() override {
    CliTest::SetUp();
    ASSERT_EQ(Run({"init", Path("base.nt")}).exit, 0);
    const RunResult made = Run({"batch", Path("base.nt")},
                               "add-container 0 --type global\nadd 1 Pump1\nadd-container 0 --type target\n"
                               "add 3 Valve\nadd 1 V\u0430lve\n");
    ASSERT_EQ(made.exit, 0) << made.err;
  }

  // Each case runs on a fresh copy of the base document.
  void Expect(const std::vector<Case>& cases) {
    const std::string base = Bytes("base.nt");
    for (const Case& c : cases) {
      WriteFile("doc.nt", base);
      std::vector<std::string> args = c.args;
      for (std::string& a : args) {
        if (a == "DOC") a = Path("doc.nt");
        if (a.rfind("FILE:", 0) == 0) a = Path(a.substr(5));
      }
      std::string trace;
      for (const std::string& a : c.args) trace += a + " ";
      SCOPED_TRACE(trace);
      const RunResult r = Run(args, c.input);
      EXPECT_EQ(r.exit, c.exit) << r.out << r.err;
      for (const std::string& part : c.out) EXPECT_TRUE(Contains(r.out, part)) << part << "\n" << r.out;
      for (const std::string& part : c.err) EXPECT_TRUE(Contains(r.err, part)) << part << "\n" << r.err;
      EXPECT_EQ(Bytes("doc.nt") == base, c.unchanged);
    }
  }
};

TEST_F(Workflows, BatchAppliesAllOrNothingAndReportsEveryRefusedLine) {
  const std::string refusals = "add 3 pump1\nadd 3 Gate\nadd 3 gate\nadd 9 X\n";
  Expect({
      {{"batch", "DOC", "-"},
       "# labels\n\nadd-container 3 --type target --as plc\nadd @plc Tag1\nrename 2 FeedPump\nkeyword BEGIN\n"
       "add @plc \"Tag2\"\n",
       0, {"applied 5 edits"}, {}, false},
      {{"batch", "DOC"}, refusals, 1, {"3 lines refused", "left as it was"},
       {"standard input:1: ", "global namespace", "standard input:3: ", "standard input:4: ", "no container has ID 9"}},
      {{"batch", "DOC", "--keep-going"}, refusals, 1, {"applied 1 of 4 edits"}, {}, false},
      {{"batch", "DOC", "--json"}, refusals, 1,
       {"\"applied\":1,\"saved\":false", "{\"line\":1,\"text\":\"add 3 pump1\"", "\"resultName\":\"E_NAME_DUPLICATE\""}},
      {{"batch", "DOC"}, "frob 1\nadd 3\nadd @nowhere X\nadd 3 'open\n", 2, {}, {":1: ", ":2: ", ":3: ", ":4: "}},
      {{"batch", "DOC"}, "keyword Gate\nadd 3 GATE\n", 1, {}, {"keyword"}},
      {{"batch", "DOC", "--csv"}, "Container,Name,Kind\n3,Alpha,\n3,_Beta,1\n3,\"Ga\"\"te\",1\n", 0, {"applied 3"}, {}, false},
      {{"batch", "DOC", "--csv"}, "container;name\n3;Alpha\n", 2, {}, {"header"}},
      {{"batch", "DOC", "-", "--keywords", "-"}, "add 3 X\n", 2, {}, {"standard input"}},
      {{"batch", "DOC", "FILE:absent.txt"}, "", 2, {}, {"absent.txt"}},
  });
}

TEST_F(Workflows, LookupsProposalsAndErrorsAsJson) {
  Expect({
      {{"find", "DOC", "PUMP1"}, "", 0, {"2  \"Pump1\"  in container 1 (global) at 1\n"}},
      {{"find", "DOC", "Nothing", "--json"}, "", 1, {"{\"text\":\"Nothing\",\"found\":[]}"}},
      {{"show", "DOC", "3"}, "", 0, {"container 3 (target) at 3\n"}},
      {{"show", "DOC", "4", "--json"}, "", 0, {"\"names\":[{\"id\":4,\"name\":\"Valve\",\"container\":{\"id\":3"}},
      {{"show", "DOC", "77"}, "", 1, {"nothing has ID 77"}},
      {{"next", "DOC", "3", "Pump"}, "", 0, {"Pump2\n"}},  // Pump1 is global
      {{"next", "DOC", "3", "Pump", "--local"}, "", 0, {"Pump1\n"}, {"add would refuse \"Pump1\""}},
      {{"next", "DOC", "3", "Gate", "--keywords", "-"}, "GATE1\n", 0, {"Gate2\n"}},
      {{"next", "DOC", "3", "2nd"}, "", 1, {}, {"no number makes a valid name", "begins with \"2\""}},
      {{"next", "DOC", "3", "2nd", "--kind", "1", "--json"}, "", 0, {"\"proposal\":\"2nd1\""}},
      {{"add", "DOC", "3", "Motor", "--keywords", "-", "--keywords", "FILE:absent"}, "", 2, {}, {"absent"}},
      {{"add", "DOC", "3", "MOTOR", "--keywords", "-"}, "motor\n", 1, {}, {"keyword"}},
      {{"add", "DOC", "3", "pump1", "--json"}, "", 1,
       {"{\"error\":\"cannot add \\\"pump1\\\"", "\"result\":\"0x800A03EB\",\"resultName\":\"E_NAME_DUPLICATE\"}"}},
      {{"add", "DOC", "x", "Y", "--json"}, "", 2, {"\"resultName\":\"E_INVALIDARG\""}},
      {{"add", "DOC", "3", "Motor", "--wait", "soon"}, "", 2, {}, {"--wait takes a whole number"}},
      {{"batch", "DOC", "-", "--wait", "-1"}, "add 3 Motor\n", 2, {}, {"--wait takes a whole number"}},
      {{"add", "DOC", "3", "Motor", "--wait", "0", "--force"}, "", 0, {}, {}, false},
      {{"tree", "FILE:absent.nt", "--json"}, "", 2, {"\"error\":", "absent.nt"}},
      {{"lint", "DOC"}, "", 0, {"0 errors, 2 warnings"}},  // each side of the look-alike
      {{"lint", "DOC", "--strict", "--json"}, "", 1, {"\"errors\":0,\"warnings\":2"}},
      {{"-V"}, "", 0, {"nametree "}},
      {{"rename", "--help"}, "", 0, {"NEWNAME", "--kind"}},
  });
  EXPECT_EQ(Run({"tree", Path("base.nt")}, "", "/dev/full").exit, 2) << "unwritable output";
}

// A document with what the library refuses at entry, made by a host that
// switched the checks off, and saved with its counter set back.
TEST_F(CliTest, LintFindsWhatEntryWouldRefuseAndRepairRaisesTheCounter) {
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
  const std::string doc = Path("bad.nt"), before = Bytes("bad.nt");
  const RunResult lint = Run({"lint", doc});
  EXPECT_EQ(lint.exit, 1);
  for (const char* part :
       {"\"PUMP\" (ID 6) collides with the global namespace: \"Pump\" (ID 5)", "collides with the target namespace",
        "\"1bad\" (ID 8) breaks the name rule", "\"Twin\" (ID 9) and \"TWIN\" (ID 10) are one text held twice",
        "stored last issued ID 3 is below ID 12", "\"\u0420ump\" (ID 7) looks like \"PUMP\" (ID 6) of the own-tree",
        "ID 5 is held twice: by name \"Pump\" in container 1", "8 errors, 3 warnings"})
    EXPECT_TRUE(Contains(lint.out, part)) << part << "\n" << lint.out;
  EXPECT_TRUE(Contains(Run({"lint", doc, "--json"}).out, "{\"severity\":\"warning\",\"check\":\"look-alike\""));
  const std::string tree = Run({"tree", doc}).out;
  for (const char* part : {"     9  Twin\n    10  TWIN\n    11  Ctl\\x01\n", "12  Lone\xEF\xBF\xBD\n"})
    EXPECT_TRUE(Contains(tree, part)) << part << "\n" << tree;
  EXPECT_TRUE(Contains(Run({"tree", doc, "--json"}).out, "{\"id\":12,\"name\":\"Lone\xEF\xBF\xBD\"}"));

  const RunResult refused = Run({"add", doc, "1", "Fresh"});
  EXPECT_EQ(refused.exit, 2);
  EXPECT_TRUE(Contains(refused.err, "nametree repair")) << refused.err;
  EXPECT_EQ(Bytes("bad.nt"), before);

  const RunResult repair = Run({"repair", doc});
  EXPECT_EQ(repair.exit, 1) << "the collisions remain";
  EXPECT_TRUE(Contains(repair.out, "raised the stored last issued ID from 3 to 12")) << repair.out;
  EXPECT_FALSE(Contains(repair.out, "below ID")) << repair.out;
  EXPECT_EQ(Run({"add", doc, "1", "Fresh"}).out, "added \"Fresh\" to container 1 as ID 13\n");
}

TEST_F(CliTest, ImportListsWhatItDropsAndRefusesWhatCannotBeSaved) {
  auto write = [&](const std::string& name, const LegacyDocument& legacy) {
    const std::vector<std::uint8_t> stream = Encode(legacy);
    ComPtr<IStorage> root, child;
    ComPtr<IStream> element;
    std::string error;
    ASSERT_TRUE(CreateCompoundFile(Path(name), &root, &error)) << error;
    ASSERT_EQ(root->CreateStorage(u"QXTNameServer", kCreateMode, child.Put()), S_OK);
    ASSERT_EQ(child->CreateStream(u"NameService", kCreateMode, element.Put()), S_OK);
    ASSERT_EQ(element->Write(stream.data(), static_cast<std::uint32_t>(stream.size()), nullptr), S_OK);
    element.Reset();
    child.Reset();
    ASSERT_TRUE(CommitCompoundFile(root.Get(), &error)) << error;
  };
  LegacyDocument legacy;
  legacy.lastIssuedID = 300;
  legacy.containers = {{.id = 10, .type = 3}};
  legacy.objects = {{.name = u"Pump", .id = 100, .container = 10}, {.name = u"Orphan", .id = 101, .container = 99}};
  write("old.doc", legacy);
  const RunResult text = Run({"import-legacy", Path("old.doc"), Path("a.nt")});
  EXPECT_EQ(text.exit, 0) << text.err;
  EXPECT_TRUE(Contains(text.out, "1 containers, 1 names\ndropped 1 records of")) << text.out;
  EXPECT_TRUE(Contains(text.out, "name object 101 \"Orphan\": container 99, where it belongs, does not exist"));
  EXPECT_TRUE(Contains(Run({"import-legacy", Path("old.doc"), Path("b.nt"), "--json"}).out,
                       "\"dropped\":1,\"drops\":[{\"record\":\"name object\",\"id\":101,\"reason\":\"container-missing\""));

  legacy.objects.clear();
  for (std::uint32_t i = 0; i < 32768; ++i) legacy.objects.push_back({.name = u"N", .id = 1000 + i, .container = 10});
  write("big.doc", legacy);
  const RunResult big = Run({"import-legacy", Path("big.doc"), Path("big.nt")});
  EXPECT_EQ(big.exit, 2);
  EXPECT_TRUE(Contains(big.err, "container 10 holds 32768 names")) << big.err;
  EXPECT_FALSE(std::filesystem::exists(Path("big.nt")));
}

}  // namespace
}  // namespace nametree::test
