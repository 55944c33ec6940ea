// 'nametree keyword': reserved words kept in the document, so that every
// later add, rename, check, next, batch and lint refuses them without
// --keywords.
#include <algorithm>
#include <cstdio>
#include <unordered_set>

#include "args.h"
#include "cli.h"
#include "document.h"
#include "keywords.h"
#include "nametree/tree_walk.h"
#include "output.h"

namespace nametree::cli {

namespace {

constexpr std::string_view kActions[] = {"add", "remove", "list"};

std::vector<std::string> Actions() { return {std::begin(kActions), std::end(kActions)}; }

int RunKeyword(const Args& args) {
  const std::string& action = args.At(0);
  if (std::find(std::begin(kActions), std::end(kActions), action) == std::end(kActions))
    return args.UsageError("ACTION is add, remove or list, not \"" + Echo(action) + "\"");
  const bool list = action == "list";
  std::vector<CString> words;
  for (std::size_t i = 2; i < args.Count(); ++i) {
    std::optional<CString> word = ParseName(args.At(i));
    if (!word || word->empty()) return args.UsageError("\"" + Echo(args.At(i)) + "\" is no word");
    words.push_back(std::move(*word));
  }
  if (const std::string* set = args.Value("set"))
    if (int rc = KeywordSetWords(args, *set, &words)) return rc;
  if (list && !words.empty()) return args.UsageError("list takes no words");
  if (!list && words.empty()) return args.UsageError("give the words (or --set NAME)");

  DocumentOptions options;
  if (int rc = WriteOptions(args, &options)) return rc;
  Document doc = Document::InMemory();
  if (int rc = OpenDocument(args.Report(), doc, args.At(1), !list, options)) return rc;
  std::vector<CString> stored = doc.Keywords16();
  if (list) {
    if (args.Has("json")) {
      Json json = Json::array();
      for (const CString& w : stored) json.push_back(JsonText(w));
      PrintJson({{"file", doc.Path().string()}, {"keywords", std::move(json)}});
    } else {
      for (const CString& w : stored) std::printf("%s\n", Display(w).c_str());
    }
    return kExitOk;
  }
  std::vector<CString> changed, unchanged;
  if (action == "add") {
    // Each word is judged and kept in constant time, so a long list costs
    // what its words cost.
    for (const CString& w : words) {
      const Result<bool> added = doc.KeepKeyword(w);
      if (!added) {
        args.Report().File(doc.Path().string(), added.error().message() + "; nothing added", "refused");
        return kExitRefused;
      }
      (*added ? changed : unchanged).push_back(w);
    }
  } else {
    std::unordered_set<CString> kept, gone;
    for (const CString& w : stored) kept.insert(NameCompareKey(w));
    for (const CString& w : words) {
      CString key = NameCompareKey(w);
      if (!kept.count(key)) {
        args.Report().File(doc.Path().string(), "not kept in the document: " + Quoted(w) + "; nothing removed", "refused");
        return kExitRefused;
      }
      (gone.insert(std::move(key)).second ? changed : unchanged).push_back(w);
    }
    stored.erase(std::remove_if(stored.begin(), stored.end(), [&](const CString& w) { return gone.count(NameCompareKey(w)) != 0; }),
                 stored.end());
    (void)doc.SetKeywords(std::move(stored));  // opened for writing
  }
  if (!changed.empty())
    if (int rc = SaveDocument(args.Report(), doc)) return rc;
  if (args.Has("json")) {
    Json done = Json::array(), kept = Json::array();
    for (const CString& w : changed) done.push_back(JsonText(w));
    for (const CString& w : unchanged) kept.push_back(JsonText(w));
    PrintJson({{"file", doc.Path().string()}, {action == "add" ? "added" : "removed", std::move(done)}, {"already", std::move(kept)}});
  } else {
    std::printf("%s %zu keyword%s %s %s", action == "add" ? "added" : "removed", changed.size(),
                changed.size() == 1 ? "" : "s", action == "add" ? "to" : "from", doc.Path().c_str());
    if (!unchanged.empty()) std::printf(" (%zu kept already)", unchanged.size());
    std::printf("\n");
  }
  return kExitOk;
}

}  // namespace

void AddKeywordCommand(std::vector<CommandSpec>& table) {
  table.push_back({"keyword", "keep reserved words in the document: add, remove or list them",
                   "  nametree keyword add FILE BEGIN END\n  nametree keyword add FILE --set iec61131-3\n"
                   "  nametree keyword remove FILE END\n  nametree keyword list FILE\n"
                   "Words kept in the document are reserved for every later add, rename, check, next,\n"
                   "batch and lint of it, letter case ignored, as if given with --keywords. A batch line\n"
                   "'keyword WORD' keeps its word too. Removing a word that is not kept is refused.",
                   {{"ACTION", "add, remove or list", true, false, Actions}, {"FILE", "the document"},
                    {"WORD", "the words", false, true}},
                   {{"set", "NAME", "the words of a built-in set (iec61131-3)", false, KeywordSetNameList}, kWaitOption, kForceOption, kDryRunOption,
                    {"json", "", "report as JSON (errors too, on stdout)"}},
                   RunKeyword});
}

}  // namespace nametree::cli
