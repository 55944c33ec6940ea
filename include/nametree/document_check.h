// A whole-document check: what the server would refuse at entry (judged as
// AddName judges by default: kind 0, duplicate check on, not confined) but
// the document holds anyway, and, as warnings, names that look alike in
// namespaces that must stay apart and names that hide characters. Linear
// in the number of names: each namespace is one hash map, never pairwise.
//
// A finding is one type for every report of it: the check, the program's
// edits, Document::Lint (which puts what did not read back whole first,
// as kDamage findings) and the bindings.
//
// Findings come in a fixed order: the counter, IDs held twice, the entry
// limits, then container by container in walk order and, within one, name
// by name in its table's walk order.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "nametree/document_entries.h"
#include "nametree/export.h"
#include "nametree/identifier_profile.h"
#include "nametree/name_server.h"
#include "nametree/types.h"

namespace nametree {

enum class DocumentFindingKind {
  kCounter,          // the stored last issued ID is below an ID in use
  kRepeatedId,       // an ID held by two containers or names
  kLimit,            // more entries than a saved document can count
  kInvalid,          // a name breaks the name rule
  kTwice,            // one text held twice in a container (ignoring case)
  kKeyword,          // a keyword used as a name
  kCollision,        // a name held in a namespace its container must stay apart from
  kLookAlike,        // warning: a name that looks like one of such a namespace
  kHiddenCharacter,  // warning: a name holding an invisible, bidi or line-breaking character
  kDamage,           // what of a document file did not read back whole
};

// "counter", "repeated-id", "limit", "invalid", "twice", "keyword",
// "collision", "look-alike", "hidden-character", "damage".
NAMETREE_API std::string_view DocumentFindingKindName(DocumentFindingKind kind);

enum class DocumentLimit { kNone, kTopLevelContainers, kNames, kSubContainers };

struct DocumentFinding {
  DocumentFindingKind kind = DocumentFindingKind::kCounter;
  bool warning = false;

  // The container concerned (none for kCounter and for the top-level list),
  // its type and the IDs from its top-level container down to it, cut as
  // ContainerRef::ShortPath cuts them.
  std::uint32_t containerID = 0;
  ContainerType containerType = ContainerType::kPlain;
  std::vector<std::uint32_t> path;
  // The name concerned, where isName; for kRepeatedId, the second holder.
  bool isName = false;
  std::uint32_t nameID = 0;
  CString text;

  // The other holder: the earlier name under the same text (kTwice), the
  // name of the other namespace (kCollision, kLookAlike), the first holder
  // of the ID (kRepeatedId; a container unless otherIsName).
  bool otherIsName = false;
  std::uint32_t otherContainerID = 0;
  ContainerType otherContainerType = ContainerType::kPlain;
  std::vector<std::uint32_t> otherPath;
  std::uint32_t otherNameID = 0;
  CString otherText;

  // kCollision, kLookAlike: the namespace (kOwnContainer for a look-alike
  // within the container itself).
  CDuplicateHit::Where where = CDuplicateHit::Where::kNone;
  // kLookAlike: compared by confusable skeleton (else by NFC text).
  bool confusableSkeleton = false;
  // kInvalid: the rule and the position.
  CNameRuleViolation violation;
  // kLimit: which table and how many entries it holds.
  DocumentLimit limit = DocumentLimit::kNone;
  std::uint64_t count = 0;
  // kCounter: the stored ID and the highest ID in use; kRepeatedId: the ID in storedID.
  std::uint32_t storedID = 0;
  std::uint32_t highestID = 0;
  // kHiddenCharacter: the first such code point and its UTF-16 index.
  char32_t character = 0;
  int index = -1;
  // kDamage: what did not read back; containerID is its container.
  DocumentDamage damage;
};

// The check's name as reports show it: DocumentDamageName for kDamage,
// else DocumentFindingKindName.
NAMETREE_API std::string_view FindingName(const DocumentFinding& finding);
// A kDamage finding of `damage`.
NAMETREE_API DocumentFinding DamageFinding(DocumentDamage damage);

struct DocumentCheckOptions {
  // The name rule names are judged by: the server's own unless told.
  NameProfile profile = NameProfile::kClassic;
  // Judged as keywords besides the server's own.
  std::vector<CString> keywords;
  // Warnings count as findings (DocumentCheckFails).
  bool strict = false;
  // The last issued ID to judge: by default the process-wide counter (from
  // which the next add draws); a tool judging a document as it was saved
  // passes GetStoredLastIssuedID.
  bool useStoredLastID = false;
  std::uint32_t storedLastID = 0;
  // Only the errors, in the same order: no look-alike key is made and no
  // warning reported, which costs about half of the whole check.
  bool errorsOnly = false;
};

NAMETREE_API std::vector<DocumentFinding> CheckDocument(const CNameServer& server,
                                                        const DocumentCheckOptions& options);

// Only the entry limits, in the same order: every table holding more than
// kMaxEntriesPerTable entries.
NAMETREE_API std::vector<DocumentFinding> CheckEntryLimits(const CNameServer& server);

// The label of a container, empty when it has none; what a describer shows
// beside its ID.
using ContainerLabelLookup = std::function<CString(std::uint32_t containerID)>;

// "1/5/9": the IDs of a container path from the top down; "..." where a
// short path leaves levels out.
NAMETREE_API std::string ContainerPathText(const std::vector<std::uint32_t>& path);
// The finding in one sentence, naming containers by ID, type and path, with
// their labels where `label` gives one.
NAMETREE_API std::string DescribeFinding(const DocumentFinding& finding, const ContainerLabelLookup& label = {});

// Whether the findings count against the document: any error, or under
// options.strict any warning.
NAMETREE_API bool DocumentCheckFails(const std::vector<DocumentFinding>& findings,
                                     const DocumentCheckOptions& options);

// What one edit changes in the findings of CheckDocument: told the edit
// before the server makes it and again after, it answers the findings that
// the full check reports afterwards and did not report before (compared by
// kind, container, name and namespace), with every field as the full check
// gives it. Only the names that share a look-alike key with a text the edit
// touches and meet the edited containers' names are judged again (the
// locals of two plain containers never meet), so an edit costs what those
// names cost. The first edit finds its keys' names in one walk; the index
// of every name is built at the second, in one walk.
//
// Not followed: the counter, IDs held twice and the entry limits, which the
// server's own edits cannot make wrong.
class NAMETREE_API EditCheck {
 public:
  EditCheck(const CNameServer& server, const DocumentCheckOptions& options);
  ~EditCheck();
  EditCheck(const EditCheck&) = delete;
  EditCheck& operator=(const EditCheck&) = delete;

  // Before the server makes the edit. Exactly one of these per edit, then After.
  void BeforeAddName(const CString& text);
  void BeforeRename(std::uint32_t nameID, const CString& newText);
  void BeforeDeleteName(std::uint32_t nameID);
  void BeforeDeleteContainer(std::uint32_t containerID);
  void BeforeAddContainer();
  void BeforeKeyword(const CString& word);
  // After it: `applied` says whether the server made it, `newNameID` is
  // the ID an add issued. Empty when the edit was refused.
  std::vector<DocumentFinding> After(bool applied, std::uint32_t newNameID = 0);
  // The first broken invariant of the index behind it, or an empty text.
  std::string CheckInvariants() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace nametree
