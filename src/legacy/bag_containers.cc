// The third section of a legacy stream: the containers that held the bags.
// Global and target ones are created while they are read; the others wait
// for the conversion.
#include <memory>
#include <new>

#include "container/tree_index.h"
#include "legacy/legacy_model.h"
#include "persist/stream_io.h"

namespace nametree {

HRESULT CNameServer::AddContainerFromData(std::uint32_t id, std::uint32_t parentID, std::int16_t type) {
  if (parentID != 0) {
    CNameContainer* parent = GetContainer(parentID);
    if (!parent) return E_FAIL;
    // A nested container takes its parent's type, whatever was asked for.
    // mutate: nested-type-as-asked
    parent->AddContainerFromData(parent, id, parent->GetContainerType());
    return S_OK;
  }
  // Made without initialisation so that it draws no ID; repeats are not refused.
  auto top = std::make_unique<CNameContainer>(true);
  top->CreateContainerFromData(id, type);
  m_TopLevelContainers.push_back(std::move(top));
  m_pIndex->TopAppended(m_TopLevelContainers.back().get());
  return S_OK;
}

HRESULT CNameServer::LoadOldBagContainerData(IStream* stream, std::uint32_t count) {
  const ComPtr<IStream> hold(stream);
  CLegacyModel& model = Legacy();
  std::vector<std::uint32_t>& subIDs = model.m_OldSubContainerIDs;
  const HRESULT hr = FailOnStreamError([&] {
    for (std::uint32_t i = 0; i < count; ++i) {
      subIDs.clear();
      const auto version = static_cast<std::int32_t>(ReadU32(stream));
      ReadCountedString(stream);  // the container's name is not kept
      const std::uint32_t id = ReadU32(stream);
      const std::uint32_t parentID = ReadU32(stream);
      const std::uint32_t subCount = ReadU32(stream);
      for (std::uint32_t s = 0; s < subCount; ++s) subIDs.push_back(ReadU32(stream));
      // Compared as a whole word: 0x10002 is neither global nor target.
      const std::uint32_t type = ReadU32(stream);
      // mutate: target-bag-containers-not-made
      if (type == kGlobalContainer || type == kTargetContainer) {
        const auto shortType = static_cast<std::int16_t>(type);
        AddContainerFromData(id, 0, shortType);
        for (std::uint32_t sub : subIDs) AddContainerFromData(sub, id, shortType);
      } else if (parentID != 0) {
        model.m_OldBagContainers.push_back(
            std::make_unique<COldBagContainer>(COldBagContainer{id, parentID, kTargetContainer}));
      }
      subIDs.clear();
      if (version >= 2) {
        const std::uint32_t words = ReadU32(stream);
        for (std::uint32_t w = 0; w < words; ++w) ReadU32(stream);
      }
      SkipBytesSingly(stream, ReadU32(stream));
      if (version >= 3) ReadU32(stream);
    }
    return S_OK;
  });
  if (hr != S_OK) subIDs.clear();
  return hr;
}

}  // namespace nametree
