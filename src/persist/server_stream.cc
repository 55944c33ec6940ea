// The "NameServer" stream: u16 version (1) | i16 T | T container records |
// u32 last issued name ID.
#include <limits>

#include "container/tree_index.h"
#include "nametree/name_server.h"
#include "persist/record_load.h"
#include "persist/record_save.h"
#include "persist/stream_io.h"

namespace nametree {
namespace {
constexpr char16_t kStreamName[] = u"NameServer";
constexpr std::uint16_t kStreamVersion = 1;
}  // namespace

HRESULT CNameServer::Save(IStorage* storage) {
  if (!storage) return E_FAIL;
  if (m_TopLevelContainers.size() > static_cast<std::size_t>(std::numeric_limits<std::int16_t>::max()))
    return E_FAIL;
  const HRESULT hr = FailOnStreamError([&] {
    ComPtr<IStream> stream;
    if (Failed(storage->OpenStream(kStreamName, kOpenMode, stream.Put())) || !stream) {
      if (Failed(storage->CreateStream(kStreamName, kCreateMode, stream.Put())) || !stream) return E_FAIL;
    }
    // One writer for the whole stream; a save that fails part-way still
    // leaves the header and the records before the failing one.
    RecordWriter out(stream.Get());
    out.U16(kStreamVersion);
    out.U16(static_cast<std::uint16_t>(m_TopLevelContainers.size()));
    for (std::size_t i = 0; i < m_TopLevelContainers.size(); ++i) {
      const std::size_t mark = out.Mark();
      bool fits = false;
      try {
        fits = SaveRecordTree(*m_TopLevelContainers[i], out, i + 1 == m_TopLevelContainers.size() ? 4 : 0);
      } catch (const std::bad_alloc&) {
        out.Rewind(mark);
        out.Flush();
        throw;
      }
      // mutate: refused-document-save-unwritten
      if (!fits) {
        out.Flush();
        return E_FAIL;
      }
    }
    out.U32(CNameContainer::GetLastIssuedNameID());
    out.Flush();
    return S_OK;
  });
  if (hr != S_OK) return hr;
  m_bDirty = false;
  return S_OK;
}

bool CNameServer::IndexLoadedTops(std::size_t first) {
  std::vector<const CNameContainer*> loaded;
  try {
    for (std::size_t i = first; i < m_TopLevelContainers.size(); ++i) loaded.push_back(m_TopLevelContainers[i].get());
    m_pIndex->ReserveFor(loaded);
  } catch (const std::bad_alloc&) {
    // Only the saving in time is lost: each tree still makes its own room.
  }
  for (std::size_t i = first; i < m_TopLevelContainers.size(); ++i) {
    try {
      m_pIndex->TopAppended(m_TopLevelContainers[i].get());
    } catch (const std::bad_alloc&) {
      // The trees that found no room leave, as if their records had failed.
      // mutate: bulk-attach-failure-keeps-top
      m_TopLevelContainers.erase(m_TopLevelContainers.begin() + static_cast<std::ptrdiff_t>(i),
                                 m_TopLevelContainers.end());
      return false;
    }
  }
  return true;
}

HRESULT CNameServer::Load(IStorage* storage) {
  if (!storage) return E_FAIL;
  return FailOnStreamError([&] {
    ComPtr<IStream> stream;
    // A document without the stream, or one that refuses access to it, has nothing to load.
    if (Failed(storage->OpenStream(kStreamName, kOpenMode, stream.Put())) || !stream) return S_OK;
    ReadU16(stream.Get());  // version, not examined
    const auto count = static_cast<std::int16_t>(ReadU16(stream.Get()));
    // Every record is read before the index learns of any, so that the index
    // makes room for the whole document at once. A record that fails to load
    // ends the list there; the ones before it stay, as their own load left them.
    const std::size_t first = m_TopLevelContainers.size();
    bool whole = true;
    for (int i = 0; i < count && whole; ++i) {
      auto top = std::make_unique<CNameContainer>(false);
      CNameContainer* c = top.get();
      if (m_TopLevelContainers.size() == m_TopLevelContainers.capacity())
        m_TopLevelContainers.reserve(2 * m_TopLevelContainers.size() + 1);
      m_TopLevelContainers.push_back(std::move(top));
      if (LoadRecordTree(*c, stream.Get(), true) != S_OK) {
        m_TopLevelContainers.pop_back();
        whole = false;
      }
    }
    if (!IndexLoadedTops(first) || !whole) return E_FAIL;
    std::uint32_t last = ReadU32(stream.Get());
    // mutate: last-id-not-restored
    CNameContainer::SetLastIssuedNameID(last);
    // mutate: stored-last-id-not-recorded
    m_nStoredLastIssuedID = last;
    return S_OK;
  });
}

}  // namespace nametree
