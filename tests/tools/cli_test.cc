// The nametree program driven from the outside: exit codes, what it prints,
// and that an edit it refuses leaves the document byte for byte as it was.
#include "cli_fixture.h"
#include "legacy/legacy_doc.h"
#include "nametree/cfb_storage.h"

namespace nametree::test {
namespace {

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// A document with a global container (1) holding Pump (2), and a target (3).
class Document : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    doc = Path("plant.ntd");
    ASSERT_EQ(Run({"init", doc}).exit, 0);
    ASSERT_EQ(Run({"add-container", doc, "0", "--type", "global"}).out,
              "added container 1 (global) at the top level\n");
    ASSERT_EQ(Run({"add", doc, "1", "Pump"}).out, "added \"Pump\" to container 1 as ID 2\n");
    ASSERT_EQ(Run({"add-container", doc, "0", "--type", "target"}).exit, 0);
  }

  // Runs an edit that must be refused with `exit` and change nothing.
  RunResult Refused(const std::vector<std::string>& args, int exit) {
    const std::string before = Bytes("plant.ntd");
    RunResult r = Run(args);
    EXPECT_EQ(r.exit, exit) << r.out << r.err;
    EXPECT_TRUE(Contains(r.err, doc) || exit == 2) << r.err;
    EXPECT_EQ(Bytes("plant.ntd"), before) << "a refused edit touched the file";
    return r;
  }

  std::string doc;
};

TEST_F(CliTest, UsageErrorsExitWithTwo) {
  EXPECT_EQ(Run({}).exit, 2);
  RunResult help = Run({"--help"});
  EXPECT_EQ(help.exit, 0);
  EXPECT_TRUE(Contains(help.out, "import-legacy")) << help.out;
  EXPECT_EQ(Run({"add", "--help"}).exit, 0);
  RunResult unknown = Run({"frobnicate"});
  EXPECT_EQ(unknown.exit, 2);
  EXPECT_TRUE(Contains(unknown.err, "frobnicate"));
  EXPECT_EQ(Run({"add", Path("x")}).exit, 2) << "too few arguments";
  EXPECT_EQ(Run({"tree", Path("x"), "--bogus"}).exit, 2);
  EXPECT_EQ(Run({"add", Path("x"), "one", "Pump"}).exit, 2) << "container must be a number";
}

TEST_F(CliTest, FilesThatAreNoDocumentsAreRefusedByName) {
  RunResult missing = Run({"tree", Path("absent.ntd")});
  EXPECT_EQ(missing.exit, 2);
  EXPECT_TRUE(Contains(missing.err, Path("absent.ntd"))) << missing.err;

  WriteFile("garbage.ntd", std::string(3000, 'x'));
  RunResult garbage = Run({"tree", Path("garbage.ntd")});
  EXPECT_EQ(garbage.exit, 2);
  EXPECT_TRUE(Contains(garbage.err, Path("garbage.ntd"))) << garbage.err;

  ASSERT_EQ(Run({"init", Path("a.ntd")}).exit, 0);
  const std::string made = Bytes("a.ntd");
  EXPECT_EQ(Run({"init", Path("a.ntd")}).exit, 2) << "init must not replace a file";
  EXPECT_EQ(Bytes("a.ntd"), made);
}

TEST_F(Document, EditsAreSavedAndNotified) {
  RunResult add = Run({"add", doc, "3", "Valve", "--json"});
  ASSERT_EQ(add.exit, 0) << add.err;
  EXPECT_TRUE(Contains(add.out, "\"id\":4")) << add.out;

  RunResult rename = Run({"rename", doc, "2", "FeedPump"});
  ASSERT_EQ(rename.exit, 0) << rename.err;
  EXPECT_EQ(rename.out,
            "renamed ID 2 from \"Pump\" to \"FeedPump\"\n"
            "  notified NameChanged: container 1, ID 2, \"Pump\" -> \"FeedPump\"\n");

  RunResult del = Run({"delete", doc, "4"});
  ASSERT_EQ(del.exit, 0) << del.err;
  EXPECT_TRUE(Contains(del.out, "NameWasDeleted: container 3, ID 4")) << del.out;

  RunResult tree = Run({"tree", doc});
  ASSERT_EQ(tree.exit, 0);
  EXPECT_TRUE(Contains(tree.out, "container 1 (global)")) << tree.out;
  EXPECT_TRUE(Contains(tree.out, "2  FeedPump")) << tree.out;
  EXPECT_FALSE(Contains(tree.out, "Valve")) << tree.out;

  RunResult dump = Run({"dump", doc, "--json"});
  ASSERT_EQ(dump.exit, 0);
  EXPECT_TRUE(Contains(dump.out, "\"name\":\"FeedPump\"")) << dump.out;
}

