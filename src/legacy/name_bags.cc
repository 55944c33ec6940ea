// The second section of a legacy stream: bags of names, and the three bags
// whose converted container a host asks for by name.
#include <memory>
#include <new>

#include "legacy/legacy_model.h"
#include "persist/stream_io.h"
#include "platform/text.h"

namespace nametree {
namespace {

// In the order they are tried; the entry keeps this spelling.
const char16_t* const kSpecialBagNames[] = {u"Devices", u"Protocols", u"Drivers"};

void RecordIfSpecial(CLegacyModel& model, const CString& name, std::uint32_t bagID,
                     std::uint32_t parentID) {
  for (const char16_t* special : kSpecialBagNames) {
    if (EqualsAsciiNoCase(name, special)) {
      model.m_SpecialBags.push_back(COldSpecialBag{special, bagID, parentID});
      return;
    }
  }
}

}  // namespace

HRESULT CNameServer::LoadOldNameBagData(IStream* stream, std::uint32_t count) {
  const ComPtr<IStream> hold(stream);
  CLegacyModel& model = Legacy();
  return FailOnStreamError([&] {
    for (std::uint32_t i = 0; i < count; ++i) {
      auto bag = std::make_unique<COldNameBag>();
      const auto version = static_cast<std::int32_t>(ReadU32(stream));
      const CString name = ReadCountedString(stream);
      bag->bagID = ReadU32(stream);
      bag->parentID = ReadU32(stream);
      // Recorded before the members are read, so it outlives a failure below.
      RecordIfSpecial(model, name, bag->bagID, bag->parentID);
      // Grows with the IDs that actually arrive, never with the claimed count.
      const std::uint32_t members = ReadU32(stream);
      for (std::uint32_t m = 0; m < members; ++m) bag->memberIDs.push_back(ReadU32(stream));
      SkipBytesSingly(stream, ReadU32(stream));
      // mutate: bag-flag-version
      if (version >= 2) bag->flag = ReadU8(stream);
      model.m_OldNameBags.push_back(std::move(bag));
    }
    return S_OK;
  });
}

std::uint32_t CNameServer::GetBagbyName(std::uint32_t parentID, CString name) const {
  try {
    if (!m_pLegacy) return 0;
    for (const COldSpecialBag& bag : m_pLegacy->m_SpecialBags) {
      if (bag.parentID == parentID && EqualsAsciiNoCase(bag.name, name)) return bag.bagID;
    }
    return 0;
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

}  // namespace nametree
