#include "legacy_doc.h"

namespace nametree::test {

bool PutLegacyStream(IStorage* root, const std::optional<std::vector<std::uint8_t>>& stream, const CString& child) {
  ComPtr<IStorage> sub;
  ComPtr<IStream> element;
  if (Failed(root->CreateStorage(child, kCreateMode, sub.Put()))) return false;
  if (!stream) return true;
  if (Failed(sub->CreateStream(u"NameService", kCreateMode, element.Put()))) return false;
  return stream->empty() ||
         Succeeded(element->Write(stream->data(), static_cast<std::uint32_t>(stream->size()), nullptr));
}

ComPtr<IStorage> LegacyStorage(const std::optional<std::vector<std::uint8_t>>& stream, const CString& child) {
  ComPtr<IStorage> root = CreateMemoryStorage();
  return PutLegacyStream(root.Get(), stream, child) ? root : nullptr;
}

}  // namespace nametree::test
