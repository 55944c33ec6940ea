// 'nametree import-plcopen' makes a document of a PLCopen XML project, and
// 'nametree lint PROJECT.xml' checks a project's names without writing one.
// Both apply the built-in IEC 61131-3 keywords.
#include <cstdio>
#include <filesystem>
#include <algorithm>
#include <memory>
#include <optional>

#include "cli.h"
#include "document.h"
#include "keywords.h"
#include "lint.h"
#include "plcopen_cli.h"
#include "nametree/identifier_profile.h"
#include "nametree/keyword_sets.h"
#include "nametree/plcopen_import.h"
#include "nametree/plcopen_update.h"
#include "nametree/utf8.h"
#include "output.h"

namespace nametree::cli {

using plcopen::ImportReport;
using plcopen::Refusal;
using plcopen::RefusalCause;
using plcopen::Skipped;

Judging JudgingOf(const JudgingFlags& flags, const plcopen::NamingConfig& config, const std::vector<CString>& own) {
  Judging judging;
  judging.options.profile = flags.profile.value_or(judging.options.profile);
  // mutate: plcopen-keyword-set-ignored
  judging.sets = flags.sets;
  if (judging.sets.empty()) judging.sets.push_back(config.edition);
  // Each set was checked as bound, and the config's edition as read.
  for (const std::string& set : judging.sets)
    for (std::u16string_view word : KeywordSet(set)) judging.words.emplace_back(word);
  // mutate: plcopen-n3-user-words-ignored
  for (const std::string& word : config.keywords) judging.words.push_back(FromUtf8(word));
  judging.words.insert(judging.words.end(), own.begin(), own.end());
  return judging;
}

std::string KeywordReason(const Judging& judging, const std::string& name) {
  std::string sets;
  for (const std::string& set : judging.sets) sets += (sets.empty() ? "" : ", ") + set;
  std::u16string upper = FromUtf8(name);
  for (char16_t& c : upper) c = c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 0x20) : c;
  // mutate: plcopen-edition-unsaid
  const bool ed3 = std::find(judging.sets.begin(), judging.sets.end(), "iec61131-3-ed2") == judging.sets.end() &&
                   IsThirdEditionOnlyKeyword(upper);
  return "it is a keyword" + (sets.empty() ? std::string() : " of " + sets) +
         (ed3 ? " (of the third edition only; --keyword-set iec61131-3-ed2 allows it)" : "");
}

std::string Reason(const Judging& judging, const Refusal& r) {
  switch (r.cause) {
    case RefusalCause::kRule: return "invalid name: " + r.rule;
    case RefusalCause::kNul: return "invalid name: it holds U+0000, which no name may";
    case RefusalCause::kTooDeep:
      return "nested deeper than " + std::to_string(plcopen::kMaxScopeDepth) + " scopes";
    case RefusalCause::kScopeLimit:
      return "its scope would be container number " + std::to_string(kMaxEntriesPerTable + 1) +
             " of one parent, more than a saved document holds";
    case RefusalCause::kNameLimit:
      return "its container holds " + std::to_string(kMaxEntriesPerTable) + " names, the most a saved document holds";
    case RefusalCause::kDuplicate: {
      if (r.hit.where == CDuplicateHit::Where::kKeyword) return KeywordReason(judging, r.name);
      std::string reason = DescribeDuplicate(r.hit);
      if (!r.otherPath.empty())
        reason += " by \"" + r.otherName + "\" at line " + std::to_string(r.otherLine) + ":" +
                  std::to_string(r.otherColumn) + " (" + r.otherPath + ")";
      return reason;
    }
    case RefusalCause::kOther: break;
  }
  return "the library refused it (" + StatusName(r.result) + ")";
}

// The lint check name the refusal corresponds to.
std::string_view Check(const Refusal& r) {
  switch (r.cause) {
    case RefusalCause::kRule:
    case RefusalCause::kNul: return "invalid";
    case RefusalCause::kDuplicate:
      if (r.hit.where == CDuplicateHit::Where::kKeyword) return "keyword";
      return r.hit.where == CDuplicateHit::Where::kOwnContainer ? "twice" : "collision";
    case RefusalCause::kTooDeep: return "too-deep";
    default: return "limit";
  }
}

static std::string_view SkippedWhy(Skipped::Why why) {
  return why == Skipped::Why::kInstanceOfItsType ? "instance of its program type" : "free text in vendor data";
}

int ImportFailed(const Reporter& report, const std::string& project, const std::string& doc,
                 const plcopen::ImportFailure& failure);

int Import(const Reporter& report, const Judging& judging, const std::string& project, Document& doc,
           ImportReport* out) {
  return ImportFailed(report, project, project,
                      plcopen::ImportPlcopenFile(project, doc, judging.words, out, judging.options));
}

