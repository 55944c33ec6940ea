// The first section of a legacy stream: every name of the earlier document,
// with its ID and the container it falls back to.
#include <memory>

#include "legacy/legacy_model.h"
#include "persist/stream_io.h"

namespace nametree {
namespace {

// Version 1 records carry a tail that nothing uses any more.
void SkipVersion1Tail(IStream* stream) {
  if (ReadU32(stream) != 0) {
    const std::uint32_t words = ReadU32(stream);
    for (std::uint32_t i = 0; i < words; ++i) ReadU32(stream);
  }
  SkipBytesSingly(stream, ReadU32(stream));
}

}  // namespace

HRESULT CNameServer::LoadOldNameObjectData(IStream* stream, std::uint32_t count) {
  const ComPtr<IStream> hold(stream);
  CLegacyModel& model = Legacy();
  return FailOnStreamError([&]() -> HRESULT {
    // The count is untrusted: records are made one at a time as their bytes arrive.
    for (std::uint32_t i = 0; i < count; ++i) {
      auto object = std::make_unique<COldNameObject>();
      const std::uint32_t version = ReadU32(stream);
      if (version != 1 && version != 2) return E_FAIL;
      object->name = ReadCountedString(stream);
      object->nameID = ReadU32(stream);
      object->containerID = ReadU32(stream);
      ReadU32(stream);  // not examined
      // mutate: version-1-tail-not-skipped
      if (version == 1) SkipVersion1Tail(stream);
      const std::uint32_t key = object->nameID;
      if (const auto* earlier = model.m_OldNameObjects.Lookup(key))
        model.ReportDrop(CLegacyDrop::Record::kNameObject, CLegacyDrop::Reason::kReplaced, key,
                         (*earlier)->containerID, (*earlier)->name);
      model.m_OldNameObjects.SetAt(key, std::move(object));  // a later record wins
    }
    return S_OK;
  });
}

}  // namespace nametree
