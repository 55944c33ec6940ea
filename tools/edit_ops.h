// One edit of a loaded document, as typed on the command line without
// the program and the document: add, rename, delete, add-container and
// (in a batch) keyword. Shared by the single commands, which save after
// one edit, and by batch, which saves after all of them.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "args.h"
#include "bound.h"
#include "nametree/document_check.h"
#include "nametree/document.h"
#include "output.h"

namespace nametree::cli {

// Results of labelled lines of a batch: "--as plc1" makes @plc1 stand for
// the new ID in later lines.
struct Labels {
  std::map<std::string, std::uint32_t, std::less<>> ids;
  std::map<std::string, int, std::less<>> refusedAt;  // a label whose line was refused
};

// The document edited, which resolves @LABEL, keeps labels and keywords
// and, where Document::JudgeEdits was called, judges each edit.
struct EditContext {
  Document& doc;
  Labels* labels = nullptr;  // batch only
};

struct EditResult {
  int exit = kExitOk;  // kExitRefused: the library said no; kExitError: the arguments are wrong
  HRESULT hr = S_OK;
  std::string text;  // what was done, or what could not be done and why
  Json json;         // what was done, as members
  std::uint32_t created = 0;
  // What the edit changed, for an undo and for its refusal's words: the
  // container added to or deleted, or that held the name renamed or deleted.
  std::uint32_t container = 0;
  std::uint32_t name = 0;  // the name renamed or deleted
  // What lint reports after the edit and did not report before it.
  std::vector<DocumentFinding> findings;
  // The container named is not there: an error (kExitError), not a refusal.
  bool notFound = false;
  // Refused by the edit check under strict (Document::JudgeEdits).
  bool judgedOut = false;
  // Refused under strict but left in the document, which has no undo for it.
  bool kept = false;
  // Nothing was edited: a rerun's labelled container is there already.
  bool unchanged = false;
};

// The arguments are wrong: kExitError, E_INVALIDARG, and why.
EditResult Usage(std::string message);

// One edit as typed, parsed once. An ID is kept as typed: in a batch,
// @LABEL stands for what an earlier line made, known only when it applies.
struct Edit {
  enum class Op { kAdd, kRename, kDelete, kAddContainer, kKeyword };
  Op op = Op::kAdd;
  std::string id;  // the container (add), name (rename, delete) or parent (add-container)
  CString name;    // the text of add and rename, the word of keyword
  std::string set;  // keyword --set: a built-in set instead of one word
  bool word = false;  // keyword: WORD was typed
  std::uint32_t kind = kOrdinaryName;
  bool check = true;       // add without --no-check
  bool confine = false;    // --confine
  bool container = false;  // delete --container
  ContainerType type = ContainerType::kPlain;
  std::string label;        // --as or --ref in a batch, --label of add-container
  bool storeLabel = false;  // the label is kept in the document, not for the batch alone
};

// The words of an edit's entries into the Edit, each with its usage error
// (empty when they fit).
std::string SetEditId(Edit& edit, const Words& words);
std::string SetEditName(Edit& edit, const Words& words);
std::string SetEditKind(Edit& edit, const Words& words);
std::string SetEditType(Edit& edit, const Words& words);
std::string SetKeywordWord(Edit& edit, const Words& words);
std::string SetKeywordSet(Edit& edit, const Words& words);
// A keyword line gives a WORD or --set, not both.
std::string CheckKeywordLine(const Edit& edit);
// An add of a CSV row; an empty kind is the default.
std::optional<Edit> ParseRow(const std::string& container, const std::string& name, const std::string* kind,
                             EditResult* error);
// An add-container of a CSV row: under `parent`, of `type` (empty: plain),
// named `label` for later rows, kept in the document when `keep`.
std::optional<Edit> ParseContainerRow(const std::string& parent, const std::string& type, std::string label, bool keep,
                                      EditResult* error);

// The words --type takes for the named container types, as ContainerTypeName
// prints them, in the order the help lists them.
std::vector<std::string> ContainerTypeWords();

// Applies the edit to the document. Nothing is printed.
EditResult ApplyEdit(EditContext& context, const Edit& edit);

// The edit commands: each one's entries, bound into an Edit. Those of a
// batch line take no document, take --as, and add the keyword command.
struct EditLine {
  std::string_view name;
  std::string_view summary;
  std::string_view details;
  Binder<Edit> binder;
};
std::vector<EditLine> EditLines(bool batchLine);

}  // namespace nametree::cli
