// Document::Lint: the library's document check, after what of the file did
// not read back whole.
#include <algorithm>

#include "face/document_store.h"
#include "nametree/document_check.h"

namespace nametree {

std::vector<DocumentFinding> Document::Lint() const {
  if (movedFrom_) return Lint(DocumentCheckOptions{});
  DocumentCheckOptions options;
  options.keywords = store_->Keywords();
  // The counter as Commit would write it; Open has raised it above every ID held.
  options.useStoredLastID = true;
  // A reader's counter is the process's; judge it as a writer would open it.
  options.storedLastID = store_->IsReadOnly()
                             ? std::max(Server().GetStoredLastIssuedID(), Server().GetHighestID())
                             : CNameContainer::GetLastIssuedNameID();
  return Lint(options);
}

std::vector<DocumentFinding> Document::Lint(const DocumentCheckOptions& options) const {
  if (movedFrom_) return {DamageFinding({DamageKind::kUnreadable, {}, 0, "document moved from"})};
  std::vector<DocumentFinding> out;
  // mutate: lint-skips-damage
  for (DocumentDamage& d : store_->Damage()) out.push_back(DamageFinding(std::move(d)));
  std::vector<DocumentFinding> found = CheckDocument(Server(), options);
  out.insert(out.end(), std::make_move_iterator(found.begin()), std::make_move_iterator(found.end()));
  return out;
}

std::string Document::Describe(const DocumentFinding& finding) const {
  return DescribeFinding(finding, [this](std::uint32_t id) { return Label16(id); });
}

}  // namespace nametree
