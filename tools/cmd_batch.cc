// 'nametree batch': many edits in one process, one load and one save. By
// default the document is saved only when every line succeeded; a refused
// line does not stop the others from being checked against the document as
// edited so far, so that one run reports every problem.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>

#include "batch.h"
#include "cli.h"
#include "csv_rows.h"
#include "edit_ops.h"
#include "interrupt.h"
#include "keywords.h"
#include "lint.h"

namespace nametree::cli {

namespace {

bool ReadAll(const std::string& source, std::string* text) {
  std::ostringstream s;
  if (source == "-") {
    s << std::cin.rdbuf();
    *text = s.str();
    return !std::cin.bad();
  }
  std::ifstream in(source, std::ios::binary);
  if (!in) return false;
  s << in.rdbuf();
  *text = s.str();
  return !in.bad();
}

// Splits a line into words: blanks separate, "..." and '...' keep blanks,
// and inside double quotes a backslash keeps the next character. A word
// that begins with '#' begins a comment.
bool SplitWords(std::string_view line, std::vector<std::string>& words, std::string* error) {
  words.clear();
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    // mutate: batch-comment-read
    if (i == line.size() || line[i] == '#') break;  // the rest is a comment
    std::string word;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') {
      const char c = line[i++];
      if (c != '"' && c != '\'') {
        word += c;
        continue;
      }
      for (;;) {
        if (i == line.size()) {
          *error = std::string("a quote ") + c + " is not closed";
          return false;
        }
        char d = line[i++];
        if (d == c) break;
        if (c == '"' && d == '\\' && i < line.size()) d = line[i++];
        word += d;
      }
    }
    words.push_back(std::move(word));
  }
  return true;
}

// The parser of one batch line: the edit commands without the document.
class LineParser {
 public:
  LineParser() : lines_(EditLines(true)), app_("a line of a batch", "batch") {
    app_.require_subcommand(1);
    for (const EditLine& line : lines_) specs_.push_back(line.binder.Entry(line.name, line.summary, line.details));
    for (const CommandSpec& entry : specs_) commands_.push_back(std::make_unique<ParsedCommand>(app_, entry));
  }

  // False with *error when the words are no edit command; else the edit,
  // or in *bad why its arguments are wrong.
  bool Parse(const std::vector<std::string>& words, std::optional<Edit>* out, EditResult* bad, std::string* error) {
    if (std::none_of(specs_.begin(), specs_.end(), [&](const CommandSpec& s) { return s.name == words[0]; })) {
      *error = "\"" + Echo(words[0]) + "\" is no edit; a line is add, rename, delete, add-container or keyword";
      return false;
    }
    app_.clear();
    std::vector<const char*> argv = {"batch"};
    for (const std::string& w : words) argv.push_back(w.c_str());
    try {
      app_.parse(static_cast<int>(argv.size()), argv.data());
    } catch (const CLI::ParseError& e) {
      *error = Echo(e.what());
      return false;
    }
    for (std::size_t i = 0; i < commands_.size(); ++i) {
      if (!commands_[i]->App()->parsed()) continue;
      std::string wrong;
      *out = lines_[i].binder.Bind(commands_[i]->Collected(), &wrong);
      if (!*out) *bad = Usage(wrong);
      return true;
    }
    *error = "no command";
    return false;
  }

 private:
  std::vector<EditLine> lines_;
  std::vector<CommandSpec> specs_;
  CLI::App app_;
  std::vector<std::unique_ptr<ParsedCommand>> commands_;
};

class Progress {
 public:
  explicit Progress(std::size_t total) : total_(total), on_(total >= 10000 && isatty(STDERR_FILENO)) {}
  void At(std::size_t done) {
    if (on_ && done % 5000 == 0) std::fprintf(stderr, "\rbatch: %zu of %zu lines", done, total_);
  }
  bool Shown() const { return on_; }
  ~Progress() {
    if (on_) std::fprintf(stderr, "\rbatch: %zu of %zu lines\n", total_, total_);
  }

 private:
  std::size_t total_;
  bool on_;
};

}  // namespace

