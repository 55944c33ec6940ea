// CNameServer: the one object through which a host manages the names of a
// document. It owns the tree of containers, applies the name rules and the
// duplicate checks across namespaces, proposes fresh names, posts deletions
// and renames to the host's notification manager, and saves and loads its
// state in the document's storage.
//
// Every call comes from the host's thread; nothing is locked. Nothing is
// thrown across this interface: every failure is a result code.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "nametree/export.h"
#include "nametree/legacy_storage.h"
#include "nametree/name_container.h"
#include "nametree/name_outcome.h"
#include "nametree/notification.h"
#include "nametree/storage.h"
#include "nametree/types.h"

namespace nametree {

struct CLegacyModel;
struct NAMETREE_API CLegacyModelDeleter {
  void operator()(CLegacyModel* model) const;
};
class CTreeIndex;
struct NAMETREE_API CTreeIndexDeleter {
  void operator()(CTreeIndex* index) const;
};

// Name kinds: kAllowLeadingUnderscore lets a name begin with "_" and makes
// AddName skip the name rule altogether.
inline constexpr std::uint32_t kOrdinaryName = 0;
inline constexpr std::uint32_t kAllowLeadingUnderscore = 1;

// Longest name the rules accept, in UTF-16 code units.
inline constexpr int kMaxNameLength = 32;

// The most names one container, sub-containers one parent, and top-level
// containers one server can hold: a saved document counts each in 16 signed
// bits. The server refuses to grow past it at entry rather than at Save;
// documents that already exceed it still load.
inline constexpr int kMaxEntriesPerTable = 32767;

// All target namespaces, for FindNameInTargetNameSpace.
inline constexpr std::uint32_t kAllTargets = 0xFFFFFFFFu;

// A record of a legacy document that the import read but left out of the
// converted tree, as told to the observer of SetLegacyDropObserver.
struct CLegacyDrop {
  enum class Record { kNameObject, kNameBag, kBagContainer };
  enum class Reason {
    kReplaced,          // a later record with the same name ID took its place
    kNoContainer,       // a name object that no converted bag lists and that names no container
    kContainerMissing,  // the container it belongs in (containerID) does not exist
    kNoParent,          // a bag with parent 0 is not converted (its names go where they say)
    kParentMissing,     // the parent (containerID) does not exist when it is converted
  };
  Record record = Record::kNameObject;
  Reason reason = Reason::kReplaced;
  std::uint32_t id = 0;           // name ID, bag ID or container ID
  std::uint32_t containerID = 0;  // where it was meant to go: a container, or the parent
  CString name;                   // the text of a name object
};
using LegacyDropObserver = std::function<void(const CLegacyDrop&)>;

class NAMETREE_API CNameServer {
 public:
  CNameServer();
  virtual ~CNameServer();
  CNameServer(const CNameServer&) = delete;
  CNameServer& operator=(const CNameServer&) = delete;

  // --- lifetime and registry
  HRESULT Initialize(CNotificationManager* manager);
  std::uint32_t AddContainer(std::uint32_t parentID, std::int16_t type);
  // The same, with the reason of a refusal (0) in *why (kNone on success).
  std::uint32_t AddContainer(std::uint32_t parentID, std::int16_t type, CNameRefusal* why);
  HRESULT DeleteContainer(std::uint32_t id, bool notify);
  HRESULT DeleteContainer(std::uint32_t id, bool notify, CNameRefusal* why);
  CNameContainer* GetContainer(std::uint32_t id) const;
  CNameContainer* FindContainerOfName(std::uint32_t nameID) const;
  std::uint32_t GetGlobalContainerID() const;
  // Appends, in top-level order, the ID of every top-level container of type 3.
  HRESULT GetTargetsContainerIDList(std::vector<std::uint32_t>& ids) const;
  void SetDirty(bool dirty) { m_bDirty = dirty; }
  bool IsDirty() const { return m_bDirty; }
  virtual HRESULT ReceiveNotification(std::uint32_t value, const CNotification* notification);

  // The top-level containers, in list order (for hosts and tools that walk the tree).
  std::vector<std::uint32_t> GetTopLevelContainerIDs() const;
  // The same list as the containers themselves, which tells apart top-level
  // containers that a loaded document gave the same ID.
  std::vector<CNameContainer*> GetTopLevelContainers() const;

  // Checks that what the server answers lookups from agrees with its tree's
  // tables, and that every container's name storage keeps its own rules;
  // returns the first disagreement found, empty when there is none.
  // It walks the whole document: a diagnostic for tests and debugging.
  std::string CheckInvariants() const;