TEST_F(Document, RefusedEditsLeaveTheFileAlone) {
  RunResult dup = Refused({"add", doc, "3", "pump"}, 1);
  EXPECT_TRUE(Contains(dup.err, "global namespace")) << dup.err;
  EXPECT_TRUE(Contains(dup.err, "ID 2")) << dup.err;
  Refused({"add", doc, "3", "1abc"}, 1);
  Refused({"add", doc, "99", "Motor"}, 1);
  Refused({"rename", doc, "2", "Pump"}, 1);
  Refused({"rename", doc, "77", "Motor"}, 1);
  Refused({"delete", doc, "77"}, 1);
  Refused({"add-container", doc, "55"}, 1);
  Refused({"add", doc, "3", "Motor", "--kind", "x"}, 2);

  WriteFile("words.txt", "\xEF\xBB\xBFmotor\r\nBegin\n");
  RunResult keyword = Refused({"add", doc, "3", "MOTOR", "--keywords", Path("words.txt")}, 1);
  EXPECT_TRUE(Contains(keyword.err, "keyword")) << keyword.err;
}

TEST_F(Document, CheckExplainsWhereANameCollides) {
  RunResult taken = Run({"check", doc, "3", "PUMP", "--json"});
  EXPECT_EQ(taken.exit, 1);
  EXPECT_TRUE(Contains(taken.out, "\"namespace\":\"global\",\"container\":1,\"id\":2")) << taken.out;
  EXPECT_TRUE(Contains(taken.out, "\"result\":\"E_NAME_DUPLICATE\"")) << taken.out;

  RunResult fresh = Run({"check", doc, "3", "Motor"});
  EXPECT_EQ(fresh.exit, 0);
  EXPECT_TRUE(Contains(fresh.out, "duplicate:  no")) << fresh.out;

  const std::string before = Bytes("plant.ntd");
  EXPECT_EQ(Run({"check", doc, "1", "Fan"}).exit, 0);
  EXPECT_EQ(Bytes("plant.ntd"), before) << "check must not save";
}

TEST_F(Document, NextProposesFreshNames) {
  ASSERT_EQ(Run({"add", doc, "1", "Pump1"}).exit, 0);
  EXPECT_EQ(Run({"next", doc, "1", "Pump"}).out, "Pump2\n");
  EXPECT_EQ(Run({"next", doc, "1", "Valve", "--digits", "3"}).out, "Valve001\n");
  EXPECT_EQ(Run({"next", doc, "1", "Pump", "--digits", "40"}).exit, 2);
}

TEST_F(CliTest, ImportsADocumentOfTheEarlierFormat) {
  LegacyDocument legacy;
  legacy.lastIssuedID = 300;
  legacy.containers = {{.id = 10, .type = 3}};
  legacy.objects = {{.name = u"Pump", .id = 100, .container = 10}, {.name = u"Valve", .id = 101, .container = 10}};
  const std::vector<std::uint8_t> stream = Encode(legacy);
  {
    ComPtr<IStorage> root, child;
    ComPtr<IStream> element;
    std::string error;
    ASSERT_TRUE(CreateCompoundFile(Path("old.doc"), &root, &error)) << error;
    ASSERT_EQ(root->CreateStorage(u"QXTNameServer", kCreateMode, child.Put()), S_OK);
    ASSERT_EQ(child->CreateStream(u"NameService", kCreateMode, element.Put()), S_OK);
    ASSERT_EQ(element->Write(stream.data(), static_cast<std::uint32_t>(stream.size()), nullptr), S_OK);
    element.Reset();
    child.Reset();
    ASSERT_TRUE(CommitCompoundFile(root.Get(), &error)) << error;
  }
  RunResult imported = Run({"import-legacy", Path("old.doc"), Path("new.ntd")});
  ASSERT_EQ(imported.exit, 0) << imported.err;
  EXPECT_TRUE(Contains(imported.out, "1 containers, 2 names")) << imported.out;
  RunResult tree = Run({"tree", Path("new.ntd"), "--json"});
  EXPECT_TRUE(Contains(tree.out, "\"lastIssuedID\":300")) << tree.out;
  EXPECT_TRUE(Contains(tree.out, "{\"id\":101,\"name\":\"Valve\"}")) << tree.out;

  // A current document is no legacy one, and the output is never overwritten.
  EXPECT_EQ(Run({"import-legacy", Path("new.ntd"), Path("other.ntd")}).exit, 2);
  const std::string made = Bytes("new.ntd");
  EXPECT_EQ(Run({"import-legacy", Path("old.doc"), Path("new.ntd")}).exit, 2);
  EXPECT_EQ(Bytes("new.ntd"), made);
}

TEST_F(CliTest, DemoRunsOnItsOwnAndKeepsItsFilesWhenAsked) {
  RunResult demo = Run({"demo", "--keep", Path("kept")});
  ASSERT_EQ(demo.exit, 0) << demo.err;
  for (const char* part : {"NameChanged", "NameWasDeleted", "ContainerWasDeleted", "E_NAME_DUPLICATE",
                           "the same tree", "imported and saved"})
    EXPECT_TRUE(Contains(demo.out, part)) << part << "\n" << demo.out;
  // The kept document of the earlier format is one to try the import on.
  EXPECT_EQ(Run({"import-legacy", Path("kept/earlier.doc"), Path("converted.ntd")}).exit, 0);
  const std::string kept = Bytes("kept/plant.nt");
  EXPECT_EQ(Run({"demo", "--keep", Path("kept")}).exit, 2);
  EXPECT_EQ(Bytes("kept/plant.nt"), kept);
}

}  // namespace
}  // namespace nametree::test
