// What 'nametree import-plcopen' and 'nametree lint PROJECT.xml' share: the
// options a project is judged by, how its refusals are worded, and lint's
// options, bound once.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bound.h"
#include "nametree/plcopen_import.h"
#include "nametree/plcopen_rules.h"
#include "output.h"

namespace nametree::cli {

// --profile, --keyword-set and --keywords, as both commands take them.
struct JudgingFlags : KeywordFlags {
  std::optional<NameProfile> profile;  // IEC 61131-3 for a project unless told
};

// The profile and the reserved words a project is judged by.
struct Judging {
  plcopen::ImportOptions options;
  std::vector<std::string> sets;
  std::vector<CString> words;
};
// The flags' profile; the sets of --keyword-set, else the config's edition;
// their words, the config's words and then `own` (what ReadKeywordFiles
// gave for the flags).
Judging JudgingOf(const JudgingFlags& flags, const plcopen::NamingConfig& config, const std::vector<CString>& own);

// Imports the project into the empty document with the judging's keywords;
// exit 2 with the message when it is no PLCopen project.
int Import(const Reporter& report, const Judging& judging, const std::string& project, Document& doc,
           plcopen::ImportReport* out);

std::string Reason(const Judging& judging, const plcopen::Refusal& r);
// The lint check a refusal corresponds to ("invalid", "keyword", "twice", ...).
std::string_view Check(const plcopen::Refusal& r);
Json RefusalJson(const Judging& judging, const plcopen::Refusal& r);
Json SkippedJson(const plcopen::ImportReport& report);

enum class ReportFormat { kText, kJson, kSarif };

struct LintRequest : JudgingFlags {
  std::vector<std::string> files;
  bool strict = false;
  bool json = false;
  std::optional<ReportFormat> format;
  std::optional<std::string> config;
  bool printConfig = false;
  std::optional<plcopen::Severity> failOn;
};
std::string ConvertFormat(const Words& words, std::optional<ReportFormat>* out);
std::string ConvertFailOn(const Words& words, std::optional<plcopen::Severity>* out);

// 'lint' of PLCopen XML projects (and of --print-config).
int LintPlcopen(const LintRequest& o, const Context& context);
// The findings of a document an import made, each located in its project
// through the document's origins, printed as lint PROJECT.xml prints them.
int ReportLocatedFindings(const LintRequest& o, const Context& context, const std::string& path,
                          const ImportOrigins& origins, const std::vector<DocumentFinding>& findings,
                          const ContainerLabelLookup& label = {});

}  // namespace nametree::cli