BatchReport RunBatch(Document& doc, std::string_view input, bool csv, bool strict, bool editCheck) {
  BatchReport report;
  Labels labels;
  // The check after each edit judges names as the document's own lint does.
  if (editCheck) doc.JudgeEdits(doc.CheckOptions(), strict);
  EditContext context{doc, &labels};
  LineParser parser;
  std::vector<std::string_view> lines;
  for (std::size_t start = 0; start < input.size();) {
    std::size_t end = input.find('\n', start);
    if (end == std::string_view::npos) end = input.size();
    lines.push_back(input.substr(start, end - start));
    start = end + 1;
  }
  if (!lines.empty() && lines[0].substr(0, 3) == "\xEF\xBB\xBF") lines[0].remove_prefix(3);

  Progress progress(lines.size());
  std::vector<std::string> words;
  bool header = csv;
  CsvColumns columns;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    progress.At(i);
    std::string_view line = lines[i];
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::size_t first = line.find_first_not_of(" \t");
    if (first == std::string_view::npos || line[first] == '#') continue;
    const int number = static_cast<int>(i + 1);
    auto refuse = [&](int exit, HRESULT hr, std::string message) {
      report.refused.push_back({number, Echo(line), exit, hr, std::move(message)});
    };

    std::optional<Edit> edit;
    EditResult bad;
    std::string error, label;
    if (csv) {
      if (!CsvFields(line, words, &error)) {
        refuse(kExitError, E_INVALIDARG, error);
        continue;
      }
      if (header) {
        header = false;
        const std::optional<CsvColumns> named = ParseCsvHeader(words, &error);
        if (!named) {
          refuse(kExitError, E_INVALIDARG, error);
          break;
        }
        columns = *named;
        report.csvKind = columns.kind;
        continue;
      }
      if (std::optional<std::string> why = CsvWidthError(columns, words)) {
        refuse(kExitError, E_INVALIDARG, *why);
        continue;
      }
      ++report.edits;
      edit = ParseCsvRow(columns, words, &bad);
      if (edit) label = edit->label;
    } else {
      if (!SplitWords(line, words, &error) || !parser.Parse(words, &edit, &bad, &error)) {
        refuse(kExitError, E_INVALIDARG, error);
        continue;
      }
      ++report.edits;
      if (edit) label = edit->label;
    }
    if (!label.empty() && (labels.ids.count(label) != 0 || labels.refusedAt.count(label) != 0)) {
      refuse(kExitError, E_INVALIDARG, "an earlier line already uses --as " + Echo(label));
      continue;
    }
    EditResult r = edit ? ApplyEdit(context, *edit) : bad;
    // mutate: batch-findings-unprinted
    for (DocumentFinding& f : r.findings) report.findings.push_back({number, std::move(f)});
    report.kept = report.kept || r.kept;
    if (r.exit != kExitOk) {
      if (!label.empty()) labels.refusedAt[label] = number;
      refuse(r.exit, r.hr, r.text);
      continue;
    }
    ++report.applied;
    if (!label.empty()) labels.ids[label] = r.created;
  }
  report.labels = std::move(labels.ids);
  report.progressShown = progress.Shown();
  return report;
}

namespace {

// A batch is read as a stream: a regular file, a FIFO or a character device
// such as /dev/stdin. A block device would be read whole, a socket cannot be
// opened at all, so both are refused with a word on what they are.
int RefuseNonStream(const Reporter& report, const std::string& source) {
  struct stat st {};
  if (source == "-" || ::stat(source.c_str(), &st) != 0) return kExitOk;  // the read says why it fails
  // mutate: batch-reads-directory
  const char* what = S_ISDIR(st.st_mode)    ? "is a directory"
                     // mutate: batch-opens-socket
                     : S_ISSOCK(st.st_mode) ? "is a socket"
                     : S_ISBLK(st.st_mode)  ? "is a block device"
                                            : nullptr;
  if (!what) return kExitOk;
  report.File(source, std::string(what) + "; a batch is read from a file, or from standard input (-)",
              "not-a-document");
  return kExitError;
}

struct BatchOptions : WriteFlags, KeywordFlags {
  std::string file;
  // mutate: batch-input-default-not-stdin
  std::string source = "-";
  bool csv = false;
  bool keepGoing = false;
  bool strict = false;
  bool noEditCheck = false;
  bool json = false;
};

std::string CheckBatch(const BatchOptions& o) {
  if (o.source == "-" && std::find(o.files.begin(), o.files.end(), "-") != o.files.end())
    return "--keywords - and a batch from standard input cannot share it";
  if (o.strict && o.noEditCheck) return "--strict needs the edit check that --no-edit-check skips";
  return {};
}

int RunBatchCommand(const BatchOptions& o, const Context& context) {
  const std::string& source = o.source;
  std::string input;
  if (int rc = RefuseNonStream(context.Report(), source)) return rc;
  GuardInterrupts(o.file);  // a slow input is worth a word on Ctrl-C too
  if (!ReadAll(source, &input)) {
    context.Report().File(source == "-" ? "standard input" : source, "cannot read the batch", OpenErrorKind(errno));
    return kExitError;
  }
  Document doc = Document::InMemory();
  if (int rc = OpenForEdit(doc, context, o.file, o, o)) return rc;
  const BatchReport report = RunBatch(doc, input, o.csv, o.strict, !o.noEditCheck);
  const bool keepGoing = o.keepGoing;
  // mutate: batch-saves-partial
  const bool save = report.applied > 0 && (report.refused.empty() || keepGoing) && !report.kept;
  // mutate: saving-unsaid
  if (save && report.progressShown && !doc.IsDryRun()) std::fprintf(stderr, "saving %s ...\n", doc.Path().c_str());
  if (save)
    if (int rc = SaveDocument(context.Report(), doc)) return rc;
  int exit = kExitOk;
  for (const BatchRefusal& r : report.refused) exit = std::max(exit, r.exit);

  const std::string inputName = source == "-" ? "standard input" : source;
  if (o.json) {
    Json json;
    json["file"] = doc.Path().string();
    json["input"] = inputName;
    json["edits"] = report.edits;
    json["applied"] = report.applied;
    json["saved"] = save && !doc.IsDryRun();
    if (doc.IsDryRun()) json["dryRun"] = true;
    Json refused = Json::array();
    for (const BatchRefusal& r : report.refused)
      refused.push_back({{"line", r.line}, {"text", r.text}, {"error", r.message}, {"result", StatusHex(r.hr)},
                         {"resultName", StatusName(r.hr)}});
    json["refused"] = std::move(refused);
    Json labels = Json::object();
    for (const auto& [label, id] : report.labels) labels[label] = id;
    json["labels"] = std::move(labels);
    if (!report.findings.empty()) {
      Json findings = Json::array();
      for (const BatchFinding& b : report.findings) {
        Json item = {{"line", b.line}};
        item.update(FindingJson(b.finding));
        findings.push_back(std::move(item));
      }
      json["findings"] = std::move(findings);
    }
    PrintJson(json);
    return exit;
  }
  for (const BatchFinding& b : report.findings)
    std::fprintf(stderr, "nametree: %s:%d: the edit makes lint report: %s: %s\n", inputName.c_str(), b.line,
                 b.finding.warning ? "warning" : "error", DescribeFinding(b.finding).c_str());
  for (const BatchRefusal& r : report.refused)
    std::fprintf(stderr, "nametree: %s:%d: %s%s\n", inputName.c_str(), r.line, r.message.c_str(),
                 r.exit == kExitRefused ? (" (" + StatusName(r.hr) + ")").c_str() : "");
  const std::string refused = Counted(report.refused.size(), "line") + " refused";
  if (report.refused.empty())
    std::printf("applied %s from %s to %s\n", Counted(report.applied, "edit").c_str(), inputName.c_str(),
                doc.Path().c_str());
  else if (save)
    std::printf("applied %d of %s to %s; %s\n", report.applied, Counted(report.edits, "edit").c_str(),
                doc.Path().c_str(), refused.c_str());
  else
    std::printf("%s; %s left as it was%s\n", refused.c_str(), doc.Path().c_str(),
                keepGoing ? "" : " (--keep-going saves the edits that succeed)");
  return exit;
}

}  // namespace

