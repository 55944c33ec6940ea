// nametree::Document: a document's names for hosts written in today's C++.
// Text goes in and out as UTF-8 (with UTF-16 overloads); ill-formed text
// is refused, never replaced. Every call returns a Result, whose Error
// names the status (code()), keeps it (status()) and says in a sentence
// what was refused and why (message()). Nothing is thrown across it.
//
// A Document opened for writing holds the file's lock from Open until it
// is destroyed; a read-only one takes none. Edits stay in memory until
// Commit, which writes the whole document crash-safely. The classic API
// stays reachable through Server() for what this face does not cover.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "nametree/document_check.h"
#include "nametree/document_entries.h"
#include "nametree/export.h"
#include "nametree/identifier_profile.h"
#include "nametree/name_server.h"
#include "nametree/notification.h"
#include "nametree/result.h"
#include "nametree/tree_walk.h"
#include "nametree/types.h"

namespace nametree {

struct OpenOptions {
  bool create = false;    // make a new document; the file must not exist yet
  bool readOnly = false;  // take no lock; Commit is refused
  std::chrono::milliseconds wait{10000};  // how long to wait for another writer
  bool force = false;     // let Commit leave out entries that could not be read
  bool dryRun = false;    // Commit succeeds and writes nothing: the file stays as it was
};

// Whether a text may be added to a container, and if not why.
struct NameVerdict {
  bool accepted = false;
  HRESULT status = S_OK;        // E_NAME_INVALID or E_NAME_DUPLICATE when refused
  std::string reason;           // a sentence; empty when accepted
  std::uint32_t otherContainer = 0;  // the holder of a colliding name (0 for a keyword)
  std::uint32_t otherName = 0;
  CNameRefusal refusal;         // what the server decided (kNone when accepted)
  explicit operator bool() const { return accepted; }
};

// A name whose text equals (ignoring letter case) the text looked for.
struct NameHit {
  std::uint32_t container = 0;
  std::uint32_t id = 0;
  std::string text;
};


class NAMETREE_API Document {
 public:
  class Store;  // what lies behind it; known inside the library only

  static Result<Document> Open(const std::filesystem::path& path, const OpenOptions& options = {});
  // An empty document that lives in memory only; Commit writes nothing.
  static Document InMemory();
  // A document of the earlier format, converted: in memory, with the old
  // IDs, to be put on a file with CreateFile. The records the conversion
  // leaves out go to *drops in the order met. The file is only read. The
  // process's last issued ID becomes the one the old document stored, as
  // the classic import sets it, but never lower than the highest ID the
  // document holds nor than it stood, so that no open document's ID is
  // drawn again.
  // kNotFound for no file; kNotADocument for a file that is no compound
  // file (the reason is the file layer's, after "cannot open: ") or holds
  // no readable document of the earlier format; kFull for a tree with more
  // entries in a table than a saved document holds (the reason describes
  // the first such table).
  static Result<Document> ImportLegacy(const std::filesystem::path& path, std::vector<CLegacyDrop>* drops = nullptr);

  // A Document moved from answers every call with the error "document
  // moved from" (kInvalidArgument); its Server() is an empty one of its own.
  Document(Document&&) noexcept;
  Document& operator=(Document&&) noexcept;
  ~Document();

