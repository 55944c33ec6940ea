// 'nametree keyword': reserved words kept in the document, so that every
// later add, rename, check, next, batch and lint refuses them without
// --keywords.
#include <algorithm>
#include <cstdio>
#include <unordered_set>

#include "bound.h"
#include "nametree/keyword_sets.h"
#include "cli.h"
#include "document.h"
#include "keywords.h"
#include "nametree/tree_walk.h"
#include "output.h"

namespace nametree::cli {

namespace {

constexpr std::string_view kActions[] = {"add", "remove", "list"};

std::vector<std::string> Actions() { return {std::begin(kActions), std::end(kActions)}; }

struct KeywordOptions : WriteFlags {
  std::string action;  // one of kActions
  std::string file;
  std::vector<CString> words;  // the typed words, then those of --set
  bool json = false;
};

std::string ConvertAction(const Words& w, std::string* action) {
  if (w.empty()) return {};
  if (std::find(std::begin(kActions), std::end(kActions), w.back()) == std::end(kActions))
    return "ACTION is add, remove or list, not \"" + Echo(w.back()) + "\"";
  *action = w.back();
  return {};
}

std::string ConvertWords(const Words& w, std::vector<CString>* words) {
  for (const std::string& typed : w) {
    std::optional<CString> word = ParseName(typed);
    if (!word || word->empty()) return "\"" + Echo(typed) + "\" is no word";
    words->push_back(std::move(*word));
  }
  return {};
}

std::string ConvertSet(const Words& w, std::vector<CString>* words) {
  std::vector<std::string> named;
  if (std::string error = ConvertKeywordSets(w, &named); !error.empty()) return error;
  for (const std::string& name : named)
    for (std::u16string_view word : KeywordSet(name)) words->emplace_back(word);
  return {};
}

int RunKeyword(const KeywordOptions& o, const Context& context) {
  const std::string& action = o.action;
  const bool list = action == "list";
  Document doc = Document::InMemory();
  if (int rc = OpenDocument(context.Report(), doc, o.file, !list, o.Options())) return rc;
  std::vector<CString> stored = doc.Keywords16();
  if (list) {
    if (o.json) {
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
    for (const CString& w : o.words) {
      const Result<bool> added = doc.KeepKeyword(w);
      if (!added) {
        context.Report().File(doc.Path().string(), added.error().message() + "; nothing added", "refused");
        return kExitRefused;
      }
      (*added ? changed : unchanged).push_back(w);
    }
  } else {
    std::unordered_set<CString> kept, gone;
    for (const CString& w : stored) kept.insert(NameCompareKey(w));
    for (const CString& w : o.words) {
      CString key = NameCompareKey(w);
      if (!kept.count(key)) {
        context.Report().File(doc.Path().string(), "not kept in the document: " + Quoted(w) + "; nothing removed", "refused");
        return kExitRefused;
      }
      (gone.insert(std::move(key)).second ? changed : unchanged).push_back(w);
    }
    stored.erase(std::remove_if(stored.begin(), stored.end(), [&](const CString& w) { return gone.count(NameCompareKey(w)) != 0; }),
                 stored.end());
    (void)doc.SetKeywords(std::move(stored));  // opened for writing
  }
  if (!changed.empty())
    if (int rc = SaveDocument(context.Report(), doc)) return rc;
  if (o.json) {
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
  using O = KeywordOptions;
  table.push_back(
      Binder<O>()
          .Arg({"ACTION", "add, remove or list", true, false, Actions},
               [](O& o, const Words& w) { return ConvertAction(w, &o.action); })
          .Arg({"FILE", "the document"}, &O::file)
          .Arg({"WORD", "the words", false, true}, [](O& o, const Words& w) { return ConvertWords(w, &o.words); })
          .Opt({"set", "NAME", "the words of a built-in set (iec61131-3)", false, KeywordSetNameList},
               [](O& o, const Words& w) { return ConvertSet(w.empty() ? w : Words{w.back()}, &o.words); })
          .Write()
          .Opt(kJsonOption, &O::json)
          .Check([](const O& o) {
            const bool list = o.action == "list";
            return list && !o.words.empty()   ? "list takes no words"
                   : !list && o.words.empty() ? "give the words (or --set NAME)"
                                              : "";
          })
          .Command("keyword", "keep reserved words in the document: add, remove or list them",
                   "  nametree keyword add FILE BEGIN END\n  nametree keyword add FILE --set iec61131-3\n"
                   "  nametree keyword remove FILE END\n  nametree keyword list FILE\n"
                   "Words kept in the document are reserved for every later add, rename, check, next,\n"
                   "batch and lint of it, letter case ignored, as if given with --keywords. A batch line\n"
                   "'keyword WORD' keeps its word too. Removing a word that is not kept is refused.",
                   RunKeyword));
}

}  // namespace nametree::cli