void AddBatchCommand(std::vector<CommandSpec>& table) {
  using O = BatchOptions;
  table.push_back(
      Binder<O>()
          .Arg({"FILE", "the document"}, &O::file)
          .Arg({"INPUT", "the edits; - or nothing reads standard input", false}, &O::source)
          .Opt({"csv", "", "INPUT is CSV: container,name[,kind][,parent,type]"}, &O::csv)
          .Opt({"keep-going", "", "save the edits that succeeded even when others were refused"}, &O::keepGoing)
          .Opt({"strict", "", "refuse a line whose edit makes lint report something it did not report before"},
               &O::strict)
          .KeywordFiles({"keywords", "FILE", "reserved words, one per line; may be repeated; - reads standard input", true})
          .KeywordSets()
          .Opt(kNoEditCheckOption, &O::noEditCheck)
          .Write()
          .Opt(kJsonObjectOption, &O::json)
          .Check(CheckBatch)
          .Command("batch", "apply many edits in one run: one load, one save",
       "Each line of INPUT is an edit as it is typed without 'nametree' and the document:\n"
       "  add 2 Tag17 --kind 1\n  rename 17 Feed17\n  delete 17 [--container]\n"
       "  add-container 1 --type target --as plc1\n  add @plc1 Tag1\n  keyword BEGIN\n"
       "Blank lines and lines beginning with # are skipped; \"...\" quotes a word. --as LABEL\n"
       "names what a line makes; later lines write @LABEL for its ID. On add-container the\n"
       "label is kept in the document (a rerun takes the container of that label, parent and\n"
       "type, instead of making another); --ref NAME names it for this batch alone. @LABEL\n"
       "also stands for any container labelled in the document, in lines and CSV rows; a\n"
       "keyword line keeps its word in the document. With --csv, INPUT is a CSV file with\n"
       "the header container,name (then optionally kind, then parent,type): a row adds a\n"
       "name, or with a parent makes a container, named in its container field @LABEL (kept)\n"
       "or --ref NAME (this batch alone), as 'nametree export --csv' writes them.\n"
       "The document is saved only when every line succeeded, unless --keep-going; every\n"
       "refused line is reported with its number and reason. Exit 1 when a line was\n"
       "refused, 2 when one could not be read as an edit or names no container there is.",
                   RunBatchCommand));
}

}  // namespace nametree::cli