  // Writes the document to its file, crash-safely.
  Result<void> Commit();
  // Commit; the entries a forced commit left out go to *leftOut, each as
  // "path: reason".
  Result<void> Commit(std::vector<std::string>* leftOut);
  // Puts a document made by InMemory (and filled, say by an import) on a
  // new file at `path` as it is. Nothing is on disk until Commit, which
  // refuses (kExists) to replace a file that is at the path by then, as
  // this call does now. options.create is implied.
  Result<void> CreateFile(const std::filesystem::path& path, const OpenOptions& options = {});
  bool IsDryRun() const;
  // A read-only document refuses every edit below (kReadOnly) at the call.
  bool IsReadOnly() const;
  // The file the document was opened from; empty for one in memory.
  const std::filesystem::path& Path() const;
  bool IsDirty() const;
  // Entries of the file that could not be read, as "path: reason".
  std::vector<std::string> Warnings() const;
  // Everything that did not read back whole, in a fixed order: unreadable
  // entries, the names' stream, malformed settings, then the labels by
  // container ID. Empty for a whole document; a Commit without force
  // refuses to lose any of it.
  std::vector<DocumentDamage> Damage() const;
  // Where the document's edits are posted (NameAdded, NameChanged, ...).
  CNotificationManager& Notifications();

  // 0 as the parent makes a top-level container.
  Result<std::uint32_t> AddContainer(std::uint32_t parent, ContainerType type = ContainerType::kPlain);
  // The new name's ID. kind 1 lets a name begin with "_" and skips the name rule.
  Result<std::uint32_t> Add(std::uint32_t container, std::string_view text, std::uint32_t kind = 0);
  Result<std::uint32_t> Add(std::uint32_t container, std::u16string_view text, std::uint32_t kind = 0);
  // Adds every text or, when one is refused, none (the error names it).
  Result<std::vector<std::uint32_t>> AddMany(std::uint32_t container, std::span<const std::string_view> texts,
                                             std::uint32_t kind = 0);
  Result<std::vector<std::uint32_t>> AddMany(std::uint32_t container, std::span<const std::string> texts,
                                             std::uint32_t kind = 0);
  Result<std::vector<std::uint32_t>> AddMany(std::uint32_t container, std::span<const std::u16string> texts,
                                             std::uint32_t kind = 0);
  // Renaming a name to its own text changes nothing and succeeds.
  Result<void> Rename(std::uint32_t id, std::string_view text, std::uint32_t kind = 0);
  Result<void> Rename(std::uint32_t id, std::u16string_view text, std::uint32_t kind = 0);
  Result<void> Delete(std::uint32_t id);
  // Deletes the container with its names and sub-containers.
  Result<void> DeleteContainer(std::uint32_t id);

  // A name from base and a counter that Add(container, name) accepts;
  // digits pads the counter with zeros.
  Result<std::string> NextName(std::uint32_t container, std::string_view base, int digits = 0);
  Result<std::u16string> NextName(std::uint32_t container, std::u16string_view base, int digits = 0);
  // Whether Add(container, text) would accept the text, without adding it.
  Result<NameVerdict> Check(std::uint32_t container, std::string_view text) const;
  Result<NameVerdict> Check(std::uint32_t container, std::u16string_view text) const;
  // Every name with this text, ignoring letter case, in walk order.
  Result<std::vector<NameHit>> Find(std::string_view text) const;
  Result<std::vector<NameHit>> Find(std::u16string_view text) const;

  // The name with this ID: its container and text (kNotFound when no name
  // has it).
  Result<NameHit> FindId(std::uint32_t id) const;
  // The container a label names, letter case ignored (kNotFound when none).
  Result<std::uint32_t> FindLabel(std::string_view label) const;

  // Labels: a second name for a container, kept in the document file. A
  // label follows the name rule and no two containers share one (letter
  // case ignored); a deleted container's label goes at the next Commit.
  // The container's label; empty when it has none.
  std::string Label(std::uint32_t container) const;
  // Gives the container a label; an empty one removes it. kNotFound for no
  // such container, kInvalidName for a label that breaks the rule,
  // kDuplicate when another container holds it.
  Result<void> SetLabel(std::uint32_t container, std::string_view label);
  // Every label, by container ID.
  std::vector<std::pair<std::uint32_t, std::string>> Labels() const;
  // The same in UTF-16, which also carries what a damaged document holds
  // and UTF-8 cannot (a lone surrogate).
  std::u16string Label16(std::uint32_t container) const;
  std::vector<std::pair<std::uint32_t, std::u16string>> Labels16() const;
  Result<void> SetLabel(std::uint32_t container, std::u16string_view label);
  // Whether SetLabel would give the label to the container, without giving
  // it; 0 stands for a container not made yet. A refusal's reason is a
  // sentence and otherContainer the label's holder.
  NameVerdict CheckLabel(std::uint32_t container, std::u16string_view label) const;
  // The containers holding the label, letter case ignored: none or one, or
  // two where a damaged document lets two share it.
  std::vector<std::uint32_t> LabelHolders(std::u16string_view label) const;
  // The first broken invariant of the document's tables, or an empty text.
  std::string CheckInvariants() const;

