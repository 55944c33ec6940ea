// CNameContainer: one namespace node of the name tree. It holds names under
// 32-bit IDs, answers text-by-ID and ID-by-text (ignoring letter case, while
// giving texts back in the case they were entered), owns its sub-containers
// and keeps per-base-name counters for proposing fresh names.
//
// The container stores and looks up; it does not judge names. Validity,
// keywords and duplicates across namespaces are CNameServer's business.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "nametree/export.h"
#include "nametree/types.h"

namespace nametree {

class IStream;
class ContainerTables;
class CTreeIndex;
struct ObjectCounters;

struct NAMETREE_API CObjectCounter {
  CString baseName;
  std::int32_t count = 0;
};

// Receives each step of a trace dump, with the indent of the container's
// level: first the container itself (isContainer true, id = its ID, name
// empty), then each of its names (isContainer false, id = the name's ID),
// then its sub-containers in the same way, two spaces deeper.
using TraceSink = std::function<void(const CString& indent, bool isContainer, std::uint32_t id,
                                     std::int16_t type, const CString& name)>;

// Room inside a container for its tables, so that the two are one block:
// one allocation, and one trip to memory where there were two. What the
// tables are is the library's own business.
class ContainerTablesBox {
 public:
  ContainerTablesBox();
  ~ContainerTablesBox();
  ContainerTablesBox(const ContainerTablesBox&) = delete;
  ContainerTablesBox& operator=(const ContainerTablesBox&) = delete;
  ContainerTables* operator->() const;
  ContainerTables& operator*() const;

 private:
  alignas(8) std::byte bytes_[56];
};

class NAMETREE_API CNameContainer {
 public:
  // false: initialise at once (tables sized, a fresh ID drawn).
  // true: stay uninitialised, for CreateContainerFromData.
  explicit CNameContainer(bool bUninitialized = false);
  ~CNameContainer();
  CNameContainer(const CNameContainer&) = delete;
  CNameContainer& operator=(const CNameContainer&) = delete;

  // --- lifetime
  void Initialize();
  void Shutdown();
  void ResetContainer();

  // --- names
  // 0, with nothing changed, when no ID is left to draw.
  std::uint32_t AddName(CString text);
  HRESULT DeleteName(std::uint32_t id);
  HRESULT FindNameByID(std::uint32_t id, CString* pText) const;
  HRESULT FindIDByName(CString text, std::uint32_t* pID) const;
  HRESULT FindName(CString text, bool bRecurse, std::uint32_t* pID) const;
  // FindName for a text that the caller has already upper-cased.
  HRESULT FindNameByKey(const CString& upperText, bool bRecurse, std::uint32_t* pID) const;
  std::uint32_t GetIDOfName(CString text) const;
  HRESULT Rename(std::uint32_t id, CString newText);
  HRESULT Rename(CString oldText, CString newText);
  int GetNumNames() const;
  // Entries of the ID-keyed table, which Save writes: more than GetNumNames
  // when two names are equal ignoring case.
  int GetNumNameIDs() const;
  // Each writes at most GetNumNames() entries; the caller sizes the arrays.
  HRESULT GetAllNamesInContainer(CString* const texts) const;
  HRESULT GetAllIDsInContainer(std::uint32_t* const ids) const;
  HRESULT GetAllNameAndIDsInContainer(CString* const texts, std::uint32_t* const ids) const;

  // --- tree
  std::uint32_t GetID() const { return m_ID; }
  CNameContainer* GetParent() const { return m_pParent; }
  std::uint32_t GetParentID() const;
  // Only the container whose table holds this one, or none, is supported as
  // a parent (as Load uses it). A parent in another server's tree gives
  // unspecified answers; a parent that would make a cycle is ignored.
  void SetParent(CNameContainer* parent);
  CNameContainer* FindRootContainer();
  std::uint32_t AddContainer(std::int16_t type);
  HRESULT DeleteContainer(std::uint32_t id);
  CNameContainer* FindContainer(std::uint32_t id) const;
  CNameContainer* FindContainerOfName(std::uint32_t nameID);
  HRESULT FindNameByIDForAllContainers(std::uint32_t id, CString* pText) const;
  int GetNumSubContainers() const;
  int GetSubContainerIDs(std::uint32_t* const ids) const;
  // The highest ID in this container's subtree: its own, every name ID and
  // every sub-container's, whether as a table key or as a stored value.
  std::uint32_t GetHighestID() const;
  bool IsGlobalContainer() const { return m_Type == kGlobalContainer; }
  void SetContainerType(std::int16_t type);
  std::int16_t GetContainerType() const { return m_Type; }

  // --- object counters
  void ResetObjectIndex() { m_nObjectIndex = -1; }
  int GetNextObjectCount(const CString& baseName);

  // --- persistence
  HRESULT Load(IStream* pStream);
  HRESULT Save(IStream* pStream) const;
  HRESULT CreateContainerFromData(std::uint32_t id, std::int16_t type);
  HRESULT AddContainerFromData(CNameContainer* parent, std::uint32_t id, std::int16_t type);
  HRESULT AddNameFromData(std::uint32_t id, CString name, std::uint32_t value);

  // --- diagnostics
  void TraceDumpContainer(CString indent) const;
  void TraceDumpContainer(CString indent, const TraceSink& sink) const;

  // The process-wide last issued name ID, from which every name ID and
  // container ID is drawn. 0 when the library is loaded.
  static std::uint32_t GetLastIssuedNameID();
  static void SetLastIssuedNameID(std::uint32_t value);
  // How many IDs can still be drawn before the counter would pass
  // 0xFFFFFFFF. AddName needs one and AddContainer two; both refuse rather
  // than wrap to IDs already in use.
  static std::uint32_t GetRemainingNameIDs();

  // Bucket counts of the three tables (sub-containers, names by ID, names
  // by text); the walk orders above follow them.
  std::uint32_t GetBucketCounts(std::uint32_t* namesByText = nullptr,
                                std::uint32_t* subContainers = nullptr) const;

  // Approximate bytes held by this container alone (not its sub-containers).
  std::size_t GetMemoryFootprint() const;

 protected:
  static std::uint32_t GetNextNameID();

 private:
  friend struct ContainerAccess;  // the library's own modules reach the tables through it
  CNameContainer(CNameContainer* parent, std::uint32_t id, std::int16_t type);

  void ChangeID(std::uint32_t id);
  // AddName for a caller that has upper-cased the text already; hash: the
  // tree index's hash of the key, or 0.
  std::uint32_t AddNameWithKey(std::u16string_view text, std::u16string_view key, std::uint64_t hash);

  std::uint32_t m_ID;
  std::int32_t m_nObjectIndex;
  std::int16_t m_Type;
  CNameContainer* m_pParent;
  // The name and sub-container tables and the place in a server's tree:
  // changed only through it, so that the server's index stays current.
  ContainerTablesBox m_Tables;
  std::unique_ptr<ObjectCounters> m_pCounters;  // made at the first GetNextObjectCount
};

}  // namespace nametree
