// Reserved words from --keywords FILE options (UTF-8, one per line; "-"
// reads standard input), and the guard every edit command opens a document
// through.
#pragma once

#include <vector>

#include "bound.h"
#include "cli.h"
#include "document.h"

namespace nametree::cli {

// The names of the built-in sets, for completion.
std::vector<std::string> KeywordSetNameList();
// Why `name` is no built-in set, naming those there are.
std::string UnknownKeywordSet(const std::string& name);
// Adds the keywords of the built-in sets and of every --keywords file, in
// the order given; ReadKeywordFiles reads the same words without a document.
int LoadKeywords(const KeywordFlags& keywords, const Context& context, Document& doc);
int ReadKeywordFiles(const KeywordFlags& keywords, const Context& context, std::vector<CString>* words);
// Opens the document at `path` for an edit and adds the keywords. A
// document whose stored last issued ID is below an ID it holds is refused
// with 2: the next add would issue a held ID again and replace that name.
int OpenForEdit(Document& doc, const Context& context, const std::string& path, const WriteFlags& write,
                const KeywordFlags& keywords);

}  // namespace nametree::cli