  // The highest name or container ID this server holds, 0 when it holds
  // none. Load and LoadOldVersion set the process-wide last issued name ID
  // from the document, which may be below IDs that another open server
  // holds; a host with several documents open should therefore, after each
  // load, raise the counter to the highest over all its servers:
  //   CNameContainer::SetLastIssuedNameID(std::max({
  //       CNameContainer::GetLastIssuedNameID(), a.GetHighestID(), b.GetHighestID()}));
  // Otherwise a later AddName may draw an ID a server already holds and
  // replace that name's text.
  std::uint32_t GetHighestID() const;

  // The last issued ID that the document stored, as the latest successful
  // Load or LoadOldVersion read it (0 for a server that loaded none). The
  // process-wide counter moves on with every edit and with other documents;
  // this stays what the document said.
  std::uint32_t GetStoredLastIssuedID() const { return m_nStoredLastIssuedID; }

  // --- name rules
  bool IsValidName(CString name, std::uint32_t kind) const;
  // The same verdict, with kInvalidName and the rule broken in *why when false.
  bool IsValidName(const CString& name, std::uint32_t kind, CNameRefusal* why) const;
  // True when the text breaks the name rule (exactly when IsValidName is
  // false), with the reason in *why if given; false and kNone when valid.
  // Keywords play no part, as in IsValidName.
  bool ExplainInvalidName(const CString& name, std::uint32_t kind, CNameRuleViolation* why) const;
  HRESULT AddKeyword(CString keyword);
  bool IsKeyword(CString text) const;

  // --- duplicates and lookup
  bool IsDuplicateName(std::uint32_t containerID, CString name, bool confine) const;
  // The same verdict, with kDuplicate or kKeyword and the holder in *why
  // when true (kOutOfMemory when the search ran out of memory).
  bool IsDuplicateName(std::uint32_t containerID, const CString& name, bool confine, CNameRefusal* why) const;
  // The same verdict as IsDuplicateName, with the first collision found.
  bool FindDuplicate(std::uint32_t containerID, const CString& name, bool confine,
                     CDuplicateHit* hit) const;
  bool IsGlobalName(CString text) const;
  bool FindName(std::uint32_t containerID, CString name, bool descend) const;
  HRESULT GetName(std::uint32_t nameID, CString& text) const;
  HRESULT GetNames(std::uint32_t containerID, int capacity, int& count, CString* names) const;
  HRESULT GetNameIDs(std::uint32_t containerID, int capacity, int& count, std::uint32_t* ids) const;
  HRESULT GetNamesAndIDs(std::uint32_t containerID, int capacity, int& count, std::uint32_t* ids,
                         CString* names) const;
  std::uint32_t GetID(std::uint32_t containerID, CString name) const;
  int GetNameSize(std::uint32_t containerID) const;

  // --- name editing
  HRESULT AddName(std::uint32_t& id, std::uint32_t containerID, CString text, std::uint32_t kind,
                  bool checkDuplicates, bool confine);
  // The same, with the reason of a refusal in *why (kNone on success).
  HRESULT AddName(std::uint32_t& id, std::uint32_t containerID, CString text, std::uint32_t kind,
                  bool checkDuplicates, bool confine, CNameRefusal* why);
  HRESULT AddName(std::uint32_t& id, std::uint32_t containerID, CString text, std::uint32_t kind,
                  bool checkDuplicates);
  // What that AddName would return, refusals in the same order, without
  // adding: S_OK where it would add (the add itself may still run out of IDs).
  HRESULT JudgeAddName(std::uint32_t containerID, const CString& text, std::uint32_t kind, bool checkDuplicates,
                       bool confine, CNameRefusal* why) const;
  HRESULT DeleteName(std::uint32_t containerID, std::uint32_t nameID, bool notify);
  HRESULT DeleteName(std::uint32_t containerID, std::uint32_t nameID, bool notify, CNameRefusal* why);
  HRESULT Rename(std::uint32_t containerID, std::uint32_t nameID, CString newText, std::uint32_t kind,
                 bool notify, bool confine);
  HRESULT Rename(std::uint32_t containerID, std::uint32_t nameID, CString newText, std::uint32_t kind,
                 bool notify, bool confine, CNameRefusal* why);
  HRESULT Rename(std::uint32_t containerID, CString oldText, CString newText, std::uint32_t kind,
                 bool notify, bool confine);