  // Stored keywords: reserved words kept in the document file and reserved
  // again by every Open, in the order they were added.
  std::vector<std::string> Keywords() const;
  // Keeps and reserves the words; a word kept already (letter case
  // ignored) is not kept twice. Returns how many were new.
  Result<std::size_t> AddKeywords(std::span<const std::string_view> words);
  // AddKeywords with a built-in set (KeywordSetNames()); kNotFound for a
  // name that is no set.
  Result<std::size_t> AddKeywordSet(std::string_view set);
  std::vector<std::u16string> Keywords16() const;
  // Keeps one more word in constant time; true when it was new. Refused
  // (kInvalidName) for a word the document cannot keep whole.
  Result<bool> KeepKeyword(std::u16string_view word);
  // Replaces the stored words; each is also reserved.
  Result<void> SetKeywords(std::vector<std::u16string> words);

  // The rule the document's names are judged by, kept in its file;
  // kClassic for a document that keeps none.
  NameProfile Profile() const;
  Result<void> SetProfile(NameProfile profile);
  // Whether `name` of `kind` keeps the document's rule (its profile); on a
  // refusal *why says how, and *serverKind is the kind the name server is
  // to be asked with when the profile's rule is not the classic one.
  bool ExplainNameRule(const CString& name, std::uint32_t kind, CNameRuleViolation* why,
                       std::uint32_t* serverKind) const;

  // Where an import took the document's names from; null for a document no
  // import made, or whose record of it is damaged (Damage() says so).
  const ImportOrigins* Origins() const;
  // Entries whose name or container is gone are dropped at Commit.
  Result<void> SetOrigins(ImportOrigins origins);

  // The document check of the document as Commit would write it (Open keeps
  // the ID counter above every ID held), after what did not read back whole
  // (kDamage); empty when the document is clean. DescribeFinding words one.
  std::vector<DocumentFinding> Lint() const;
  // The same judged by `options` (the rule, more keywords, the counter).
  std::vector<DocumentFinding> Lint(const DocumentCheckOptions& options) const;
  // DescribeFinding with the document's labels.
  std::string Describe(const DocumentFinding& finding) const;
  // The containers in walk order, each before its sub-containers; the
  // names of each through ContainerRef::Names(). Any edit ends the walk's
  // validity: walk again afterwards.
  TreeWalk Containers() const;

  // The tree through nametree/tree_walk.h, straight over the document's
  // tables: nothing is copied, and every ref goes stale with the next edit.
  TreeWalk Walk() const;
  // `container` and its sub-tree, at most maxDepth levels below it
  // (negative: all); empty when no container has the ID.
  TreeWalk Walk(std::uint32_t container, int maxDepth = -1) const;
  // The whole tree down to maxDepth (0: the top-level containers alone).
  TreeWalk Levels(int maxDepth) const;
  // What the sub-tree of `container` holds, itself included; zeros for none.
  SubtreeCounts Count(std::uint32_t container) const;
  // Whether a container has the ID.
  bool IsContainer(std::uint32_t id) const;
  // The container with the ID as the walk meets it; nullopt for none.
  std::optional<ContainerRef> FindContainer(std::uint32_t id) const;
  // Whether the classic name rule takes the text as a name of `kind`; the
  // rule broken in *why when not.
  bool IsValidName(std::u16string_view text, std::uint32_t kind = 0, CNameRuleViolation* why = nullptr) const;

