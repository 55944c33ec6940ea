// Document::Lint: the library's document check, each finding with a
// sentence built from the same phrases the refusals use.
#include <algorithm>
#include <cstdio>

#include "face/document_store.h"
#include "nametree/document_check.h"
#include "nametree/refusal_text.h"
#include "nametree/utf8.h"

namespace nametree {

namespace {

std::string Describe(const DocumentFinding& f) {
  const std::string name = QuotedName(f.text) + " (ID " + std::to_string(f.nameID) + ")";
  const std::string where = "container " + std::to_string(f.containerID) + ": ";
  const std::string other = QuotedName(f.otherText) + " (ID " + std::to_string(f.otherNameID) + ")";
  switch (f.kind) {
    case DocumentFindingKind::kCounter:
      return "the stored last issued ID " + std::to_string(f.storedID) + " is below ID " +
             std::to_string(f.highestID) + ", which is in use; new names would draw IDs already held";
    case DocumentFindingKind::kRepeatedId:
      return "ID " + std::to_string(f.storedID) + " is held twice (also by container " +
             std::to_string(f.otherContainerID) + ")";
    case DocumentFindingKind::kLimit:
      return (f.containerID ? where : std::string("the top level: ")) + "holds " + std::to_string(f.count) +
             " entries, more than a saved document can count (" + std::to_string(kMaxEntriesPerTable) + ")";
    case DocumentFindingKind::kInvalid:
      return where + name + " is not a valid name: " + DescribeRuleViolation(f.text, f.violation, kOrdinaryName);
    case DocumentFindingKind::kTwice:
      return where + name + " is held twice; the container also holds " + other;
    case DocumentFindingKind::kKeyword: return where + name + " is a keyword";
    case DocumentFindingKind::kCollision:
      return where + name + " collides with " + other + " of container " + std::to_string(f.otherContainerID) +
             " (" + std::string(DuplicateHitNamespace(f.where)) + ")";
    case DocumentFindingKind::kLookAlike:
      return where + name + " looks like " + other + " of container " + std::to_string(f.otherContainerID);
    case DocumentFindingKind::kHiddenCharacter: {
      char code[16];
      std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(f.character));
      return where + name + " holds the hidden character " + code + " at position " + std::to_string(f.index + 1);
    }
  }
  return where + name;
}

}  // namespace

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
  std::vector<LintFinding> out;
  for (const DocumentDamage& d : store_->Damage())
    out.push_back({std::string(DocumentDamageName(d)), false, d.container, 0, {}, 0, 0, d.message});
  for (const DocumentFinding& f : CheckDocument(Server(), options))
    out.push_back({std::string(DocumentFindingKindName(f.kind)), f.warning, f.containerID, f.nameID, ToUtf8(f.text),
                   f.otherContainerID, f.otherNameID, Describe(f)});
  return out;
}

}  // namespace nametree
