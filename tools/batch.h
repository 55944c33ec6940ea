// The batch of edits that 'nametree batch' applies, apart from its files,
// so that the benchmark times the same path.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "nametree/document_check.h"
#include "nametree/document.h"

namespace nametree::cli {

struct BatchRefusal {
  int line = 0;
  std::string text;
  int exit = 0;  // 1 refused by the library, 2 not an edit
  HRESULT hr = 0;
  std::string message;
};

// A finding of lint that the edit of a line made new.
struct BatchFinding {
  int line = 0;
  DocumentFinding finding;
};

struct BatchReport {
  int edits = 0;  // lines that are edits (not blank, not comments, not the CSV header)
  int applied = 0;
  bool csvKind = false;
  std::vector<BatchRefusal> refused;
  std::map<std::string, std::uint32_t, std::less<>> labels;
  std::vector<BatchFinding> findings;
  // A line refused under strict whose edit the server cannot take back:
  // the document must not be saved.
  bool kept = false;
  // Progress lines went to the terminal: a long save then says it begins.
  bool progressShown = false;
};

// Applies every edit of `input` (lines, or CSV rows) to the document in
// order; @LABEL also names its labelled containers, and labels and keywords
// of the lines are kept in it; `strict` refuses a line whose edit makes lint
// report something new; without `editCheck` no edit is judged.
BatchReport RunBatch(Document& doc, std::string_view input, bool csv, bool strict = false, bool editCheck = true);

}  // namespace nametree::cli