int ImportFailed(const Reporter& report, const std::string& project, const std::string& doc,
                 const plcopen::ImportFailure& failure) {
  if (failure.status == plcopen::ImportStatus::kOk) return kExitOk;
  if (failure.status == plcopen::ImportStatus::kNotImported || failure.status == plcopen::ImportStatus::kReadOnly) {
    report.File(doc, failure.message, "refused");
    return kExitError;
  }
  const bool missing = failure.status == plcopen::ImportStatus::kNotFound;
  const bool io = failure.status == plcopen::ImportStatus::kUnreadable ||
                  failure.status == plcopen::ImportStatus::kNotAFile;
  report.File(failure.line ? project + ":" + std::to_string(failure.line) : project, failure.message,
              missing ? "not-found" : io ? "io" : "not-a-document");
  return kExitError;
}

namespace {

// Writes the imported document with the keywords it was checked against,
// so that later edits refuse those words too, and its containers labelled.
// The file is created exclusively: one that appeared since the check is not
// replaced either.
// An update (`updated` set) has labelled and located what it applied
// already; one that changed nothing leaves the file as it is. A document
// this run made or opened is writable.
int WriteDocument(Reporter& report, const Judging& judging, const std::string& project, const ImportReport& imported,
                  Document& doc, std::size_t* unlabelled, const plcopen::UpdateSummary* updated) {
  if (updated && !updated->changed && judging.words == doc.Keywords16() && judging.options.profile == doc.Profile())
    return kExitOk;
  (void)doc.SetKeywords(judging.words);
  (void)doc.SetProfile(judging.options.profile);
  if (!updated) {
    *unlabelled = plcopen::LabelMadeContainers(imported, doc);
    (void)doc.SetOrigins(plcopen::OriginsOf(imported, project));
  }
  return SaveDocument(report, doc);
}

}  // namespace

Json RefusalJson(const Judging& judging, const Refusal& r) {
  Json item = {{"name", r.name}, {"line", r.line}, {"column", r.column}, {"path", r.path}, {"reason", Reason(judging, r)},
               {"check", Check(r)}, {"result", StatusHex(r.result)}, {"count", r.count}};
  if (r.cause == RefusalCause::kDuplicate) {
    item["namespace"] = DuplicateNamespace(r.hit.where);
    if (r.hit.nameID) item["otherID"] = r.hit.nameID;
    if (!r.otherPath.empty()) {
      item["otherLine"] = r.otherLine;
      item["otherColumn"] = r.otherColumn;
      item["otherPath"] = r.otherPath;
    }
  }
  return item;
}

Json SkippedJson(const ImportReport& report) {
  Json list = Json::array();
  for (const Skipped& s : report.skipped)
    list.push_back({{"name", s.name}, {"line", s.line}, {"column", s.column}, {"path", s.path},
                    {"why", SkippedWhy(s.why)}});
  return list;
}

namespace {

std::size_t Refused(const ImportReport& report) {
  std::size_t n = 0;
  for (const Refusal& r : report.refused) n += r.count;
  return n;
}

struct ImportRequest : JudgingFlags {
  std::string project;
  std::string doc;
  bool keepGoing = false;
  bool update = false;
  bool dryRun = false;
  bool json = false;
};

int RunImport(const ImportRequest& o, const Context& context) {
  const std::string& project = o.project;
  const std::string& docPath = o.doc;
  const bool update = o.update;
  std::vector<CString> own;
  if (int rc = ReadKeywordFiles(o, context, &own)) return rc;
  Judging judging = JudgingOf(o, plcopen::DefaultNamingConfig(), own);
  judging.options.keys = true;
  // Made or opened before the project is read: an existing DOC is refused
  // first, a missing one for --update too.
  Reporter& reporter = context.Report();
  Document doc = Document::InMemory();
  if (int rc = update ? OpenDocument(reporter, doc, docPath, true, CreateOptions(o.dryRun))
                      : CreateDocument(reporter, doc, docPath, CreateOptions(o.dryRun)))
    return rc;
  ImportReport report;
  plcopen::UpdateSummary summary;
  if (int rc = update ? ImportFailed(reporter, project, docPath,
                                     plcopen::UpdatePlcopenFile(project, doc, judging.words, &report, &summary,
                                                                judging.options))
                      : ImportFailed(reporter, project, docPath,
                                     plcopen::ImportPlcopenFile(project, doc, judging.words, &report, judging.options)))
    return rc;
  // mutate: plcopen-keep-going-ignored
  const bool write = report.refused.empty() || o.keepGoing;
  std::size_t unlabelled = 0;
  if (write)
    if (int rc = WriteDocument(reporter, judging, project, report, doc, &unlabelled, update ? &summary : nullptr))
      return rc;
  const std::size_t written = write ? report.accepted : 0;
  if (o.json) {
    Json json;
    json["file"] = project;
    json["document"] = docPath;
    json["written"] = write && !doc.IsDryRun();
    if (doc.IsDryRun()) json["dryRun"] = true;
    json["profile"] = NameProfileName(judging.options.profile);
    json["elements"] = report.named;
    json["imported"] = written;
    json["accepted"] = report.accepted;
    Json refused = Json::array();
    for (const Refusal& r : report.refused) refused.push_back(RefusalJson(judging, r));
    json["refused"] = std::move(refused);
    json["skipped"] = SkippedJson(report);
    json["containers"] = report.containers;
    json["globalContainer"] = report.globalContainer;
    json["unlabelled"] = unlabelled;
    Json ids = Json::object();
    for (const plcopen::GlobalId& g : report.globalIds) ids[g.globalId] = g.id;
    json["globalIds"] = std::move(ids);
    if (update)
      json["update"] = {{"kept", summary.kept}, {"renamed", summary.renamed}, {"added", summary.added},
                        {"deleted", summary.deleted}, {"containersAdded", summary.containersAdded},
                        {"containersDeleted", summary.containersDeleted}};
    PrintJson(json);
  } else {
    const std::string shown = Echo(project);
    for (const Refusal& r : report.refused)
      std::fprintf(stderr, "nametree: %s:%zu: %s: \"%s\" refused%s: %s\n", shown.c_str(), r.line, r.path.c_str(),
                   r.name.c_str(), r.count > 1 ? (", with " + std::to_string(r.count - 1) + " more").c_str() : "",
                   Reason(judging, r).c_str());
    const std::string skipped = report.skipped.empty() ? "" : ", " + std::to_string(report.skipped.size()) + " skipped";
    if (write && update)
      std::printf("updated %s: %zu names kept, %zu renamed, %zu added, %zu deleted; %zu containers added, %zu "
                  "deleted; %zu refused%s\n",
                  Echo(docPath).c_str(), summary.kept, summary.renamed, summary.added, summary.deleted,
                  summary.containersAdded, summary.containersDeleted, Refused(report), skipped.c_str());
    else if (write)
      std::printf("imported %zu names into %zu containers of %s; %zu refused%s\n", written, report.containers,
                  Echo(docPath).c_str(), Refused(report), skipped.c_str());
    else
      std::printf("%zu names refused%s; %s not written (--keep-going writes the %zu that pass)\n", Refused(report),
                  skipped.c_str(), Echo(docPath).c_str(), report.accepted);
  }
  return report.refused.empty() ? kExitOk : kExitRefused;
}

}  // namespace

