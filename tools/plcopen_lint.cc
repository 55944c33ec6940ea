// 'nametree lint PROJECT.xml...': the import's refusals, what the document
// check finds in what it took, and the naming conventions the config turns
// on, each located in its file and printed as text, JSON or SARIF.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <unordered_map>

#include "cli.h"
#include "keywords.h"
#include "lint.h"
#include "nametree/document_check.h"
#include "nametree/plcopen_config.h"
#include "nametree/plcopen_rules.h"
#include "nametree/version.h"
#include "plcopen_cli.h"

namespace nametree::cli {

namespace {

using plcopen::Location;
using plcopen::Severity;

struct Item {
  std::string rule;  // an N rule's ID, or the check of an error outside the conventions
  Severity severity = Severity::kError;
  std::string message;
  Location where;
  std::vector<Location> related;
  std::string suggestion;  // a free name the library proposes
  Json json;
};

struct FileResult {
  std::string path;
  std::vector<Item> items;
  Json extra = Json::object();
  std::string source;  // the project the findings are located in, when not `path`
  const std::string& Source() const { return source.empty() ? path : source; }
};

Location LocationOf(const plcopen::ImportReport& report, std::size_t element, const Location& fallback) {
  return element < report.elements.size() ? report.elements[element].where : fallback;
}

std::string At(const Location& where) {
  return std::to_string(where.line) + ":" + std::to_string(where.column) + " (" + where.path + ")";
}

Json LocationJson(const Location& where) {
  return {{"line", where.line}, {"column", where.column}, {"path", where.path}};
}

void Finish(Item& item) {
  item.json["rule"] = item.rule;
  item.json["severity"] = SeverityName(item.severity);
  item.json["message"] = item.message;
  item.json["line"] = item.where.line;
  item.json["column"] = item.where.column;
  item.json["path"] = item.where.path;
  if (!item.related.empty()) {
    Json related = Json::array();
    for (const Location& r : item.related) related.push_back(LocationJson(r));
    item.json["related"] = std::move(related);
  }
  if (!item.suggestion.empty()) item.json["suggestion"] = item.suggestion;
}

// What the import refused, then what the document check finds in what it
// took, then the conventions.
void Judge(const Judging& judging, const plcopen::NamingConfig& config, const plcopen::ImportReport& report,
           const Document& doc, std::vector<Item>* items) {
  for (const plcopen::Refusal& r : report.refused) {
    const std::optional<plcopen::Rule> rule = plcopen::RuleOfRefusal(report, r);
    if (rule && !config[*rule].enabled) continue;
    Item item;
    item.rule = rule ? std::string(plcopen::InfoOf(*rule).id) : std::string(Check(r));
    item.severity = rule ? config[*rule].severity : Severity::kError;
    item.message = r.path + ": \"" + r.name + "\": " + Reason(judging, r) +
                   (r.count > 1 ? " (and " + std::to_string(r.count - 1) + " more for this cause)" : "");
    item.where = LocationOf(report, r.element, {r.line, r.column, 0, r.path});
    if (const plcopen::Element* other = report.ElementOf(r.hit.nameID); other && !r.otherPath.empty())
      item.related.push_back(other->where);
    item.suggestion = r.suggestion;
    item.json = RefusalJson(judging, r);
    items->push_back(std::move(item));
  }
  DocumentCheckOptions options;
  options.profile = judging.options.profile;
  for (const DocumentFinding& f : doc.Lint(options)) {
    if (plcopen::OutsideItsScope(report, f)) continue;
    Item item;
    item.rule = std::string(FindingName(f));
    item.severity = f.warning ? Severity::kWarning : Severity::kError;
    item.json = FindingParticulars(f);
    item.json["check"] = std::string(FindingName(f));
    const plcopen::Element* e = report.ElementOf(f.nameID);
    const plcopen::Element* other = report.ElementOf(f.otherNameID);
    if (e) item.where = e->where;
    if (other) item.related.push_back(other->where);
    item.message = e && other ? e->where.path + ": \"" + e->name + "\" " +
                                    (f.kind == DocumentFindingKind::kLookAlike ? "looks like" : "collides with") +
                                    " \"" + other->name + "\" at line " + At(other->where) +
                                    (f.kind != DocumentFindingKind::kLookAlike ? ""
                                     : f.confusableSkeleton            ? " (the same confusable skeleton)"
                                                                       : " (the same text after NFC)")
                              : DescribeFinding(f);
    items->push_back(std::move(item));
  }
  for (const plcopen::RuleFinding& f : plcopen::CheckNamingRules(report, config)) {
    const plcopen::Element& e = report.elements[f.element];
    Item item;
    item.rule = plcopen::InfoOf(f.rule).id;
    item.severity = f.severity;
    item.where = e.where;
    item.message = e.where.path + ": " + f.message;
    for (std::size_t r : f.related) item.related.push_back(report.elements[r].where);
    item.json = {{"check", item.rule}, {"name", e.name}};
    items->push_back(std::move(item));
  }
  for (Item& item : *items) Finish(item);
}

bool IsXml(const std::filesystem::path& p) {
  std::string ext = p.extension().string();
  for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c | 0x20 : c);
  return ext == ".xml";
}

// The files named, each directory replaced by the .xml files below it in
// name order; exit 2 after the message for a directory without any.
int CollectFiles(const LintRequest& o, const Context& context, std::vector<std::string>* files) {
  for (const std::string& named : o.files) {
    std::error_code error;
    if (!std::filesystem::is_directory(named, error)) {
      files->push_back(named);
      continue;
    }
    std::vector<std::string> found;
    for (auto it = std::filesystem::recursive_directory_iterator(
             named, std::filesystem::directory_options::skip_permission_denied, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error))
      if (it->is_regular_file(error) && IsXml(it->path())) found.push_back(it->path().string());
    if (found.empty()) {
      context.Report().File(named, "a directory without PLCopen XML (.xml) files", "io");
      return kExitError;
    }
    std::sort(found.begin(), found.end());
    files->insert(files->end(), found.begin(), found.end());
  }
  return kExitOk;
}

// The config of a checked file: --config, else the nearest .nametree.toml
// above it, else the defaults; exit 2 after the message for a bad one.
int ConfigFor(const LintRequest& o, const Context& context, const std::string& checked,
              std::map<std::string, plcopen::NamingConfig>& cache, plcopen::NamingConfig* config) {
  const std::string path = o.config ? *o.config : plcopen::FindNamingConfig(checked);
  if (auto it = cache.find(path); it != cache.end()) return *config = it->second, kExitOk;
  plcopen::NamingConfig read = plcopen::DefaultNamingConfig();
  if (!path.empty())
    if (auto e = plcopen::ReadNamingConfig(path, &read)) {
      context.Report().File(e->line ? path + ":" + std::to_string(e->line) : path,
                            (e->key.empty() ? "" : e->key + ": ") + e->message, "bad-config");
      return kExitError;
    }
  cache.emplace(path, read);
  *config = std::move(read);
  return kExitOk;
}

// A relative reference for SARIF: the path with what a URI cannot hold escaped.
std::string Uri(const std::string& path) {
  static const char* hex = "0123456789ABCDEF";
  std::string out = std::filesystem::path(path).is_absolute() ? "file://" : "";
  for (unsigned char c : path) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' || c == '-' ||
        c == '.' || c == '_' || c == '~')
      out += static_cast<char>(c);
    else
      out.append("%").append(1, hex[c >> 4]).append(1, hex[c & 15]);
  }
  return out;
}

