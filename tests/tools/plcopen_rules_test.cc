// The naming rules, their config and the outputs for CI, driven through
// the program on a fixture that holds, for each rule, a name that breaks
// it and one that keeps it.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>

#include "support/program.h"

namespace nametree::test {
namespace {

using Json = nlohmann::json;
const std::string kProject = std::string(NAMETREE_PLCOPEN_FIXTURES) + "/conventions.xml";

class PlcopenRules : public ::testing::Test {
 protected:
  ProgramRun Program(const std::vector<std::string>& args) const { return RunProgram(dir_, args); }
  std::string Config(const std::string& text, const std::string& name = "c.toml") const {
    std::ofstream(dir_.File(name)) << text;
    return dir_.File(name);
  }
  // Each finding as "rule:s:name@line:column", s the severity's initial.
  std::string Findings(const std::vector<std::string>& options) const {
    std::vector<std::string> args = {"lint", "--json"};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back(kProject);
    const ProgramRun run = Program(args);
    const Json report = Json::parse(run.out);
    std::string list;
    for (const Json& f : report["findings"])
      list += (list.empty() ? "" : " ") + f["rule"].get<std::string>() + ":" + f["severity"].get<std::string>()[0] +
              ":" + f["name"].get<std::string>() + "@" + std::to_string(f["line"].get<int>()) + ":" +
              std::to_string(f["column"].get<int>());
    return list;
  }
  TempDir dir_;
};

// The findings of `rule` and the others, from a list as Findings gives it.
std::pair<std::string, std::string> Split(const std::string& list, const std::string& rule) {
  std::string parts[2];
  for (std::size_t at = 0, end; at < list.size(); at = end + 1) {
    end = std::min(list.find(' ', at), list.size());
    std::string& to = parts[list.compare(at, rule.size() + 1, rule + ":") == 0 ? 0 : 1];
    to += (to.empty() ? "" : " ") + list.substr(at, end - at);
  }
  return {parts[0], parts[1]};
}

// Without a config: N3, N8, N9 and N5; the member HOUR meets the function
// HOUR nowhere, the external gLevel is the global itself.
const std::string kDefault = "N3:e:END_IF@23:165 N8:e:Bad__Name@23:272 N9:e:ST_Clock@26:32 N5:w:gSpeed@23:111";

TEST_F(PlcopenRules, EachRuleTriggersOnlyWhereItsConfigSays) {
  EXPECT_EQ(Findings({}), kDefault);
  const struct {
    std::string rule, config, expected;
  } cases[] = {
      {"N1", "[rules.N1]\nenabled = true", "N1:w:xSensor@23:38"},
      {"N2", "[rules.N2]\nenabled = true\nprefixes = { BOOL = \"x\" }", "N2:w:Stop@22:93"},
      {"N3", "keywords = [\"Motor\"]\n[rules.N3]\nseverity = \"warning\"", "N3:w:END_IF@23:165 N3:w:Motor@23:219"},
      {"N4", "[rules.N4]\nenabled = true\nstyles = { dataType = \"PascalCase\" }", "N4:w:ST_Clock@7:23 N4:w:E_State@11:23 N4:w:valveKind@11:130"},
      {"N5", "[rules.N5]\nenabled = false", ""},
      {"N6", "[rules.N6]\nenabled = true\nmin = 2", "N6:w:T@23:329"},
      {"N7", "[rules.N7]\nenabled = true\nseverity = \"error\"\nprefixes = { resource = \"g\" }", "N7:e:Level@35:162"},
      {"N8", "[rules.N8]\nenabled = false", ""},
      {"N9", "[rules.N9]\nseverity = \"note\"", "N9:n:ST_Clock@26:32"},
      {"N10", "[rules.N10]\nenabled = true\nprefixes = { enum = \"E_\", struct = \"ST_\" }", "N10:w:Mode@10:23"},
      {"N7", "[rules.N7]\nenabled = true\npatterns = { resource = \"[a-z]?*\" }", "N7:w:Level@35:162"},
      {"N10", "[rules.N10]\nenabled = true\npatterns = { enum = \"E_[A-S]*e\", struct = \"*_Clock\" }", "N10:w:Mode@10:23"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.config);
    // The rule's own findings replace its defaults; the others stay as they were.
    const auto [mine, others] = Split(Findings({"--config", Config(c.config)}), c.rule);
    EXPECT_EQ(others, Split(kDefault, c.rule).second);
    EXPECT_EQ(mine, c.expected);
  }
}

TEST_F(PlcopenRules, TheConfigIsFoundAboveTheFileAndRefusedWithItsLineAndKey) {
  std::filesystem::create_directories(dir_.File("plant/src"));
  std::filesystem::copy_file(kProject, dir_.File("plant/src/p.xml"));
  Config("[rules.N5]\nenabled = false\n", "plant/.nametree.toml");
  EXPECT_EQ(Program({"lint", "--json", dir_.File("plant/src/p.xml")}).out.find("\"N5\""), std::string::npos);
  const ProgramRun shown = Program({"lint", "--print-config", dir_.File("plant/src/p.xml")});
  EXPECT_NE(shown.out.find("[rules.N5]  # a local variable does not shadow a global one\nenabled = false\n"),
            std::string::npos);
  // What --print-config prints reads back to itself.
  EXPECT_EQ(Program({"lint", "--print-config", "--config", Config(shown.out, "again.toml")}).out, shown.out);
  const struct {
    std::string text, message;
  } bad[] = {
      {"edition = \"iec61131-3-ed3\"\ncolour = 1\n", "c.toml:2: colour: unknown key"},
      {"[rules.N2]\nenabled = true\nprefix = { BOOL = \"x\" }\n", "c.toml:3: rules.N2.prefix: unknown key"},
      {"[rules.N11]\nenabled = true\n", "c.toml:1: rules.N11: unknown rule"},
      {"[rules.N4]\nstyles = { pou = \"Title\" }\n", "c.toml:2: rules.N4.styles.pou: unknown case style"},
      {"[rules.N6]\nmin = 9\nmax = 3\n", "rules.N6: min is above max"},
      {"[rules.N1\n", "c.toml:1: "},
      {"[rules.N10]\npatterns = { enum = \"E_[A-Z\" }\n", "c.toml:2: rules.N10.patterns.enum: a pattern is"},
  };
  for (const auto& c : bad) {
    const ProgramRun run = Program({"lint", "--config", Config(c.text), kProject});
    EXPECT_EQ(run.exit, 2) << c.text;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
  }
  EXPECT_EQ(Program({"lint", "--format", "sarif", dir_.File("x.nt")}).exit, 2);
}

TEST_F(PlcopenRules, TextNamesEachPlaceAndTheExitFollowsFailOn) {
  const ProgramRun text = Program({"lint", kProject});
  EXPECT_EQ(text.exit, 1);
  EXPECT_NE(text.out.find(kProject + ":23:111: warning: project/types/pous/pou[FB_Drive]/interface/localVars/"
                                     "variable[gSpeed]: \"gSpeed\" shadows the global variable \"gSpeed\": rename the "
                                     "local, or declare it VAR_EXTERNAL if the global was meant [N5]\n"),
            std::string::npos)
      << text.out;
  const std::string quiet =
      Config("[rules.N3]\nenabled = false\n[rules.N8]\nenabled = false\n[rules.N9]\nseverity = \"note\"\n");
  EXPECT_EQ(Program({"lint", "--config", quiet, kProject}).exit, 0);
  EXPECT_EQ(Program({"lint", "--config", quiet, "--fail-on", "warning", kProject}).exit, 1);
  EXPECT_EQ(Program({"lint", "--config", quiet, "--strict", kProject}).exit, 1);
  // Only the note of N9 is left, in one of two files.
  const std::string n5 = Config(
      "[rules.N3]\nenabled = false\n[rules.N5]\nenabled = false\n[rules.N8]\nenabled = false\n[rules.N9]\n"
      "severity = \"note\"\n",
      "n5.toml");
  const std::string v200 = NAMETREE_PLCOPEN_FIXTURES "/v200.xml";
  EXPECT_EQ(Program({"lint", "--config", n5, "--fail-on", "warning", kProject, v200}).exit, 0);
  EXPECT_EQ(Program({"lint", "--config", n5, "--fail-on", "note", v200, kProject}).exit, 1);
  // A directory: every project in it, the two that are none reported beside.
  const ProgramRun several = Program({"lint", "--config", quiet, NAMETREE_PLCOPEN_FIXTURES});
  EXPECT_EQ(several.exit, 2);
  EXPECT_NE(several.out.find("/vendor.xml: 1 error, 3 warnings, 1 note\n"
                             "7 files checked: 4 errors, 5 warnings, 5 notes\n"),
            std::string::npos)
      << several.out;
  EXPECT_NE(several.err.find("/malformed.xml:4: malformed XML"), std::string::npos);
  // A proposal keeps the name's underscores.
  EXPECT_NE(several.out.find("\"ST_Clock\": taken in the global namespace (container 1 holds it as ID 2) by "
                             "\"ST_Clock\" at line 7:23 (project/types/dataTypes/dataType[ST_Clock]); \"ST_Clock1\" is free"),
            std::string::npos)
      << several.out;
}

}  // namespace
}  // namespace nametree::test
