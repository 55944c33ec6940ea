// Documents as text: 'export' writes batch lines (or CSV rows) that
// rebuild the tree, 'dump --canonical' a stable text for version control,
// and 'diff' what changed between two documents, entry by entry by ID.
#include <algorithm>
#include <cstdio>
#include <set>

#include "cli.h"
#include "container_arg.h"
#include "csv_rows.h"
#include "nametree/keyword_sets.h"
#include "nametree/document_check.h"
#include "navigate.h"
#include "tree_view.h"

namespace nametree::cli {

namespace {

// A name as one word of a batch line: quoted where blanks, quotes or a
// leading '#' or '-' would be read otherwise; the escapes of ExportText stay.
std::string BatchWord(const CString& text) {
  const std::string shown = ExportText(text);
  const char first = shown.empty() ? ' ' : shown[0];
  if (shown.find_first_of(" \t\"'") == std::string::npos && first != ' ' && first != '#' && first != '-') return shown;
  // mutate: export-words-unquoted
  std::string quoted = first == '-' ? "-- \"" : "\"";
  for (char c : shown) {
    if (c == '\\' || c == '"') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

// What --type takes back: the word of a named type, else the number.
std::string TypeWord(ContainerType type) {
  const std::string word = ContainerTypeName(type);
  return ContainerTypeByName(word) ? word : std::to_string(ContainerTypeNumber(type));
}

// Names an add must take unchecked to be made again: those the document
// holds although add would refuse them.
std::set<std::uint32_t> HeldAgainstTheCheck(const Document& doc) {
  std::set<std::uint32_t> ids;
  DocumentCheckOptions errors;
  errors.errorsOnly = true;
  for (const DocumentFinding& f : doc.Lint(errors))
    if (f.isName && !f.warning && f.kind != DocumentFindingKind::kInvalid) ids.insert(f.nameID);
  return ids;
}

// The stored words as batch lines: a built-in set the document holds whole
// is one 'keyword --set' line, where the first of its words stands.
void PrintKeywordLines(const std::vector<CString>& stored) {
  std::set<CString> held;
  for (const CString& w : stored) held.insert(NameCompareKey(w));
  std::map<CString, std::string_view> setOf;
  for (std::string_view name : KeywordSetNames()) {
    const auto words = KeywordSet(name);
    if (!std::all_of(words.begin(), words.end(), [&](std::u16string_view w) { return held.count(NameCompareKey(CString(w))); }))
      continue;
    for (std::u16string_view w : words) setOf.emplace(NameCompareKey(CString(w)), name);
  }
  std::set<std::string_view> written;
  for (const CString& word : stored) {
    const auto set = setOf.find(NameCompareKey(word));
    // mutate: export-keyword-set-word-by-word
    if (set == setOf.end()) std::printf("keyword %s\n", BatchWord(word).c_str());
    else if (written.insert(set->second).second) std::printf("keyword --set %s\n", std::string(set->second).c_str());
  }
}

struct ExportOptions {
  std::string file;
  bool csv = false;
};

int RunExport(const ExportOptions& o, const Context& context) {
  Document doc = Document::InMemory();
  if (int rc = OpenDocument(context.Report(), doc, o.file, false)) return rc;
  const bool csv = o.csv;
  const CsvColumns columns{.kind = true, .containers = true};
  const std::set<std::uint32_t> unchecked = HeldAgainstTheCheck(doc);
  // How a line names a container: its label, or its old ID for this batch alone.
  auto handle = [&](std::uint32_t id) {
    const std::u16string label = doc.Label16(id);
    return label.empty() ? std::to_string(id) : Display(label);
  };
  if (csv) std::fputs(WriteCsvHeader(columns).c_str(), stdout);
  else std::printf("# nametree export of %s\n", doc.Path().c_str());
  VisitTreeByID(doc, {}, [&](const ContainerRef& c, int, bool) {
    const std::string self = handle(c.Id());
    const std::string parent = c.ParentId() ? "@" + handle(c.ParentId()) : "0";
    const bool labelled = !doc.Label16(c.Id()).empty();
    if (csv)
      std::fputs(WriteCsvContainerRow(columns, self, labelled, parent, TypeWord(c.Type())).c_str(), stdout);
    else
      std::printf("add-container %s --type %s --%s %s\n", parent.c_str(), TypeWord(c.Type()).c_str(),
                  labelled ? "as" : "ref", self.c_str());
    for (const auto& [id, view] : NamesByID(c)) {
      const CString text(view);
      const bool kind = !doc.IsValidName(text, kOrdinaryName);
      if (csv) {
        // mutate: csv-export-container-by-id
        std::fputs(WriteCsvNameRow(columns, "@" + self, ExportText(text), kind).c_str(), stdout);
        continue;
      }
      std::printf("add @%s %s%s%s\n", self.c_str(), BatchWord(text).c_str(), kind ? " --kind 1" : "",
                  // mutate: export-checks-held-names
                  unchecked.count(id) ? " --no-check" : "");
    }
  });
  if (!csv) PrintKeywordLines(doc.Keywords16());
  return kExitOk;
}

}  // namespace

int PrintCanonical(Document& doc) {
  std::vector<CString> keywords = doc.Keywords16();
  // mutate: canonical-keywords-unsorted
  std::sort(keywords.begin(), keywords.end());
  for (const CString& word : keywords) std::printf("keyword %s\n", Display(word).c_str());
  VisitTreeByID(doc, {}, [&](const ContainerRef& c, int depth, bool) {
    const std::string indent(static_cast<std::size_t>(depth) * 2, ' ');
    std::printf("%scontainer %u (%s)%s\n", indent.c_str(), c.Id(), ContainerTypeName(c.Type()).c_str(),
                LabelSuffix(doc, c.Id()).c_str());
    for (const auto& [id, text] : NamesByID(c)) std::printf("%s  %u %s\n", indent.c_str(), id, Display(text).c_str());
  });
  return kExitOk;
}

namespace {

struct Side {
  struct Box {
    std::uint32_t parent = 0;
    ContainerType type = ContainerType::kPlain;
    CString label;  // empty when none
  };
  struct Entry {
    std::uint32_t id, container;
    std::u16string_view text;
    bool operator<(const Entry& o) const { return id < o.id; }
  };
  std::map<std::uint32_t, Box> containers;
  std::vector<Entry> names;  // by ID

  explicit Side(Document& doc) {
    for (ContainerRef c : doc.Walk()) {
      containers[c.Id()] = {c.ParentId(), c.Type(), doc.Label16(c.Id())};
      for (NameRef n : c.Names()) names.push_back({n.Id(), c.Id(), n.Text()});
    }
    std::sort(names.begin(), names.end());
  }
};

std::string LabelWord(const CString& label) { return label.empty() ? "no label" : "@" + Display(label); }

class Changes {
 public:
  explicit Changes(bool json) : json_(json) {}
  void Add(Json change, const std::string& text) {
    if (json_) list_.push_back(std::move(change));
    else std::printf("%s\n", text.c_str());
    ++count_;
  }
  int Count() const { return count_; }
  Json Take() { return std::move(list_); }

 private:
  bool json_;
  int count_ = 0;
  Json list_ = Json::array();
};

void DiffContainers(const Side& a, const Side& b, Changes& out) {
  auto ia = a.containers.begin(), ib = b.containers.begin();
  while (ia != a.containers.end() || ib != b.containers.end()) {
    const bool onlyA = ib == b.containers.end() || (ia != a.containers.end() && ia->first < ib->first);
    const bool onlyB = ia == a.containers.end() || (ib != b.containers.end() && ib->first < ia->first);
    if (onlyA) {
      const auto& [id, box] = *ia++;
      out.Add({{"change", "removed"}, {"container", id}, {"parent", box.parent}},
              "removed container " + std::to_string(id) + " (" + ContainerTypeName(box.type) + ") from under " +
                  std::to_string(box.parent));
      continue;
    }
    if (onlyB) {
      const auto& [id, box] = *ib++;
      out.Add({{"change", "added"}, {"container", id}, {"parent", box.parent}, {"type", ContainerTypeNumber(box.type)}},
              "added container " + std::to_string(id) + " (" + ContainerTypeName(box.type) + ") under " +
                  std::to_string(box.parent));
      continue;
    }
    const std::uint32_t id = ia->first;
    const Side::Box &x = ia->second, &y = ib->second;
    ++ia, ++ib;
    if (x.parent != y.parent)
      out.Add({{"change", "moved"}, {"container", id}, {"from", x.parent}, {"to", y.parent}},
              "moved container " + std::to_string(id) + " from under " + std::to_string(x.parent) + " to under " +
                  std::to_string(y.parent));
    if (x.type != y.type)
      out.Add({{"change", "retyped"}, {"container", id}, {"from", ContainerTypeNumber(x.type)}, {"to", ContainerTypeNumber(y.type)}},
              "retyped container " + std::to_string(id) + " from " + ContainerTypeName(x.type) + " to " + ContainerTypeName(y.type));
    if (x.label != y.label)
      out.Add({{"change", "relabelled"}, {"container", id}, {"from", x.label.empty() ? Json() : Json(JsonText(x.label))},
               {"to", y.label.empty() ? Json() : Json(JsonText(y.label))}},
              "relabelled container " + std::to_string(id) + " from " + LabelWord(x.label) + " to " + LabelWord(y.label));
  }
}

void DiffNames(const Side& a, const Side& b, Changes& out) {
  auto ia = a.names.begin(), ib = b.names.begin();
  while (ia != a.names.end() || ib != b.names.end()) {
    if (ib == b.names.end() || (ia != a.names.end() && ia->id < ib->id)) {
      out.Add({{"change", "removed"}, {"name", ia->id}, {"container", ia->container}, {"text", JsonText(ia->text)}},
              "removed name " + std::to_string(ia->id) + " " + Quoted(ia->text) + " from container " +
                  std::to_string(ia->container));
      ++ia;
      continue;
    }
    if (ia == a.names.end() || ib->id < ia->id) {
      out.Add({{"change", "added"}, {"name", ib->id}, {"container", ib->container}, {"text", JsonText(ib->text)}},
              "added name " + std::to_string(ib->id) + " " + Quoted(ib->text) + " to container " +
                  std::to_string(ib->container));
      ++ib;
      continue;
    }
    // mutate: diff-misses-rename
    if (ia->text != ib->text)
      out.Add({{"change", "renamed"}, {"name", ia->id}, {"from", JsonText(ia->text)}, {"to", JsonText(ib->text)}},
              "renamed name " + std::to_string(ia->id) + " from " + Quoted(ia->text) + " to " + Quoted(ib->text));
    if (ia->container != ib->container)
      out.Add({{"change", "moved"}, {"name", ia->id}, {"from", ia->container}, {"to", ib->container}},
              "moved name " + std::to_string(ia->id) + " from container " + std::to_string(ia->container) +
                  " to container " + std::to_string(ib->container));
    ++ia, ++ib;
  }
}

void DiffKeywords(const Document& a, const Document& b, Changes& out) {
  const auto keys = [](const Document& d) {
    std::map<CString, CString> keys;
    for (const CString& w : d.Keywords16()) keys.emplace(NameCompareKey(w), w);
    return keys;
  };
  const auto ka = keys(a), kb = keys(b);
  for (const auto& [key, word] : ka)
    if (!kb.count(key))
      out.Add({{"change", "removed"}, {"keyword", JsonText(word)}}, "removed keyword " + Quoted(word));
  for (const auto& [key, word] : kb)
    if (!ka.count(key)) out.Add({{"change", "added"}, {"keyword", JsonText(word)}}, "added keyword " + Quoted(word));
}

struct DiffOptions {
  std::string a;
  std::string b;
  bool json = false;
};

int RunDiff(const DiffOptions& o, const Context& context) {
  Document a = Document::InMemory(), b = Document::InMemory();
  if (int rc = OpenDocument(context.Report(), a, o.a, false)) return rc;
  if (int rc = OpenDocument(context.Report(), b, o.b, false)) return rc;
  Changes changes(o.json);
  {
    const Side sa(a), sb(b);
    DiffContainers(sa, sb, changes);
    DiffNames(sa, sb, changes);
  }
  DiffKeywords(a, b, changes);
  if (o.json)
    PrintJson({{"a", a.Path()}, {"b", b.Path()}, {"equal", changes.Count() == 0}, {"changes", changes.Take()}});
  // mutate: diff-always-equal
  return changes.Count() == 0 ? kExitOk : kExitRefused;
}

}  // namespace

void AddExportCommands(std::vector<CommandSpec>& table) {
  table.push_back(Binder<ExportOptions>()
                      .Arg({"FILE", "the document"}, &ExportOptions::file)
                      .Opt({"csv", "", "write the containers and names as CSV rows instead"}, &ExportOptions::csv)
                      .Command("export", "write the document as batch lines that rebuild it",
                   "Writes one 'add-container' line per container (parents first, by ID; a labelled one\n"
                   "with --as LABEL, others with --ref and their old ID), its names as 'add' lines and the\n"
                   "kept keywords as 'keyword' lines (a built-in set held whole as one 'keyword --set\n"
                   "NAME' line). 'nametree batch NEW' of the output into a new document gives the same\n"
                   "tree of types, labels, texts and keywords, under new IDs. With --csv, rows for\n"
                   "'nametree batch --csv' instead, under the header container,name,kind,parent,type:\n"
                   "a row per container (its parent and type, named @LABEL or --ref ID) and one per\n"
                   "name (its container as @LABEL or @ID); the CSV leaves the keywords out.",
                   RunExport));
  table.push_back(Binder<DiffOptions>()
                      .Arg({"A", "the document before"}, &DiffOptions::a)
                      .Arg({"B", "the document after"}, &DiffOptions::b)
                      .Opt(kJsonObjectOption, &DiffOptions::json)
                      .Command("diff", "what changed between two documents, by ID",
                               "Lists the containers added, removed, moved to another parent, retyped or relabelled,\n"
                               "the names added, removed, renamed or moved, and the kept keywords added or removed,\n"
                               "from A to B. Exit 0 when they hold the same, 1 when they differ, 2 on errors.",
                               RunDiff));
}

}  // namespace nametree::cli