Json SarifRegion(const Location& where) {
  Json region = {{"startLine", std::max<std::size_t>(where.line, 1)}};
  if (where.column) region["startColumn"] = where.column;
  if (where.column && where.width) region["endColumn"] = where.column + where.width;
  return region;
}

Json SarifLocation(const std::string& uri, const Location& where) {
  Json location = {{"physicalLocation", {{"artifactLocation", {{"uri", uri}}}, {"region", SarifRegion(where)}}}};
  if (!where.path.empty()) location["logicalLocations"] = Json::array({{{"fullyQualifiedName", where.path}}});
  return location;
}

Json Sarif(const std::vector<FileResult>& results) {
  Json rules = Json::array();
  std::map<std::string, std::size_t> index;
  for (const plcopen::RuleInfo& r : plcopen::Rules()) {
    index[std::string(r.id)] = rules.size();
    rules.push_back({{"id", r.id},
                     {"shortDescription", {{"text", r.title}}},
                     {"help", {{"text", r.fix}}},
                     {"defaultConfiguration", {{"enabled", r.onByDefault}, {"level", SeverityName(r.severity)}}}});
  }
  Json out = Json::array();
  for (const FileResult& file : results) {
    const std::string uri = Uri(file.Source());
    for (const Item& item : file.items) {
      if (!index.count(item.rule)) {
        index[item.rule] = rules.size();
        rules.push_back({{"id", item.rule},
                         {"shortDescription", {{"text", "an error of IEC 61131-3 names: " + item.rule}}}});
      }
      Json result = {{"ruleId", item.rule},
                     {"ruleIndex", index[item.rule]},
                     {"level", SeverityName(item.severity)},
                     {"message", {{"text", item.message}}},
                     {"locations", Json::array({SarifLocation(item.where.line ? uri : Uri(file.path), item.where)})}};
      if (!item.related.empty()) {
        Json related = Json::array();
        for (const Location& r : item.related) {
          Json l = SarifLocation(uri, r);
          l["id"] = related.size();
          related.push_back(std::move(l));
        }
        result["relatedLocations"] = std::move(related);
      }
      if (!item.suggestion.empty() && item.where.width) {
        Json replacement = {{"deletedRegion", SarifRegion(item.where)},
                            {"insertedContent", {{"text", item.suggestion}}}};
        result["fixes"] = Json::array(
            {{{"description", {{"text", "rename to \"" + item.suggestion + "\""}}},
              {"artifactChanges",
               Json::array({{{"artifactLocation", {{"uri", uri}}}, {"replacements", Json::array({replacement})}}})}}});
      }
      out.push_back(std::move(result));
    }
  }
  return {{"$schema", "https://json.schemastore.org/sarif-2.1.0.json"},
          {"version", "2.1.0"},
          {"runs", Json::array({{{"tool", {{"driver", {{"name", "nametree"},
                                                        {"version", LibraryVersion()},
                                                        {"rules", std::move(rules)}}}}},
                                 {"columnKind", "unicodeCodePoints"},
                                 {"results", std::move(out)}}})}};
}

