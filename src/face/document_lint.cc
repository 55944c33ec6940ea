// Document::Lint: the library's document check, each finding with the
// sentence the program prints for it.
#include <algorithm>

#include "face/document_store.h"
#include "nametree/document_check.h"
#include "nametree/refusal_text.h"
#include "nametree/utf8.h"

namespace nametree {

std::vector<LintFinding> Document::Lint() const {
  if (movedFrom_) return {{"moved-from", false, 0, 0, {}, 0, 0, "document moved from"}};
  DocumentCheckOptions options;
  options.keywords = store_->Keywords();
  // The counter as Commit would write it; Open has raised it above every ID held.
  options.useStoredLastID = true;
  // A reader's counter is the process's; judge it as a writer would open it.
  options.storedLastID = store_->IsReadOnly()
                             ? std::max(Server().GetStoredLastIssuedID(), Server().GetHighestID())
                             : CNameContainer::GetLastIssuedNameID();
  const ContainerLabelLookup label = [this](std::uint32_t id) { return Label16(id); };
  std::vector<LintFinding> out;
  for (const DocumentDamage& d : store_->Damage())
    out.push_back({std::string(DocumentDamageName(d)), false, d.container, 0, {}, 0, 0, d.message});
  for (const DocumentFinding& f : CheckDocument(Server(), options))
    out.push_back({std::string(DocumentFindingKindName(f.kind)), f.warning, f.containerID, f.nameID, ToUtf8(f.text),
                   f.otherContainerID, f.otherNameID, DescribeFinding(f, label)});
  return out;
}

}  // namespace nametree
