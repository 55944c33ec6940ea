#include "keywords.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>

#include "args.h"
#include "nametree/keyword_sets.h"
#include "cli.h"
#include "interrupt.h"
#include "output.h"

namespace nametree::cli {

namespace {

int ReadKeywords(const Reporter& report, std::istream& in, const std::string& source, std::vector<CString>& words) {
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (number == 1 && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    std::optional<CString> keyword = ParseUtf8(line);
    if (!keyword) {
      report.File(source, "line " + std::to_string(number) + " is not valid UTF-8", "usage");
      return kExitError;
    }
    words.push_back(std::move(*keyword));
  }
  if (in.bad()) {
    report.File(source, "cannot read keywords", "io");
    return kExitError;
  }
  return kExitOk;
}

}  // namespace

int LoadKeywords(const KeywordFlags& keywords, const Context& context, Document& doc) {
  std::vector<CString> words;
  if (int rc = ReadKeywordFiles(keywords, context, &words)) return rc;
  for (const CString& word : words) (void)doc.Reserve(word);
  return kExitOk;
}

int ReadKeywordFiles(const KeywordFlags& keywords, const Context& context, std::vector<CString>* words) {
  // mutate: keyword-set-words-dropped
  for (const std::string& name : keywords.sets)
    for (std::u16string_view word : KeywordSet(name)) words->emplace_back(word);
  bool stdinUsed = false;
  for (const std::string& path : keywords.files) {
    if (path == "-") {
      if (stdinUsed) return context.UsageError("--keywords - may be given once: standard input is read once");
      stdinUsed = true;
      if (int rc = ReadKeywords(context.Report(), std::cin, "standard input", *words)) return rc;
      continue;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
      context.Report().File(path, std::string("cannot read keywords: ") + std::strerror(errno), OpenErrorKind(errno));
      return kExitError;
    }
    if (int rc = ReadKeywords(context.Report(), in, path, *words)) return rc;
  }
  return kExitOk;
}

int OpenForEdit(Document& doc, const Context& context, const std::string& path, const WriteFlags& write,
                const KeywordFlags& keywords) {
  GuardInterrupts(path);
  // Read before the lock is taken: a slow pipe must not hold the document.
  std::vector<CString> words;
  if (int rc = ReadKeywordFiles(keywords, context, &words)) return rc;
  if (int rc = OpenDocument(context.Report(), doc, path, true, write.Options())) return rc;
  const std::uint32_t stored = doc.StoredLastIssuedId();
  const std::uint32_t highest = doc.HighestId();
  if (stored < highest) {
    context.Report().File(doc.Path().string(), "the stored last issued ID " + std::to_string(stored) + " is below ID " +
                                  std::to_string(highest) +
                                  ", which the document holds; an edit would issue held IDs again and "
                                  "replace names. Run 'nametree repair " + doc.Path().string() + "' first",
                          "damaged");
    return kExitError;
  }
  for (const CString& word : words) (void)doc.Reserve(word);  // no edit is judged yet
  return kExitOk;
}

std::vector<std::string> KeywordSetNameList() {
  const auto names = KeywordSetNames();
  return {names.begin(), names.end()};
}

std::string UnknownKeywordSet(const std::string& name) {
  std::string known;
  for (std::string_view n : KeywordSetNames()) known += (known.empty() ? "" : ", ") + std::string(n);
  return "no built-in keyword set is called \"" + Echo(name) + "\" (there is " + known + ")";
}

const OptionSpec kKindOption{"kind", "N",
                            "name kind; 1 lets a name begin with \"_\" (and makes add skip the name rule), "
                            "other values are ordinary (default 0)"};
const OptionSpec kConfineOption{"confine", "",
                                "an \"own\" container (type 4) checks only its own names, the keywords and the "
                                "global namespace"};

const OptionSpec kWaitOption{"wait", "SECONDS",
                             "wait at most this long for another program writing the document (default 10)"};
const OptionSpec kKeywordSetOption{"keyword-set", "NAME",
                                   "reserve the words of a built-in set (iec61131-3-ed3, iec61131-3-ed2; iec61131-3 is "
                                   "the third edition's); may be repeated",
                                   true, KeywordSetNameList};
const OptionSpec kForceOption{"force", "",
                              "save even though some entries of the file could not be read; they are left out "
                              "and listed"};
const OptionSpec kNoEditCheckOption{"no-edit-check", "",
                                    "do not judge what each edit makes lint report (no warnings, no --strict), "
                                    "for a script that runs lint itself; this run only"};
const OptionSpec kDryRunOption{"dry-run", "",
                               "print what the command would change, then \"dry run: FILE left unchanged\"; "
                               "write nothing"};

}  // namespace nametree::cli