std::string Counts(const std::size_t (&n)[3]) {
  return Counted(n[2], "error") + ", " + Counted(n[1], "warning") + (n[0] ? ", " + Counted(n[0], "note") : "");
}

int PrintResults(ReportFormat format, Severity failOn, const std::vector<FileResult>& results,
                 std::size_t files) {
  std::size_t total[3] = {};
  bool fails = false;
  Json files_json = Json::array();
  for (const FileResult& r : results) {
    std::size_t n[3] = {};
    for (const Item& item : r.items) {
      ++n[static_cast<int>(item.severity)];
      fails = fails || item.severity >= failOn;
    }
    for (int i = 0; i < 3; ++i) total[i] += n[i];
    if (format == ReportFormat::kJson) {
      Json json = r.extra;
      json["file"] = r.path;
      json["errors"] = n[2];
      json["warnings"] = n[1];
      json["notes"] = n[0];
      Json list = Json::array();
      for (const Item& item : r.items) list.push_back(item.json);
      json["findings"] = std::move(list);
      files_json.push_back(std::move(json));
    } else if (format == ReportFormat::kText) {
      const std::string shown = Echo(r.path), source = Echo(r.Source());
      for (const Item& item : r.items)
        std::printf("%s: %s: %s%s [%s]\n",
                    item.where.line ? (source + ":" + std::to_string(item.where.line) + ":" +
                                       std::to_string(item.where.column)).c_str()
                                    : shown.c_str(),
                    std::string(SeverityName(item.severity)).c_str(), item.message.c_str(),
                    item.suggestion.empty() ? "" : ("; \"" + item.suggestion + "\" is free").c_str(),
                    item.rule.c_str());
      std::printf("%s: %s\n", shown.c_str(), r.items.empty() ? "clean" : Counts(n).c_str());
    }
  }
  if (format == ReportFormat::kJson) {
    if (files_json.size() == 1 && files == 1) {
      PrintJson(files_json[0]);
    } else {
      PrintJson({{"files", std::move(files_json)}, {"errors", total[2]}, {"warnings", total[1]}, {"notes", total[0]}});
    }
  } else if (format == ReportFormat::kSarif) {
    PrintJson(Sarif(results));
  } else if (files > 1) {
    std::printf("%s checked: %s\n", Counted(results.size(), "file").c_str(), Counts(total).c_str());
  }
  return fails ? kExitRefused : kExitOk;
}


constexpr std::string_view kFormatNames[] = {"text", "json", "sarif"};

// The format --format (or --json) asks for, and the severity from which
// findings fail the run (--fail-on, or --strict); exit 2 when --json and
// --format disagree.
int OutputOptions(const LintRequest& o, const Context& context, ReportFormat* format, Severity* failOn) {
  // mutate: lint-json-flag-ignored
  *format = o.json ? ReportFormat::kJson : ReportFormat::kText;
  if (o.format) {
    if (o.json && *o.format != ReportFormat::kJson)
      return context.UsageError("--json and --format " + std::string(kFormatNames[static_cast<int>(*o.format)]) +
                                " disagree");
    *format = *o.format;
  }
  // mutate: lint-strict-fails-on-error
  *failOn = o.failOn.value_or(o.strict ? Severity::kWarning : Severity::kError);
  return kExitOk;
}

}  // namespace

