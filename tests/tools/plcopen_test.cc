// import-plcopen and lint of PLCopen XML, driven through the program: the
// project's own fixtures always, the shared real projects when present.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <pugixml.hpp>

#include <filesystem>

#include "nametree/document.h"
#include "nametree/plcopen_import.h"
#include "nametree/plcopen_update.h"
#include "support/program.h"

namespace nametree::test {
namespace {

using Json = nlohmann::json;
const std::string kFixtures = NAMETREE_PLCOPEN_FIXTURES;

class Plcopen : public ::testing::Test {
 protected:
  ProgramRun Program(const std::vector<std::string>& args) const { return RunProgram(dir_, args); }
  TempDir dir_;
};

// Each refusal as "line name check namespace".
std::vector<std::string> Refusals(const Json& report) {
  std::vector<std::string> list;
  for (const Json& r : report["refused"]) {
    EXPECT_FALSE(r["reason"].get<std::string>().empty()) << r.dump();
    list.push_back(std::to_string(r["line"].get<int>()) + " " + r["name"].get<std::string>() + " " +
                   r["check"].get<std::string>() + " " + r.value("namespace", "-"));
  }
  return list;
}

// Each skipped element as "line name why".
std::vector<std::string> Skipped(const Json& report) {
  std::vector<std::string> list;
  for (const Json& s : report["skipped"])
    list.push_back(std::to_string(s["line"].get<int>()) + " " + s["name"].get<std::string>() + " " +
                   s["why"].get<std::string>());
  return list;
}

struct Fixture {
  std::string file;
  std::vector<std::string> refused;
  std::vector<std::string> skipped;
  int containers;
  int accepted;
  std::string globalIds;
  std::string tree;  // `nametree tree` of what --keep-going writes
  // The labels it carries, as "label=container ..."; `unlabelled` named
  // containers have none: a name that breaks the label rule in its path
  // form too, or a refused duplicate at the top level.
  std::string labels;
  int unlabelled;
};

const Fixture kFixtureCases[] = {
    {"scopes.xml",
     {"14 speed twice own-container", "25 X twice own-container", "32 IF keyword keyword", "32 1st invalid -",
      "38 Mode collision global", "44 MOTOR collision global", "45 Recipe collision global",
      "59 Valve collision global"},
     {},
     12, 26, R"({"cfg-plant":32,"dt-recipe":2,"pou-motor":11})",
     "container 1 (global)\n   2  Recipe\n  10  Mode\n  11  Motor\n  18  Valve\n  22  Main\n  32  Plant\n  42  Line2\n"
     "  container 4 (plain) @Recipe\n    5  Speed\n    6  Nested\n    container 8 (plain)\n      9  Speed\n"
     "  container 13 (plain) @Motor\n    14  IN\n    15  PT\n    16  Q\n    17  x\n  container 20 (plain) @Valve\n    21  IN\n"
     "  container 24 (plain) @Main\n    25  Line\n    26  Start\n    27  Go\n  container 29 (plain)\n  container 31 (plain)\n"
     "container 33 (target) @Plant\n  34  Cpu\n  40  Line\n  41  Speed\n  container 36 (plain) @Cpu\n    37  Fast\n"
     "    38  main1\n    39  Line\ncontainer 43 (target) @Line2\n  44  Cpu\n  container 46 (plain) @Line2_Cpu\n    47  main1\n",
     // the second configuration's Cpu takes the path form; the colliding
     // MOTOR and Recipe (containers 29 and 31) have no label
     "Recipe=4 Motor=13 Valve=20 Main=24 Plant=33 Cpu=36 Line2=43 Line2_Cpu=46 ", 2},
    {"vendor.xml",
     {"20 MODE twice own-container", "34 Axis collision global"},
     {"45 Helper instance of its program type"},
     10, 15, R"({"gvl-1":15,"m-home":12})",
     "container 1 (global)\n   2  Reading\n   7  Axis\n  23  Cell\n  container 4 (plain) @Reading\n    5  AsInt\n"
     "    6  AsReal\n  container 9 (plain) @Axis\n    10  IN\n    container 12 (plain) @Home\n      13  IN\n      14  Mode\n"
     "  container 19 (plain) @IRun\n    container 21 (plain) @Run\n      22  Fast\ncontainer 15 (target) @Gvl\n  16  Home\n"
     "  17  IN\ncontainer 24 (target) @Cell\n  25  Plc\n  container 27 (plain) @Plc\n    28  Helper\n    32  Fast\n"
     "    container 30 (plain) @Helper\n      31  IN\n",
     "Reading=4 Axis=9 Home=12 Gvl=15 IRun=19 Run=21 Cell=24 Plc=27 Helper=30 ", 0},
    // In the style of a utility library: leading underscores are IEC names,
    // LDT and LTIME keywords of the third edition only.
    {"iec_names.xml",
     {"9 LDT keyword keyword", "10 LTIME keyword keyword", "19 LIM__SW5 invalid -", "19 LIM_SW5_ invalid -",
      "19 \u041d\u0430\u0441\u043e\u0441 invalid -", "19 _ invalid -", "19 then keyword keyword"},
     {},
     3, 6, "{}",
     "container 1 (global)\n  2  CAL_SDT\n  6  _DT_TO_DATE\n  container 4 (plain) @CAL_SDT\n    5  DOY\n"
     "  container 8 (plain)\n     9  _T\n    10  _IN1\n    11  _9\n",
     "CAL_SDT=4 ", 1},
    // In the style of an IDE's export: a union of its own in addData is a
    // type, so the list's AsWord is no collision; the instance named like
    // its program and the device names are skipped.
    {"ide_export.xml",
     {},
     {"22 PLC_PRG instance of its program type", "24 General Axis Pool free text in vendor data",
      "24 Motion Task free text in vendor data"},
     8, 12, "{}",
     "container 1 (global)\n   2  PLC_PRG\n   6  Scale\n  10  Device\n  19  U_Raw\n  container 4 (plain) @PLC_PRG\n"
     "    5  Raw\n  container 8 (plain) @Scale\n    9  AsInt\n  container 21 (plain) @U_Raw\n    22  AsInt\n    23  AsWord\n"
     "container 11 (target) @Device\n  12  Application\n  container 14 (plain) @Application\n    15  MainTask\n    16  Second\n"
     "  container 18 (plain)\ncontainer 24 (target) @GVL\n  25  AsWord\n",
     // the vendor's "General Axis Pool" (container 18) is no label
     "PLC_PRG=4 Scale=8 Device=11 Application=14 U_Raw=21 GVL=24 ", 1},
    {"v200.xml", {}, {}, 2, 2, "{}", "container 1 (global)\n  2  Old\n  container 4 (plain) @Old\n    5  Count\n", "Old=4 ", 0},
};

TEST_F(Plcopen, FixturesImportIntoTheirScopesAndListEveryRefusal) {
  for (const Fixture& c : kFixtureCases) {
    SCOPED_TRACE(c.file);
    const std::string project = kFixtures + "/" + c.file, doc = dir_.File(c.file + ".nt");
    const int refusedExit = c.refused.empty() ? 0 : 1;
    // All or nothing: a refusal leaves no document behind.
    ProgramRun strict = Program({"import-plcopen", project, doc});
    EXPECT_EQ(strict.exit, refusedExit) << strict.err;
    EXPECT_EQ(std::filesystem::exists(doc), c.refused.empty());
    std::filesystem::remove(doc);
    ProgramRun kept = Program({"import-plcopen", "--keep-going", "--json", project, doc});
    ASSERT_EQ(kept.exit, refusedExit) << kept.err;
    const Json report = Json::parse(kept.out);
    EXPECT_EQ(Refusals(report), c.refused);
    EXPECT_EQ(report["containers"], c.containers);
    EXPECT_EQ(report["imported"], c.accepted);
    EXPECT_EQ(report["elements"], c.accepted + static_cast<int>(c.refused.size() + report["skipped"].size()));
    EXPECT_EQ(Skipped(report), c.skipped);
    EXPECT_EQ(report["globalIds"].dump(), c.globalIds);
    EXPECT_EQ(Program({"tree", doc}).out, c.tree);
    EXPECT_EQ(report["unlabelled"], c.unlabelled);
    std::string labels;
    const Json listed = Json::parse(Program({"label", "--json", doc}).out);
    for (const Json& l : listed["labels"])
      labels += l["label"].get<std::string>() + "=" + std::to_string(l["id"].get<int>()) + " ";
    EXPECT_EQ(labels, c.labels);
    const std::string last = c.labels.substr(c.labels.rfind(' ', c.labels.size() - 2) + 1);
    EXPECT_EQ(Program({"add", doc, "@" + last.substr(0, last.find('=')), "Probe"}).exit, 0) << last;
    EXPECT_EQ(Program({"lint", "--profile", "iec61131-3", doc}).exit, 0);
    // lint of the project reports exactly the refusals, then the conventions.
    ProgramRun lint = Program({"lint", "--json", project});
    EXPECT_EQ(lint.exit, refusedExit);
    Json refusals = Json::array();
    const Json linted = Json::parse(lint.out);
    for (const Json& f : linted["findings"])
      if (f.contains("reason")) refusals.push_back(f);
    EXPECT_EQ(Refusals(Json{{"refused", refusals}}), c.refused);
    // An existing document is never replaced.
    const std::string before = ReadBytes(doc);
    ProgramRun again = Program({"import-plcopen", project, doc});
    EXPECT_EQ(again.exit, 2);
    EXPECT_NE(again.err.find("already exists"), std::string::npos);
    EXPECT_EQ(ReadBytes(doc), before);
  }
}

TEST_F(Plcopen, WhatIsNoProjectIsAFileErrorWithItsLine) {
  const struct {
    std::string file, message;
  } cases[] = {
      {"malformed.xml", "malformed.xml:4: malformed XML: Start-end tags mismatch"},
      {"foreign.xml", "foreign.xml:3: expected the root element <project> of the PLCopen TC6 namespace"},
      {"absent.xml", "absent.xml: cannot read the file"},
  };
  for (const auto& c : cases) {
    for (const char* command : {"import-plcopen", "lint"}) {
      std::vector<std::string> args = {command, kFixtures + "/" + c.file};
      if (args[0] == "import-plcopen") args.push_back(dir_.File("out.nt"));
      const ProgramRun run = Program(args);
      EXPECT_EQ(run.exit, 2) << c.file;
      EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
      EXPECT_FALSE(std::filesystem::exists(dir_.File("out.nt")));
    }
  }
}

TEST_F(Plcopen, TheProfileAndTheEditionAreChosenAndSaid) {
  const std::string project = kFixtures + "/iec_names.xml";
  const ProgramRun ed3 = Program({"lint", project});
  EXPECT_NE(ed3.out.find("\"LDT\": it is a keyword of iec61131-3-ed3 (of the third edition only; --keyword-set "
                         "iec61131-3-ed2 allows it)"),
            std::string::npos);
  EXPECT_NE(ed3.out.find(":19:337: error: project/types/pous/pou[_DT_TO_DATE]/interface/localVars/variable[then]: "
                         "\"then\": it is a keyword of iec61131-3-ed3; \"then1\" is free [N3]\n"),
            std::string::npos);
  auto names = [&](const std::vector<std::string>& options) {
    std::vector<std::string> args = {"lint", "--json"};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back(project);
    const Json lint = Json::parse(Program(args).out);
    std::string list;
    for (const Json& f : lint["findings"]) list += f.value("name", f.value("text", "?")) + " ";
    return list;
  };
  EXPECT_EQ(names({"--keyword-set", "iec61131-3-ed2"}), "LIM__SW5 LIM_SW5_ \u041d\u0430\u0441\u043e\u0441 _ then ");
  EXPECT_EQ(names({"--profile", "classic"}),
            "LDT LTIME _DT_TO_DATE _T _IN1 _ _9 then ");
  EXPECT_EQ(Program({"lint", "--profile", "iec", project}).exit, 2);
  // Words from standard input reserve them in every project of the run.
  const Json twice =
      Json::parse(RunProgram(dir_, {"lint", "--json", "--keywords", "-", project, project}, "_T\n").out)["files"];
  EXPECT_EQ(twice[1]["findings"], twice[0]["findings"]);
  EXPECT_NE(twice[0]["findings"].dump().find(R"("name":"_T")"), std::string::npos) << twice.dump();
  // The imported document keeps its profile: its _T is judged as IEC, not
  // by the classic rule, unless told.
  const std::string doc = dir_.File("iec.nt");
  ASSERT_EQ(Program({"import-plcopen", "--keep-going", project, doc}).exit, 1);
  EXPECT_EQ(Program({"lint", doc}).out, doc + ": clean\n");
  // Its findings are located in the project through the origins it keeps.
  const ProgramRun classic = Program({"lint", "--profile", "classic", doc});
  EXPECT_NE(classic.out.find(project + ":18:38: error: project/types/pous/pou[_DT_TO_DATE]/interface/inputVars/"
                                       "variable[_T]: container 8 (plain) at 1/8: \"_T\" (ID 9) breaks the name rule"),
            std::string::npos)
      << classic.out;
  std::string located;
  const Json findings = Json::parse(Program({"lint", "--json", "--profile", "classic", doc}).out)["findings"];
  for (const Json& f : findings)
    located += std::to_string(f["line"].get<int>()) + ":" + std::to_string(f["column"].get<int>()) + " ";
  EXPECT_EQ(located, "16:18 18:38 18:90 19:286 ");
  const Json sarif = Json::parse(Program({"lint", "--format", "sarif", "--profile", "classic", doc}).out);
  const Json& where = sarif["runs"][0]["results"][0]["locations"][0]["physicalLocation"];
  EXPECT_TRUE(where["artifactLocation"]["uri"].get<std::string>().ends_with("/iec_names.xml")) << where;
  EXPECT_EQ(where["region"].dump(), R"({"endColumn":29,"startColumn":18,"startLine":16})");
  // add, rename and batch judge by the kept profile, as lint does; so does
  // the check after each line, which --strict would otherwise refuse by.
  const ProgramRun added = Program({"add", "--strict", doc, "@CAL_SDT", "_Week"});
  EXPECT_EQ(added.exit, 0) << added.err;
  const std::string lines = dir_.File("edits.txt");
  WriteBytes(lines, "add @CAL_SDT _Day\nadd @CAL_SDT Week__Day\nrename 5 DOY_\n");
  const ProgramRun batch = Program({"batch", "--strict", "--keep-going", doc, lines});
  EXPECT_EQ(batch.out, "applied 1 of 3 edits to " + doc + "; 2 lines refused\n") << batch.err;
  EXPECT_EQ(batch.err.find("lint report"), std::string::npos) << batch.err;
  for (const std::vector<std::string>& edit : {std::vector<std::string>{"add", doc, "@CAL_SDT", "Week__Day"},
                                               std::vector<std::string>{"rename", doc, "5", "DOY_"}}) {
    const ProgramRun r = Program(edit);
    EXPECT_EQ(r.exit, 1) << edit[0];
    EXPECT_NE(r.err.find("not a valid name"), std::string::npos) << r.err;
  }
  EXPECT_EQ(Program({"lint", doc}).out, doc + ": clean\n");
}

// Each edit of update.xml applied to the document imported from it: `diff`
// shows only what the edit changed, and applying it twice changes no byte.
TEST_F(Plcopen, UpdateKeepsTheIdsOfWhatStayedAndChangesOnlyWhatTheExportChanged) {
  const std::string base = ReadBytes(kFixtures + "/update.xml"), before = dir_.File("before.nt");
  ASSERT_EQ(Program({"import-plcopen", kFixtures + "/update.xml", before}).exit, 0);
  // A document that cannot take an update says why in a status of its own.
  Result<Document> readOnly = Document::Open(before, {.readOnly = true});
  ASSERT_TRUE(readOnly);
  Document unimported = Document::InMemory();
  for (const auto& [doc, status] : {std::pair{&*readOnly, plcopen::ImportStatus::kReadOnly},
                                    std::pair{&unimported, plcopen::ImportStatus::kNotImported}}) {
    plcopen::ImportReport report;
    plcopen::UpdateSummary summary;
    EXPECT_EQ(plcopen::UpdatePlcopenFile(kFixtures + "/update.xml", *doc, {}, &report, &summary).status, status);
  }
  plcopen::ImportReport refused;
  EXPECT_EQ(plcopen::ImportPlcopenFile(kFixtures + "/update.xml", *readOnly, {}, &refused).status,
            plcopen::ImportStatus::kReadOnly);
  const struct {
    std::string from, to, diff;
  } edits[] = {
      {"", "", ""},
      {"<variable name=\"Level\">", "<variable name=\"Extra\"><type><INT/></type></variable><variable name=\"Level\">",
       "added name 25 \"Extra\" to container 14\n"},
      // under its globalId: the POU's scope, label and variables stay
      {"<pou name=\"Pump\"", "<pou name=\"Drive\"", "renamed name 7 from \"Pump\" to \"Drive\"\n"},
      {"name=\"Count\"", "name=\"Counter\"",
       "removed name 11 \"Count\" from container 9\nadded name 25 \"Counter\" to container 9\n"},
      {"<variable name=\"High\"><type><INT/></type></variable>", "", "removed name 6 \"High\" from container 4\n"},
      // no globalId: a new scope with fresh IDs, none that was deleted
      {"<resource name=\"Cpu\">", "<resource name=\"Cpu2\">",
       "removed container 21 (plain) from under 18\nadded container 26 (plain) under 18\nremoved name 19 \"Cpu\" from "
       "container 18\nremoved name 22 \"Cyclic\" from container 21\nremoved name 23 \"Run1\" from container 21\n"
       "added name 27 \"Cpu2\" to container 18\nadded name 28 \"Cyclic\" to container 26\nadded name 29 \"Run1\" to "
       "container 26\n"},
  };
  for (const auto& e : edits) {
    SCOPED_TRACE(e.to);
    std::string xml = base;
    if (!e.from.empty()) xml.replace(xml.find(e.from), e.from.size(), e.to);
    // Unedited, the project the document came from: nothing changes, not one byte.
    const std::string project = e.from.empty() ? kFixtures + "/update.xml" : dir_.File("edited.xml");
    const std::string doc = dir_.File("doc.nt");
    if (!e.from.empty()) WriteBytes(project, xml);
    WriteBytes(doc, ReadBytes(before));
    const ProgramRun dry = Program({"import-plcopen", "--update", "--dry-run", "--json", project, doc});
    ASSERT_EQ(dry.exit, 0) << dry.err;
    EXPECT_EQ(ReadBytes(doc), ReadBytes(before));
    std::size_t added = 0;
    for (std::size_t at = e.diff.find("added name"); at != std::string::npos; at = e.diff.find("added name", at + 1))
      ++added;
    EXPECT_EQ(Json::parse(dry.out)["update"]["added"], added);
    ASSERT_EQ(Program({"import-plcopen", "--update", project, doc}).exit, 0);
    EXPECT_EQ(Program({"diff", before, doc}).out, e.diff);
    if (e.from.empty()) {
      EXPECT_EQ(ReadBytes(doc), ReadBytes(before));
    }
    const std::string once = ReadBytes(doc);
    ASSERT_EQ(Program({"import-plcopen", "--update", project, doc}).exit, 0);
    EXPECT_EQ(ReadBytes(doc), once);
  }
  // A document no import made has nothing to match by.
  ASSERT_EQ(Program({"init", dir_.File("plain.nt")}).exit, 0);
  const ProgramRun plain = Program({"import-plcopen", "--update", kFixtures + "/update.xml", dir_.File("plain.nt")});
  EXPECT_EQ(plain.exit, 2);
  EXPECT_NE(plain.err.find("keeps no origins of an import"), std::string::npos) << plain.err;
}

// Elements of the name kinds that carry a name attribute, counted apart
// from the importer.
std::size_t NamedElements(const std::string& path) {
  pugi::xml_document doc;
  EXPECT_TRUE(doc.load_file(path.c_str()));
  std::size_t count = 0;
  for (pugi::xpath_node n : doc.select_nodes("//*[@name]")) {
    std::string kind = n.node().name();
    kind = kind.substr(kind.find(':') + 1);
    for (const char* k : {"dataType", "pou", "variable", "configuration", "resource", "task", "pouInstance",
                          "action", "transition"})
      count += kind == k;
  }
  return count;
}

TEST_F(Plcopen, SharedProjectsImportWholeAndLintOnlyWhatWasRefused) {
  const std::filesystem::path shared = NAMETREE_PLCOPEN_DIR;
  if (!std::filesystem::is_directory(shared)) GTEST_SKIP() << "no " << shared;
  std::vector<std::filesystem::path> files;
  for (const auto& e : std::filesystem::recursive_directory_iterator(shared))
    if (e.path().extension() == ".xml") files.push_back(e.path());
  std::sort(files.begin(), files.end());
  ASSERT_FALSE(files.empty());
  int index = 0;
  for (const auto& file : files) {
    SCOPED_TRACE(file.string());
    const std::string doc = dir_.File(std::to_string(index++) + ".nt");
    ProgramRun run = Program({"import-plcopen", "--keep-going", "--json", file.string(), doc});
    ASSERT_LE(run.exit, 1) << run.err;
    const Json report = Json::parse(run.out);
    const std::vector<std::string> refused = Refusals(report);
    EXPECT_EQ(report["imported"].get<std::size_t>() + refused.size() + report["skipped"].size(),
              NamedElements(file.string()));
    EXPECT_EQ(report["elements"].get<std::size_t>(), NamedElements(file.string()));
    EXPECT_EQ(run.exit, refused.empty() ? 0 : 1);
    EXPECT_EQ(Program({"lint", doc}).exit, 0);
    const Json lint = Json::parse(Program({"lint", "--json", file.string()}).out);
    EXPECT_EQ(lint["errors"].get<std::size_t>(), refused.size());
  }
}

}  // namespace
}  // namespace nametree::test