  // --- unique names
  HRESULT GetNextName(std::uint32_t containerID, CString baseName, int digits, CString* pResult);
  // A proposal that AddName(id, containerID, proposal, kind, true, confine)
  // will accept: GetNextName's candidates and counter, skipping every number
  // whose candidate the container already holds, breaks the name rule (unless
  // kind is 1, for which AddName skips it), is a keyword or collides with a
  // namespace the container must stay apart from. S_OK with the proposal;
  // S_FALSE where GetNextName makes none (no container, nothing left of the
  // base); E_NAME_INVALID, with *pResult empty, where no number can ever pass
  // the name rule: a base that does not begin with a letter under kind 0, or
  // a candidate too long or padded with spaces (negative digit counts);
  // E_FAIL where the container holds kMaxEntriesPerTable names already.
  // Numbers only grow, so the first candidate that breaks the rule ends the
  // request.
  HRESULT GetNextAcceptedName(std::uint32_t containerID, CString baseName, int digits,
                              std::uint32_t kind, bool confine, CString* pResult);

  // --- persistence: the "NameServer" stream of the document's storage
  HRESULT Load(IStorage* storage);
  HRESULT Save(IStorage* storage);

  // --- diagnostics
  void TraceDumpNameServer() const;
  void TraceDumpNameServer(const TraceSink& sink) const;

  // --- documents of the earlier format
  HRESULT LoadOldVersion(IZebStorage* storage);
  // Told of every record that LoadOldVersion reads but does not place;
  // observing changes nothing in the conversion. An empty observer stops it.
  void SetLegacyDropObserver(LegacyDropObserver observer);
  std::uint32_t GetBagbyName(std::uint32_t parentID, CString name) const;

 protected:
  void Shutdown();
  CString RemoveInvalidChars(CString text) const;
  HRESULT FindNameInGlobalContainer(CString name, std::uint32_t* pID) const;
  bool FindNameInTargetNameSpace(CString name, std::uint32_t containerID) const;
  int GetNextObjectCount(std::uint32_t containerID, CString baseName, bool reset);

 private:
  friend struct ContainerReader;  // the read-only walk of nametree/tree_walk.h

  HRESULT SetNotification(bool on);
  void PostNotification(const char16_t* name, std::uint32_t containerID, std::uint32_t nameID,
                        const CString& oldName, const CString& newName);

  // Legacy import steps.
  CLegacyModel& Legacy();
  // FindDuplicate in a container found already, by the upper-cased text
  // and its hash in the tree index, which every caller has made already
  // (0 only for an empty text, which no namespace holds).
  bool FindDuplicateOfKey(CNameContainer& container, const CString& key, std::uint64_t hash, bool confine,
                          CDuplicateHit* hit) const;
  // FindNameInGlobalContainer by the upper-cased text and its hash (0: not
  // made yet).
  HRESULT FindKeyInGlobalTrees(const CString& key, std::uint64_t hash, std::uint32_t* pID) const;
  // IsValidName without a copy of the text.
  static bool IsValidNameText(std::u16string_view name, std::uint32_t kind);
  // The proposal loop of GetNextName and GetNextAcceptedName: candidates from
  // the container's counter until `judge` takes one (S_OK) or gives up (any
  // result but S_FALSE).
  HRESULT ProposeName(std::uint32_t containerID, CString baseName, int digits,
                      const std::function<HRESULT(const CNameContainer&, const CString&)>& judge,
                      CString* pResult);
  struct AddPlan;
  // AddName's checks, in its order; S_OK with *plan ready for the add.
  HRESULT PlanAdd(std::uint32_t containerID, const CString& text, std::uint32_t kind, bool checkDuplicates,
                  bool confine, CNameRefusal* why, AddPlan* plan) const;
  // Lists the top-level containers from `first` on in the index, together;
  // false, having dropped those that found no memory, when memory ran out.
  bool IndexLoadedTops(std::size_t first);
  HRESULT LoadOldNameObjectData(IStream* stream, std::uint32_t count);
  HRESULT LoadOldNameBagData(IStream* stream, std::uint32_t count);
  HRESULT LoadOldBagContainerData(IStream* stream, std::uint32_t count);
  HRESULT ConvertOldToNewNameServer();
  HRESULT AddContainerFromData(std::uint32_t id, std::uint32_t parentID, std::int16_t type);
  HRESULT AddNameFromData(std::uint32_t nameID, std::uint32_t containerID, CString name,
                          std::uint32_t value);

  std::unique_ptr<CLegacyModel, CLegacyModelDeleter> m_pLegacy;  // made on first legacy load
  // Containers by ID, names by ID and by text, kept current by the
  // containers of this server's tree as they change.
  std::unique_ptr<CTreeIndex, CTreeIndexDeleter> m_pIndex;
  bool m_bDirty = false;
  std::uint32_t m_nStoredLastIssuedID = 0;
  CNotificationManager* m_pNotificationManager = nullptr;
  std::vector<std::unique_ptr<CNameContainer>> m_TopLevelContainers;
  std::vector<CString> m_Keywords;
  std::unordered_set<CString> m_KeywordSet;  // the same keywords, for lookup
};

}  // namespace nametree