std::string ConvertFormat(const Words& words, std::optional<ReportFormat>* out) {
  if (words.empty()) return {};
  for (std::size_t i = 0; i < std::size(kFormatNames); ++i)
    if (words.back() == kFormatNames[i]) return *out = static_cast<ReportFormat>(i), std::string();
  return "--format is text, json or sarif, not \"" + Echo(words.back()) + "\"";
}

std::string ConvertFailOn(const Words& words, std::optional<Severity>* out) {
  if (words.empty()) return {};
  *out = plcopen::SeverityNamed(words.back());
  return *out ? std::string() : "--fail-on is note, warning or error, not \"" + Echo(words.back()) + "\"";
}

int LintPlcopen(const LintRequest& o, const Context& context) {
  ReportFormat format = ReportFormat::kText;
  Severity failOn = Severity::kError;
  if (int rc = OutputOptions(o, context, &format, &failOn)) return rc;
  std::map<std::string, plcopen::NamingConfig> configs;
  if (o.printConfig) {
    plcopen::NamingConfig config;
    if (int rc = ConfigFor(o, context, o.files.empty() ? "." : o.files[0], configs, &config)) return rc;
    std::fputs(plcopen::NamingConfigToml(config).c_str(), stdout);
    return kExitOk;
  }
  if (o.files.empty()) return context.UsageError("name a PLCopen XML project, a directory of them, or a document");
  std::vector<std::string> files;
  int status = CollectFiles(o, context, &files);
  std::vector<FileResult> results;
  // --keywords is read once, where the first file needs it: standard input
  // cannot be read again for the next.
  std::optional<std::vector<CString>> own;
  for (const std::string& file : files) {
    plcopen::NamingConfig config;
    if (int rc = ConfigFor(o, context, file, configs, &config)) return rc;
    // mutate: lint-keywords-per-file
    if (!own)
      if (int rc = ReadKeywordFiles(o, context, &own.emplace())) return rc;
    Judging judging = JudgingOf(o, config, *own);
    judging.options.propose = true;
    Document doc = Document::InMemory();
    plcopen::ImportReport report;
    if (int rc = Import(context.Report(), judging, file, doc, &report)) {
      status = std::max(status, rc);
      continue;
    }
    FileResult result{file, {}, Json::object(), {}};
    Judge(judging, config, report, doc, &result.items);
    result.extra["profile"] = NameProfileName(judging.options.profile);
    result.extra["skipped"] = SkippedJson(report);
    results.push_back(std::move(result));
  }
  return std::max(status, PrintResults(format, failOn, results, files.size()));
}

int ReportLocatedFindings(const LintRequest& o, const Context& context, const std::string& path,
                          const ImportOrigins& origins, const std::vector<DocumentFinding>& findings,
                          const ContainerLabelLookup& label) {
  ReportFormat format = ReportFormat::kText;
  Severity failOn = Severity::kError;
  if (int rc = OutputOptions(o, context, &format, &failOn)) return rc;
  std::unordered_map<std::uint32_t, const ElementOrigin*> names, containers;
  for (const ElementOrigin& e : origins.entries) (e.container ? containers : names).emplace(e.id, &e);
  auto where = [](const std::unordered_map<std::uint32_t, const ElementOrigin*>& in, std::uint32_t id) {
    const auto it = id ? in.find(id) : in.end();
    return it == in.end() ? Location{} : Location{it->second->line, it->second->column, it->second->width, it->second->path};
  };
  FileResult result{path, {}, Json::object(), origins.source};
  for (const DocumentFinding& f : findings) {
    Item item;
    item.rule = std::string(FindingName(f));
    item.severity = f.warning ? Severity::kWarning : Severity::kError;
    item.where = f.isName && f.nameID ? where(names, f.nameID) : where(containers, f.containerID);
    if (const Location other = where(names, f.otherIsName ? f.otherNameID : 0); other.line)
      item.related.push_back(other);
    const std::string message = DescribeFinding(f, label);
    item.message = item.where.path.empty() ? message : item.where.path + ": " + message;
    item.json = FindingParticulars(f, label);
    item.json["check"] = std::string(FindingName(f));
    Finish(item);
    result.items.push_back(std::move(item));
  }
  result.extra["source"] = origins.source;
  std::vector<FileResult> results;
  results.push_back(std::move(result));
  return PrintResults(format, failOn, results, 1);
}

}  // namespace nametree::cli