  // Edits as an editor makes them, judged as they go. The edits above
  // take these too; a read-only document refuses them all the same.
  struct EditOptions {
    bool checkDuplicates = true;  // false: the name rule alone is asked
    bool confine = false;         // an own-check container asks its own names alone
  };
  // Add with how it is checked; the name rule is asked before the
  // container is looked for, as the classic API asks.
  Result<std::uint32_t> Add(std::uint32_t container, std::u16string_view text, std::uint32_t kind,
                            const EditOptions& how);
  // Rename with how it is checked; false when the name had the text already.
  Result<bool> Rename(std::uint32_t id, std::u16string_view text, std::uint32_t kind, const EditOptions& how);
  // What Add(container, text, kind, how) would decide, refusals in its
  // order (the name rule before the container), without adding.
  Result<NameVerdict> Check(std::uint32_t container, std::u16string_view text, std::uint32_t kind,
                            const EditOptions& how) const;
  // The name or keyword the text collides with in that Add, the name rule
  // aside; nullopt for none (and for no such container).
  std::optional<CDuplicateHit> Collision(std::uint32_t container, std::u16string_view text, bool confine) const;
  // How NextName proposes: a name Add(container, it, kind, {.confine}) takes,
  // or with ownNamesOnly one the container itself does not hold, whatever
  // else an add would say (the classic GetNextName).
  struct Proposal {
    int digits = 0;  // pads the counter with zeros
    std::uint32_t kind = 0;
    bool confine = false;
    bool ownNamesOnly = false;
  };
  // kInvalidArgument when nothing of the base is left to number;
  // kInvalidName, with the base's broken rule, when no number makes a
  // valid name; kFull for a full container.
  Result<std::u16string> NextName(std::uint32_t container, std::u16string_view base, const Proposal& how);
  // Reserves a word for this document's edits, not kept in its file; true when it was new.
  Result<bool> Reserve(std::u16string_view word);
  // What the document is judged by: its own name rule and its stored counter.
  DocumentCheckOptions CheckOptions() const;
  // From now on judges every edit by the document check with `options`:
  // LastFindings() is what lint reports after the last edit and did not
  // before. Under strict an edit that makes any is refused (kFindings): an
  // add or a rename is taken back, a delete or a reservation stays
  // (KeepsRefusedEdit), and the document must then not be committed.
  void JudgeEdits(const DocumentCheckOptions& options, bool strict = false);
  std::vector<DocumentFinding> LastFindings() const;
  bool KeepsRefusedEdit() const;
  // The last issued ID the file stores, and the highest ID the document holds.
  std::uint32_t StoredLastIssuedId() const;
  std::uint32_t HighestId() const;
  // Repairs a stored last issued ID below an ID the document holds, which
  // would make the next add issue that ID again: the counter is raised to
  // the highest held and the document turns dirty. False when none is below.
  bool RaiseLastIssuedId();
  // The container with the ID; kNotFound, saying so, for none.
  Result<ContainerRef> Container(std::uint32_t id) const;
  // The container holding the name with the ID, 0 for none; its text in *text.
  std::uint32_t HolderOf(std::uint32_t id, std::u16string* text = nullptr) const;

  // The classic API of the same document.
  CNameServer& Server();
  const CNameServer& Server() const;

 private:
  explicit Document(std::unique_ptr<Store> store);
  // What the AddMany overloads share once their texts are converted.
  Result<std::vector<std::uint32_t>> AddConverted(std::uint32_t container, Result<std::vector<CString>> names,
                                                  std::uint32_t kind);
  mutable std::unique_ptr<Store> store_;  // made empty on demand once moved from
  bool movedFrom_ = false;
};

}  // namespace nametree
