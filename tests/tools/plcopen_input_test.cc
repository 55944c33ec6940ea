// The IEC 61131-3 name profile against a model of its grammar, the keyword
// editions, and PLCopen input built to hurt: deep nesting, huge names,
// NUL and hidden characters, pipes, and the container limits.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <regex>

#include "nametree/identifier_profile.h"
#include "nametree/keyword_sets.h"
#include "support/program.h"

namespace nametree::test {
namespace {

using Json = nlohmann::json;
using Rule = CNameRuleViolation::Rule;

// The identifier production: a letter, or an underscore and a letter or
// digit, then letters or digits each after at most one underscore.
bool IecModel(const std::string& ascii) {
  static const std::regex identifier("([A-Za-z]|_[A-Za-z0-9])(_?[A-Za-z0-9])*");
  return ascii.size() <= 32 && std::regex_match(ascii, identifier);
}

TEST(IecProfile, AgreesWithTheGrammarOnEveryShortTextAndNamesTheBrokenRule) {
  // 'Z' stands for a letter outside ASCII; '-' for punctuation.
  const std::string alphabet = "Az0_Z-";
  std::vector<std::string> texts = {""};
  for (std::size_t begin = 0, length = 0; length < 5; ++length) {
    const std::size_t end = texts.size();
    for (std::size_t i = begin; i < end; ++i)
      for (char c : alphabet) texts.push_back(texts[i] + c);
    begin = end;
  }
  for (const std::string& t : texts) {
    CString name;
    for (char c : t) name += c == 'Z' ? u'\u0416' : static_cast<char16_t>(c);
    CNameRuleViolation why;
    const bool broken = ExplainIecIdentifier(name, &why);
    EXPECT_EQ(!broken, t.find('Z') == std::string::npos && IecModel(t)) << t;
    EXPECT_EQ(broken, why.rule != Rule::kNone) << t;
  }
  EXPECT_FALSE(ExplainIecIdentifier(CString(32, u'a'), nullptr));
  const struct {
    std::u16string name;
    Rule rule;
    int index;
  } cases[] = {{u"LIM__SW5", Rule::kDoubleUnderscore, 4}, {u"LIM_SW5_", Rule::kTrailingUnderscore, 7},
               {u"\u041D\u0430\u0441\u043E\u0441", Rule::kNotAscii, 0}, {u"1st", Rule::kFirstCharacter, 0},
               {u"a b", Rule::kCharacter, 1}, {u"", Rule::kEmpty, 0}, {CString(33, u'a'), Rule::kTooLong, 32}};
  for (const auto& c : cases) {
    CNameRuleViolation why;
    EXPECT_TRUE(ExplainIecIdentifier(c.name, &why));
    EXPECT_EQ(why.rule, c.rule);
    EXPECT_EQ(why.index, c.index);
  }
  EXPECT_EQ(NameProfileNamed("iec61131-3"), NameProfile::kIec61131_3);
  EXPECT_EQ(NameProfileNamed("classic"), NameProfile::kClassic);
  EXPECT_FALSE(NameProfileNamed("IEC"));
}

TEST(KeywordSets, TheEditionsHoldKeywordsAndTypesAndTheSecondLacksWhatTheThirdAdded) {
  const auto ed2 = KeywordSet("iec61131-3-ed2"), ed3 = KeywordSet("iec61131-3-ed3");
  auto in = [](auto set, std::u16string_view w) { return std::find(set.begin(), set.end(), w) != set.end(); };
  for (auto w : {u"LDT", u"LTIME", u"LDATE", u"LTOD", u"LDATE_AND_TIME", u"METHOD", u"CLASS", u"REF_TO", u"WCHAR"}) {
    EXPECT_TRUE(in(ed3, w));
    EXPECT_FALSE(in(ed2, w));
  }
  for (auto w : {u"IF", u"BOOL", u"TIME", u"DT", u"VAR_IN_OUT", u"FUNCTION_BLOCK", u"END_FUNCTION_BLOCK", u"READ_ONLY",
                 u"WSTRING"}) {
    EXPECT_TRUE(in(ed2, w));
    EXPECT_TRUE(in(ed3, w));
  }
  // Keywords and types, but no standard blocks, and case counts.
  for (auto w : {u"TON", u"IN", u"PT", u"Q", u"ADD", u"if"}) EXPECT_FALSE(in(ed3, w));
  EXPECT_TRUE(KeywordSet("iec61131").empty());
  EXPECT_EQ(KeywordSetNames().size(), 3u);
  for (auto w : ed3) EXPECT_EQ(IsThirdEditionOnlyKeyword(w), !in(ed2, w));
  EXPECT_TRUE(std::equal(ed3.begin(), ed3.end(), KeywordSet("iec61131-3").begin(), KeywordSet("iec61131-3").end()));
}

class PlcopenInput : public ::testing::Test {
 protected:
  ProgramRun Program(const std::vector<std::string>& args, int seconds = 60) const {
    return RunProgram(dir_, args, "", "", seconds);
  }
  std::string Project(const std::string& file, const std::string& body) const {
    const std::string path = dir_.File(file);
    WriteBytes(path, "<?xml version=\"1.0\"?>\n<project xmlns=\"http://www.plcopen.org/xml/tc6_0201\">\n" + body +
                         "\n</project>\n");
    return path;
  }
  static std::string Pou(const std::string& name, const std::string& vars) {
    return "<pou name=\"" + name + "\" pouType=\"program\"><interface><localVars>" + vars +
           "</localVars></interface></pou>\n";
  }
  static std::string Var(const std::string& name) {
    return "<variable name=\"" + name + "\"><type><INT/></type></variable>";
  }
  TempDir dir_;
};

std::size_t Env(const char* name, std::size_t fallback) {
  const char* v = std::getenv(name);
  return v ? std::strtoul(v, nullptr, 10) : fallback;
}

TEST_F(PlcopenInput, DeepNestingIsOneBoundedRefusal) {
  // NAMETREE_PLCOPEN_DEPTH=500000 is the 25 MB case.
  const std::size_t depth = Env("NAMETREE_PLCOPEN_DEPTH", 20000);
  std::string body = "<types><dataTypes><dataType name=\"Deep\"><baseType><struct>";
  for (std::size_t i = 0; i < depth; ++i) body += "<variable name=\"v\"><type><struct>";
  body += "<variable name=\"last\"><type><INT/></type></variable>";
  for (std::size_t i = 0; i < depth; ++i) body += "</struct></type></variable>";
  body += "</struct></baseType></dataType></dataTypes><pous/></types>";
  const std::string project = Project("deep.xml", body);
  const ProgramRun run = Program({"import-plcopen", "--json", "--keep-going", project, dir_.File("deep.nt")});
  ASSERT_EQ(run.exit, 1) << run.err.substr(0, 400);
  const Json report = Json::parse(run.out);
  ASSERT_EQ(report["refused"].size(), 1u);
  const Json& r = report["refused"][0];
  EXPECT_EQ(r["check"], "too-deep");
  EXPECT_EQ(r["count"].get<std::size_t>() + report["imported"].get<std::size_t>(), depth + 2);
  EXPECT_EQ(report["imported"], 1 + 255);  // Deep, and the member in each of the scopes 1 to 255
  EXPECT_EQ(r["path"].get<std::string>().rfind("\xE2\x80\xA6/", 0), 0u);
  EXPECT_LT(run.out.size() + run.err.size(), 4096u);
}

TEST_F(PlcopenInput, EchoedNamesAndPathsAreCutAndEscaped) {
  const std::string huge(100000, 'N');
  std::string body = "<types><dataTypes/><pous>";
  std::string open, close;
  for (int i = 0; i < 48; ++i) {
    open += "<variable name=\"" + huge + "\"><type><struct>";
    close = "</struct></type></variable>" + close;
  }
  std::string bad;
  // NAMETREE_PLCOPEN_REFUSALS=20000 is the case that took 4 GB.
  const std::size_t refusals = Env("NAMETREE_PLCOPEN_REFUSALS", 2000);
  for (std::size_t i = 0; i < refusals; ++i) bad += Var(std::to_string(i) + "x");
  body += Pou("P", open + bad + close);
  body += Pou("Q", Var("Keep&#0;Evil") + Var("Keep") + Var("a&#x1B;[2J") + Var("b&#x202E;c") + Var("d&#xD800;") +
                       Var("e\xFF"));
  body += "</pous></types>";
  const std::string project = Project("long.xml", body);
  const ProgramRun run = Program({"import-plcopen", project, dir_.File("long.nt")});
  ASSERT_EQ(run.exit, 1);
  std::size_t lines = 0;
  for (std::size_t at = 0, next; (next = run.err.find('\n', at)) != std::string::npos; at = next + 1, ++lines)
    EXPECT_LT(next - at, 1200u) << run.err.substr(at, 300);
  EXPECT_EQ(lines, 48 + refusals + 5);  // the 48 huge names, the refusals, five of Q's six
  const ProgramRun json = Program({"lint", "--json", project});
  ASSERT_EQ(json.exit, 1) << json.err.substr(0, 300) << json.out.substr(0, 300);
  std::vector<std::string> shown;
  const Json findings = Json::parse(json.out)["findings"];
  for (const Json& f : findings)
    if (f["path"].get<std::string>().find("pou[Q]") != std::string::npos) shown.push_back(f["name"]);
  const std::vector<std::string> expected = {"Keep\\u{0000}Evil", "a\\u{001B}[2J", "b\\u{202E}c", "d\\u{D800}",
                                             "e\xEF\xBF\xBD"};
  EXPECT_EQ(shown, expected);
  EXPECT_EQ(findings[findings.size() - 5]["reason"], "invalid name: it holds U+0000, which no name may");
  EXPECT_NE(run.err.find("\"" + std::string(64, 'N') + "\xE2\x80\xA6\" refused"), std::string::npos);
}

TEST_F(PlcopenInput, PipesAndDirectoriesAreRefusedUnread) {
  const std::string fifo = dir_.File("pipe.xml"), directory = dir_.File("dir.xml");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::filesystem::create_directory(directory);
  for (const std::string& path : {fifo, directory}) {
    for (const char* command : {"lint", "import-plcopen"}) {
      std::vector<std::string> args = {command, path};
      if (args[0] == "import-plcopen") args.push_back(dir_.File("out.nt"));
      const ProgramRun run = Program(args, 20);
      EXPECT_EQ(run.exit, 2) << path;
      EXPECT_NE(run.err.find(path == fifo ? "not a regular file" : "a directory"), std::string::npos) << run.err;
    }
  }
  for (const std::string& gone : {dir_.File("gone.xml"), fifo + "/under-a-file.xml"}) {
    for (const char* command : {"lint", "import-plcopen"}) {
      std::vector<std::string> args = {command, "--json", gone};
      if (args[0] == "import-plcopen") args.push_back(dir_.File("out.nt"));
      const ProgramRun run = Program(args, 20);
      EXPECT_EQ(run.exit, 2) << gone;
      EXPECT_NE(run.out.find("\"kind\":\"not-found\""), std::string::npos) << run.out;
    }
  }
}

TEST_F(PlcopenInput, ALimitIsReportedOnceWithItsCountAndItsCause) {
  std::string body = "<types><dataTypes/><pous>";
  const std::size_t pous = kMaxEntriesPerTable + 3;
  for (std::size_t i = 0; i < pous; ++i) body += Pou("P" + std::to_string(i), Var("x"));
  body += "</pous></types>";
  const ProgramRun run = Program({"lint", "--json", Project("many.xml", body)});
  ASSERT_EQ(run.exit, 1);
  std::vector<std::string> refusals;
  const Json findings = Json::parse(run.out)["findings"];
  for (const Json& f : findings)
    refusals.push_back(f["name"].get<std::string>() + " " + f["check"].get<std::string>() + " " +
                       std::to_string(f["count"].get<int>()));
  EXPECT_EQ(refusals, (std::vector<std::string>{"P32767 limit 3", "x limit 3"}));
  const ProgramRun text = Program({"lint", Project("many.xml", body)});
  EXPECT_NE(text.out.find("its container holds 32767 names"), std::string::npos);
  EXPECT_NE(text.out.find("more than a saved document holds (and 2 more for this cause)"), std::string::npos);
  EXPECT_EQ(text.out.find("E_FAIL"), std::string::npos);
}

}  // namespace
}  // namespace nametree::test
