// 'nametree lint' checks a whole document; 'nametree repair' fixes what can
// be fixed without losing anything (the stored last issued ID) and reports
// the rest.
#include <cstdio>

#include "bound.h"
#include "cli.h"
#include "document.h"
#include "keywords.h"
#include "lint.h"
#include "plcopen_cli.h"

namespace nametree::cli {

int ReportFindings(bool asJson, bool strict, const std::string& path, const std::vector<DocumentFinding>& findings,
                   Json json, const ContainerLabelLookup& label) {
  int errors = 0, warnings = 0;
  for (const DocumentFinding& f : findings) (f.warning ? warnings : errors)++;
  const bool counts = errors > 0 || (strict && warnings > 0);
  if (asJson) {
    json["file"] = path;
    json["errors"] = errors;
    json["warnings"] = warnings;
    Json list = Json::array();
    for (const DocumentFinding& f : findings) list.push_back(FindingJson(f, label));
    json["findings"] = std::move(list);
    PrintJson(json);
  } else {
    for (const DocumentFinding& f : findings)
      std::printf("%s: %s\n", f.warning ? "warning" : "error", DescribeFinding(f, label).c_str());
    if (findings.empty())
      std::printf("%s: clean\n", path.c_str());
    else
      std::printf("%s: %s, %s\n", path.c_str(), Counted(errors, "error").c_str(), Counted(warnings, "warning").c_str());
  }
  return counts ? kExitRefused : kExitOk;
}

namespace {

// The check as the document was saved: its stored counter, not the process's.
DocumentCheckOptions LintOptions(std::uint32_t stored, NameProfile profile) {
  DocumentCheckOptions options;
  options.profile = profile;
  options.useStoredLastID = true;
  options.storedLastID = stored;
  return options;
}

int RunLint(const LintRequest& o, const Context& context) {
  bool projects = o.files.empty();
  for (const std::string& file : o.files) projects = projects || IsPlcopenArgument(file);
  // mutate: plcopen-lint-reads-document
  if (projects || o.printConfig) return LintPlcopen(o, context);
  if (o.config) return context.UsageError("--config applies to PLCopen XML projects only");
  if (o.files.size() > 1) return context.UsageError("a document is checked alone; several files must be PLCopen XML");
  const std::string& file = o.files[0];
  // Entries that could not be read are findings of their own, not warnings
  // beside the report.
  Result<Document> opened = Document::Open(file, {.readOnly = true});
  if (!opened) return ReportDocumentError(context.Report(), file, opened.error());
  Document& doc = *opened;
  // Judged as the document keeps it unless told otherwise.
  // mutate: lint-doc-profile-unkept
  const NameProfile profile = o.profile.value_or(doc.Profile());
  if (int rc = LoadKeywords(o, context, doc)) return rc;
  const std::vector<DocumentFinding> findings = doc.Lint(LintOptions(doc.StoredLastIssuedId(), profile));
  const ContainerLabelLookup label = [&doc](std::uint32_t id) { return doc.Label16(id); };
  // mutate: plcopen-lint-doc-unlocated
  if (const ImportOrigins* origins = doc.Origins())
    return ReportLocatedFindings(o, context, doc.Path().string(), *origins, findings, label);
  if (o.format || o.failOn)
    return context.UsageError("--" + std::string(o.format ? "format" : "fail-on") +
                              " applies to PLCopen XML projects and documents made of them");
  return ReportFindings(o.json, o.strict, doc.Path().string(), findings, Json::object(), label);
}

struct RepairOptions : KeywordFlags, WriteFlags {
  std::string file;
  bool strict = false;
  bool json = false;
};

int RunRepair(const RepairOptions& o, const Context& context) {
  Document doc = Document::InMemory();
  if (int rc = OpenDocument(context.Report(), doc, o.file, true, o.Options())) return rc;
  if (int rc = LoadKeywords(o, context, doc)) return rc;
  const std::uint32_t stored = doc.StoredLastIssuedId();
  const std::uint32_t highest = doc.HighestId();
  Json json = Json::object();
  if (doc.RaiseLastIssuedId()) {
    if (int rc = SaveDocument(context.Report(), doc)) return rc;
    if (!o.json)
      std::printf("raised the stored last issued ID from %u to %u\n", stored, highest);
    json["raised"] = {{"from", stored}, {"to", highest}};
  } else if (!o.json) {
    std::printf("the stored last issued ID %u is above every ID in use; nothing to repair\n", stored);
  }
  // The rest cannot be fixed without choosing which name to lose or rename.
  return ReportFindings(o.json, o.strict, doc.Path().string(),
                        doc.Lint(LintOptions(stored < highest ? highest : stored, NameProfile::kClassic)),
                        std::move(json), [&doc](std::uint32_t id) { return doc.Label16(id); });
}

}  // namespace

void AddLintCommands(std::vector<CommandSpec>& table) {
  const OptionSpec keywords{"keywords", "FILE",
                            "reserved words, one per line, judged as add judges them; may be repeated; - reads "
                            "standard input",
                            true};
  const OptionSpec strict{"strict", "", "warnings count as findings too (exit 1)"};
  static const std::string details =
      "Reports, judged as 'nametree add' judges by default (kind 0, duplicate check, not\n"
      "confined): names that break the name rule; names that collide with a namespace their\n"
      "container must stay apart from (reported for that container, saying which namespace);\n"
      "keywords used as names; texts held twice in one container; a stored last issued ID\n"
      "below an ID in use; IDs held twice; containers over the " + std::to_string(kMaxEntriesPerTable) +
      " limits. As warnings:\n"
      "names that look alike but differ (the same confusable skeleton of Unicode TR 39) in\n"
      "namespaces that must stay apart, such as a Latin and a Cyrillic \"Pump\".\n"
      "First, as errors named by their check: entries that cannot be read, a \"NameServer\"\n"
      "stream that loads but does not read back whole, malformed settings, and labels held\n"
      "twice, breaking the name rule or of a missing container.\n"
      "Exit 0 when clean (warnings alone keep 0 unless --strict), 1 with findings.\n"
      "PLCopen XML projects (FILE.xml, or directories of them, several per run) are imported\n"
      "and checked as IEC 61131-3 names, each finding with its file, line, column and element\n"
      "path: the import's refusals, the document check of what it took, and the naming rules\n"
      "N1 to N10 as the nearest .nametree.toml above each file (or --config) sets them;\n"
      "--print-config shows that config with its defaults. Exit 1 when a finding at or above\n"
      "--fail-on (error unless told; warning under --strict) exists. A document that\n"
      "import-plcopen made keeps where its names came from: its findings are located in the\n"
      "project the same way, and --format and --fail-on apply to it too.";
  using L = LintRequest;
  table.push_back(
      Binder<L>()
          .Arg({"FILE", "the document, or PLCopen XML projects and directories of them", false, true}, &L::files)
          .KeywordFiles(keywords)
          .KeywordSets()
          .Opt(kProfileOption, &L::profile)
          .Opt(strict, &L::strict)
          .Opt(kJsonObjectOption, &L::json)
          .Opt({"format", "FORMAT", "text, json or sarif (PLCopen XML, and documents imported from it)", false,
                [] { return std::vector<std::string>{"text", "json", "sarif"}; }},
               [](L& o, const Words& w) { return ConvertFormat(w, &o.format); })
          .Opt({"config", "FILE", "the naming rules' config (PLCopen XML only); default: the nearest .nametree.toml"},
               &L::config)
          .Opt({"print-config", "", "print the config that applies, with its defaults, and stop"}, &L::printConfig)
          .Opt({"fail-on", "SEVERITY", "exit 1 for findings at or above it: note, warning or error", false,
                [] { return std::vector<std::string>{"note", "warning", "error"}; }},
               [](L& o, const Words& w) { return ConvertFailOn(w, &o.failOn); })
          .Command("lint", "check a whole document for what the library would refuse", details, RunLint));
  table.push_back(
      Binder<RepairOptions>()
          .Arg({"FILE", "the document"}, &RepairOptions::file)
          .KeywordFiles(keywords)
          .Opt(strict, &RepairOptions::strict)
          .Write()
          .Opt(kJsonObjectOption, &RepairOptions::json)
          .Command("repair", "raise a stored last issued ID that is below an ID in use, and report the rest",
                   "Fixes what can be fixed without losing anything: a stored last issued ID below an ID in\n"
                   "use is raised to the highest ID, so that edits cannot issue held IDs again. Everything\n"
                   "else lint finds is reported, not changed. Exit 0 when nothing is left, 1 otherwise.",
                   RunRepair));
}

}  // namespace nametree::cli
