// 'nametree import-plcopen' makes a document of a PLCopen XML project, and
// 'nametree lint PROJECT.xml' checks a project's names without writing one.
// Both apply the built-in IEC 61131-3 keywords.
#include <cstdio>
#include <filesystem>
#include <memory>

#include "args.h"
#include "cli.h"
#include "document.h"
#include "keywords.h"
#include "lint.h"
#include "nametree/document_file.h"
#include "nametree/keyword_sets.h"
#include "nametree/plcopen_import.h"
#include "nametree/utf8.h"
#include "output.h"

namespace nametree::cli {

namespace {

using plcopen::ImportReport;
using plcopen::Refusal;

constexpr std::string_view kKeywordSet = "iec61131-3";

void AddKeywordSet(CNameServer& server) {
  for (std::u16string_view word : KeywordSet(kKeywordSet)) server.AddKeyword(CString(word));
}

std::string Reason(const CNameServer& server, const Refusal& r) {
  if (r.violation.rule != CNameRuleViolation::Rule::kNone)
    return "invalid name: " + DescribeInvalidName(server, FromUtf8(r.name), 0);
  if (r.result == E_NAME_DUPLICATE) {
    if (r.hit.where == CDuplicateHit::Where::kKeyword) return "it is a keyword of " + std::string(kKeywordSet);
    std::string reason = DescribeDuplicate(r.hit);
    if (!r.otherPath.empty())
      reason += " by " + Quoted(FromUtf8(r.otherName)) + " at line " + std::to_string(r.otherLine) + " (" +
                r.otherPath + ")";
    return reason;
  }
  return "the library refused it (" + StatusName(r.result) + ")";
}

// The lint check name the refusal corresponds to.
std::string_view Check(const Refusal& r) {
  if (r.violation.rule != CNameRuleViolation::Rule::kNone) return "invalid";
  if (r.result != E_NAME_DUPLICATE) return "limit";
  if (r.hit.where == CDuplicateHit::Where::kKeyword) return "keyword";
  return r.hit.where == CDuplicateHit::Where::kOwnContainer ? "twice" : "collision";
}

// Reads the project into the server; exit 2 with the message when it is no
// PLCopen project.
int Import(const Reporter& report, const std::string& project, CNameServer& server, ImportReport* out) {
  AddKeywordSet(server);
  const plcopen::ImportFailure failure = plcopen::ImportPlcopenFile(project, server, out);
  if (failure.status == plcopen::ImportStatus::kOk) return kExitOk;
  const bool missing = failure.status == plcopen::ImportStatus::kUnreadable && !std::filesystem::exists(project);
  report.File(failure.line ? project + ":" + std::to_string(failure.line) : project, failure.message,
              missing ? "not-found" : failure.status == plcopen::ImportStatus::kUnreadable ? "io" : "not-a-document");
  return kExitError;
}

// Writes the imported document with the keyword set it was checked
// against, so that later edits refuse those words too. The file is created
// exclusively: one that appeared since the check is not replaced either.
int WriteDocument(Reporter& report, Document& doc) {
  std::vector<CString> words;
  for (std::u16string_view word : KeywordSet(kKeywordSet)) words.emplace_back(word);
  doc.File().SetStoredKeywords(std::move(words));
  return SaveDocument(report, doc);
}

Json RefusalJson(const CNameServer& server, const Refusal& r) {
  Json item = {{"name", r.name}, {"line", r.line}, {"path", r.path}, {"reason", Reason(server, r)},
               {"check", Check(r)}, {"result", StatusHex(r.result)}};
  if (r.result == E_NAME_DUPLICATE) {
    item["namespace"] = DuplicateNamespace(r.hit.where);
    if (r.hit.nameID) item["otherID"] = r.hit.nameID;
    if (!r.otherPath.empty()) {
      item["otherLine"] = r.otherLine;
      item["otherPath"] = r.otherPath;
    }
  }
  return item;
}

int RunImport(const Args& args) {
  const std::string& project = args.At(0);
  const std::string& docPath = args.At(1);
  // Made before the project is read: an existing DOC is refused first.
  Document doc;
  if (int rc = CreateDocument(args.Report(), doc, docPath, CreateOptions(args))) return rc;
  CNameServer& server = doc.Server();
  ImportReport report;
  if (int rc = Import(args.Report(), project, server, &report)) return rc;
  const bool write = report.refused.empty() || args.Has("keep-going");
  if (write)
    if (int rc = WriteDocument(args.Report(), doc)) return rc;
  const std::size_t written = write ? report.accepted : 0;
  if (args.Has("json")) {
    Json json;
    json["file"] = project;
    json["document"] = docPath;
    json["written"] = write && !doc.DryRun();
    if (doc.DryRun()) json["dryRun"] = true;
    json["elements"] = report.named;
    json["imported"] = written;
    json["accepted"] = report.accepted;
    Json refused = Json::array();
    for (const Refusal& r : report.refused) refused.push_back(RefusalJson(server, r));
    json["refused"] = std::move(refused);
    json["containers"] = report.containers;
    json["globalContainer"] = report.globalContainer;
    Json ids = Json::object();
    for (const plcopen::GlobalId& g : report.globalIds) ids[g.globalId] = g.id;
    json["globalIds"] = std::move(ids);
    PrintJson(json);
  } else {
    for (const Refusal& r : report.refused)
      std::fprintf(stderr, "nametree: %s:%zu: %s: %s refused: %s\n", project.c_str(), r.line, r.path.c_str(),
                   Quoted(FromUtf8(r.name)).c_str(), Reason(server, r).c_str());
    if (write)
      std::printf("imported %zu names into %zu containers of %s; %zu refused\n", written, report.containers,
                  docPath.c_str(), report.refused.size());
    else
      std::printf("%zu names refused; %s not written (--keep-going writes the %zu that pass)\n",
                  report.refused.size(), docPath.c_str(), report.accepted);
  }
  return report.refused.empty() ? kExitOk : kExitRefused;
}

}  // namespace

bool IsPlcopenArgument(const std::string& path) {
  if (path.size() <= 4) return false;
  std::string ending = path.substr(path.size() - 4);
  for (char& c : ending) c = static_cast<char>(c | 0x20);
  return ending == ".xml";
}

int LintPlcopen(const Args& args) {
  const std::string& project = args.At(0);
  CNameServer server;
  ImportReport report;
  if (int rc = Import(args.Report(), project, server, &report)) return rc;
  // What the import refused, then what the library finds in what it took.
  std::vector<Finding> findings;
  for (const Refusal& r : report.refused) {
    Finding f;
    f.check = Check(r);
    f.message = project + ":" + std::to_string(r.line) + ": " + r.path + ": " + Quoted(FromUtf8(r.name)) + ": " +
                Reason(server, r);
    f.json = RefusalJson(server, r);
    findings.push_back(std::move(f));
  }
  const std::uint32_t stored = CNameContainer::GetLastIssuedNameID();
  for (Finding& f : LintDocument(server, stored)) findings.push_back(std::move(f));
  return ReportFindings(args, project, findings, Json::object());
}

void AddPlcopenCommands(std::vector<CommandSpec>& table) {
  table.push_back(
      {"import-plcopen", "make a new document of the names of a PLCopen XML project",
       "Reads a PLCopen XML project (TC6 schema 2.01 or 2.00) and writes a new document whose\n"
       "containers follow IEC 61131-3 scoping: a global container (type 2) for data type, POU\n"
       "and configuration names; a plain container (type 0) below it for each POU (its\n"
       "variables, actions, transitions; methods below it) and each data type with members;\n"
       "a target container (type 3) for each configuration (its global variables and\n"
       "resources), a plain one below it for each resource (its global variables, tasks and POU\n"
       "instances); a target container for each global variable list of its own. Vendor\n"
       "sections are read where they stand. The IEC 61131-3 keywords are applied. Every\n"
       "refused name is listed with its line, element path and the reason. The document is\n"
       "written only when nothing was refused, unless --keep-going. DOC must not exist.\n"
       "Exit 1 when a name was refused, 2 for a file that is no PLCopen XML.",
       {{"PROJECT", "the PLCopen XML file"}, {"DOC", "the document to create"}},
       {{"keep-going", "", "write the names that pass even when others were refused"},
        kDryRunOption,
        {"json", "", "report as one JSON object"}},
       RunImport});
}

}  // namespace nametree::cli
