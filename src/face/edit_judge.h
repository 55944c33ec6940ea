// Edits judged by the document check (Document::JudgeEdits). Invariant:
// while a judge is set, every change the Document makes to its server is
// told to the check before and after it, an undo included, so the check's
// index always matches the server; Findings() are those of the last edit
// alone, an undo's never replacing them.
#pragma once

#include <cstdint>
#include <vector>

#include "nametree/document_check.h"

namespace nametree {

class EditJudge {
 public:
  EditJudge(const CNameServer& server, const DocumentCheckOptions& options, bool strict)
      : check_(server, options), strict_(strict) {}

  // Before the server makes the edit (one of EditCheck's Before calls).
  EditCheck& Before() { return check_; }
  // After it: keeps its new findings; true when strict refuses the edit.
  bool After(bool applied, std::uint32_t newNameID = 0);
  const std::vector<DocumentFinding>& Findings() const { return findings_; }

  // Takes back an add or a rename that strict refused, without notifying.
  void UndoAdd(CNameServer& server, std::uint32_t container, std::uint32_t id);
  bool UndoRename(CNameServer& server, std::uint32_t id, const CString& old);
  // A refused edit that stays in the server (a delete has no undo).
  void Keep() { kept_ = true; }
  bool Kept() const { return kept_; }

 private:
  EditCheck check_;
  bool strict_;
  bool kept_ = false;
  std::vector<DocumentFinding> findings_;
};

}  // namespace nametree
