#include "face/edit_judge.h"

namespace nametree {

bool EditJudge::After(bool applied, std::uint32_t newNameID) {
  findings_ = check_.After(applied, newNameID);
  // mutate: strict-never-refuses
  return strict_ && !findings_.empty();
}

void EditJudge::UndoAdd(CNameServer& server, std::uint32_t container, std::uint32_t id) {
  check_.BeforeDeleteName(id);
  // mutate: strict-refusal-stays
  check_.After(server.DeleteName(container, id, false) == S_OK);
}

bool EditJudge::UndoRename(CNameServer& server, std::uint32_t id, const CString& old) {
  check_.BeforeRename(id, old);
  // The old text was held already: only the checks could refuse it now.
  // mutate: strict-rename-undo-lost
  const bool undone = server.Rename(0, id, old, kAllowLeadingUnderscore, false, false) == S_OK;
  check_.After(undone);
  return undone;
}

}  // namespace nametree