bool IsPlcopenArgument(const std::string& path) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) return true;
  if (path.size() <= 4) return false;
  std::string ending = path.substr(path.size() - 4);
  for (char& c : ending) c = static_cast<char>(c | 0x20);
  return ending == ".xml";
}

const OptionSpec kProfileOption{"profile", "NAME",
                                "the name rule: iec61131-3 (the default for PLCopen XML) or classic (for documents)"};

void AddPlcopenCommands(std::vector<CommandSpec>& table) {
  using O = ImportRequest;
  table.push_back(
      Binder<O>()
          .Arg({"PROJECT", "the PLCopen XML file"}, &O::project)
          .Arg({"DOC", "the document to create (to update, with --update)"}, &O::doc)
          .Opt({"keep-going", "", "write the names that pass even when others were refused"}, &O::keepGoing)
          .Opt({"update", "", "apply the project to DOC, which import-plcopen made, keeping the IDs of what stayed"},
               &O::update)
          .Opt(kDryRunOption, &O::dryRun)
          .Opt(kProfileOption, &O::profile)
          .KeywordSets()
          .KeywordFiles({"keywords", "FILE", "reserved words, one per line, besides the keyword set; may be repeated",
                         true})
          .Opt(kJsonObjectOption, &O::json)
          .Command("import-plcopen", "make a new document of the names of a PLCopen XML project",
                   "Reads a PLCopen XML project (TC6 schema 2.01 or 2.00) and writes a new document whose\n"
                   "containers follow IEC 61131-3 scoping: a global container (type 2) for data type, POU\n"
                   "and configuration names; a plain container (type 0) below it for each POU (its\n"
                   "variables, actions, transitions; methods below it) and each data type with members;\n"
                   "a target container (type 3) for each configuration (its global variables and\n"
                   "resources), a plain one below it for each resource (its global variables, tasks and POU\n"
                   "instances); a target container for each global variable list of its own. Vendor\n"
                   "sections are read where they stand. Names are judged as IEC 61131-3 identifiers\n"
                   "(--profile classic applies the library's own rule) against the keywords of the third\n"
                   "edition unless --keyword-set names others. A program instance named like its program\n"
                   "type and free text in vendor data are no names: they are skipped and listed. Every\n"
                   "refused name is listed with its line, element path and the reason. The document is\n"
                   "written only when nothing was refused, unless --keep-going. DOC must not exist, unless\n"
                   "--update: then DOC, made by import-plcopen, takes the newer export: an element whose\n"
                   "path is unchanged, or that carries a globalId the document knew, keeps its ID (and its\n"
                   "container its ID and label); a new element gets a fresh ID; what is gone is deleted.\n"
                   "Exit 1 when a name was refused, 2 for a file that is no PLCopen XML.",
                   RunImport));
}

}  // namespace nametree::cli
