// One container and its subtree as one recursive record:
//   u16 version (1) | u32 ID | i16 type | i16 N | N x (u32 ID, counted string)
//   | i16 M | M sub-container records
// Names and sub-containers follow the walk order of their tables.
#include <cstdlib>
#include <limits>
#include <vector>

#include "container/container_tables.h"
#include "container/subtree_walk.h"
#include "nametree/name_container.h"
#include "persist/name_batch.h"
#include "persist/record_io.h"
#include "persist/record_load.h"
#include "persist/record_prefetch.h"
#include "persist/record_save.h"
#include "persist/stream_io.h"
#include "platform/text.h"

namespace nametree {
namespace {
constexpr std::uint16_t kRecordVersion = 1;
constexpr std::size_t kMaxRecordEntries = std::numeric_limits<std::int16_t>::max();
constexpr std::size_t kRecordHeadBytes = 2 + 4 + 2 + 2 + 2;  // version, ID, type, N, M
constexpr std::size_t kNameFixedBytes = 4 + 4 + 2;           // ID, length, zero unit
}  // namespace

// Both directions keep the records' nesting on a stack of their own, so a
// document of any depth is read and written.

bool SaveRecordTree(const CNameContainer& root, RecordWriter& out, std::size_t then) {
  // A count beyond the 16-bit fields has no faithful record: refuse before
  // writing. The same walk bounds the bytes, so the record is gathered
  // without growing, and lists the containers in record order.
  std::size_t bound = 0;
  std::vector<const CNameContainer*> order;
  const bool fits = SubtreeWalk::Run(root, [&](const CNameContainer& c, std::size_t) {
    const NameByIdTable& names = TablesOf(c).Names();
    const bool ok = names.size() <= kMaxRecordEntries && TablesOf(c).Children().size() <= kMaxRecordEntries;
    bound += kRecordHeadBytes + names.size() * kNameFixedBytes + 2 * names.TextUnits();
    order.push_back(&c);
    return ok ? WalkStep::kDescend : WalkStep::kStop;
  });
  if (!fits) return false;
  out.Reserve(bound + then);
  // Pre-order is the record order: each header and its names, then the
  // records of its sub-containers in walk order.
  RecordPrefetch ahead;
  for (std::size_t i = 0; i < order.size(); ++i) {
    const CNameContainer& c = *order[i];
    const NameByIdTable& names = TablesOf(c).Names();
    if (i + 1 < order.size()) ahead.Aim(*order[i + 1], names.size());
    out.U16(kRecordVersion);
    out.U32(c.GetID());
    out.U16(static_cast<std::uint16_t>(c.GetContainerType()));
    out.U16(static_cast<std::uint16_t>(names.size()));
    names.Walk([&](std::uint32_t id, std::u16string_view text) {
      ahead.Step();
      out.U32(id);
      out.Text(text);
      return true;
    });
    out.U16(static_cast<std::uint16_t>(TablesOf(c).Children().size()));
  }
  return true;
}

HRESULT CNameContainer::Save(IStream* pStream) const {
  if (!pStream) return E_POINTER;
  return FailOnStreamError([&] {
    RecordWriter out(pStream);
    if (!SaveRecordTree(*this, out)) return E_FAIL;
    out.Flush();
    return S_OK;
  });
}

// mutate: live-load-in-batch
HRESULT CNameContainer::Load(IStream* pStream) { return LoadRecordTree(*this, pStream, false); }

namespace {

// One record's header and names into c; returns its sub-record count. A
// container that no one sees yet (fresh) takes its names in one batch;
// otherwise each name enters as it is read.
int LoadRecordHead(CNameContainer& c, RecordReader& in, bool fresh, NameBatch& batch) {
  in.U16();  // record version, not examined
  ContainerAccess::ChangeID(c, in.U32());
  c.SetContainerType(static_cast<std::int16_t>(in.U16()));
  const auto names = static_cast<std::int16_t>(in.U16());
  ContainerTables& tables = TablesOf(c);
  if (fresh) {
    batch.Read(in, names);
    batch.Enter(tables);
#ifndef NDEBUG
    if (!batch.MatchesOneByOne(tables)) std::abort();
#endif
  } else {
    CString text, key;
    for (int i = 0; i < names; ++i) {
      const std::uint32_t id = in.U32();
      in.Text(text);
      key.assign(text);
      MakeUpper(key);
      tables.EnterName(id, text);
      tables.EnterKey(key, id);
    }
  }
  return static_cast<std::int16_t>(in.U16());
}

}  // namespace

HRESULT LoadRecordTree(CNameContainer& root, IStream* pStream, bool freshRoot) {
  if (!pStream) return E_POINTER;
  // Each open record: the container being read and the sub-records it still
  // expects. A sub-container joins its parent's table once it is complete,
  // as a freshly made container drawing its own ID first.
  struct Open {
    std::unique_ptr<CNameContainer> owned;  // none for the root
    CNameContainer* c;
    int left;
  };
  try {
    RecordReader in(pStream);
    NameBatch batch;
    std::vector<Open> open;
    const int subs = LoadRecordHead(root, in, freshRoot, batch);
    open.push_back({nullptr, &root, subs});
    while (!open.empty()) {
      if (open.back().left-- > 0) {
        auto child = std::make_unique<CNameContainer>(false);
        CNameContainer* raw = child.get();
        const int n = LoadRecordHead(*raw, in, true, batch);
        open.push_back({std::move(child), raw, n});
        continue;
      }
      Open done = std::move(open.back());
      open.pop_back();
      if (!done.owned) break;
      // mutate: deep-load-under-root
      CNameContainer* parent = open.back().c;
      ContainerAccess::SetLoadedParent(*done.c, parent);
      const std::uint32_t id = done.c->GetID();
      ContainerTables::PlaceChild(*parent, id, std::move(done.owned));
    }
    return S_OK;
  } catch (eSTREAM_ERROR_CODE) {
    return E_FAIL;
  } catch (const std::bad_alloc&) {
    return E_FAIL;
  }
}

}  // namespace nametree
