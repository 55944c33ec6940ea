// One container and its subtree as one recursive record:
//   u16 version (1) | u32 ID | i16 type | i16 N | N x (u32 ID, counted string)
//   | i16 M | M sub-container records
// Names and sub-containers follow the walk order of their tables.
#include <limits>

#include "container/container_tables.h"
#include "nametree/name_container.h"
#include "persist/stream_io.h"
#include "platform/text.h"

namespace nametree {
namespace {
constexpr std::uint16_t kRecordVersion = 1;
constexpr std::size_t kMaxRecordEntries = std::numeric_limits<std::int16_t>::max();
}  // namespace

HRESULT CNameContainer::Save(IStream* pStream) const {
  if (!pStream) return E_POINTER;
  // A count beyond the 16-bit fields has no faithful record: refuse before writing.
  if (m_NamesByID->size() > kMaxRecordEntries || m_SubContainers->size() > kMaxRecordEntries) return E_FAIL;
  try {
    WriteU16(pStream, kRecordVersion);
    WriteU32(pStream, m_ID);
    WriteU16(pStream, static_cast<std::uint16_t>(m_Type));
    WriteU16(pStream, static_cast<std::uint16_t>(m_NamesByID->size()));
    m_NamesByID->Walk([&](std::uint32_t id, const CString& text) {
      WriteU32(pStream, id);
      WriteCountedString(pStream, text);
      return true;
    });
    WriteU16(pStream, static_cast<std::uint16_t>(m_SubContainers->size()));
    bool ok = m_SubContainers->Walk([&](std::uint32_t, const std::unique_ptr<CNameContainer>& child) {
      return child->Save(pStream) == S_OK;
    });
    return ok ? S_OK : E_FAIL;
  } catch (eSTREAM_ERROR_CODE) {
    return E_FAIL;
  } catch (const std::bad_alloc&) {
    return E_FAIL;
  }
}

HRESULT CNameContainer::Load(IStream* pStream) {
  if (!pStream) return E_POINTER;
  try {
    ReadU16(pStream);  // record version, not examined
    ChangeID(ReadU32(pStream));
    SetContainerType(static_cast<std::int16_t>(ReadU16(pStream)));
    const auto names = static_cast<std::int16_t>(ReadU16(pStream));
    for (int i = 0; i < names; ++i) {
      const std::uint32_t id = ReadU32(pStream);
      CString text = ReadCountedString(pStream);
      CString key = ToUpper(text);
      EnterName(id, std::move(text));
      EnterKey(std::move(key), id);
    }
    const auto subs = static_cast<std::int16_t>(ReadU16(pStream));
    for (int i = 0; i < subs; ++i) {
      auto child = std::make_unique<CNameContainer>(false);
      if (child->Load(pStream) != S_OK) return E_FAIL;
      child->m_pParent = this;
      const std::uint32_t id = child->m_ID;
      PlaceChild(id, std::move(child));
    }
    return S_OK;
  } catch (eSTREAM_ERROR_CODE) {
    return E_FAIL;
  } catch (const std::bad_alloc&) {
    return E_FAIL;
  }
}

}  // namespace nametree
