// Reads a document of the earlier format: opens its one element, reads the
// stream's frame and three sections into the legacy model, converts it and
// leaves the server dirty so that the host saves it in the current format.
#include "legacy/legacy_model.h"
#include "persist/stream_io.h"

namespace nametree {
namespace {

// Tried in this order; the second is where older documents keep it.
const char16_t* const kChildStorageNames[] = {u"QXTNameServer", u"B926AE3FAF0511d28CDB00A0C9A0FF"};
const char16_t kElementName[] = u"NameService";

ComPtr<IZebStorage> OpenChildStorage(IZebStorage* storage) {
  const CString reserved;
  for (const char16_t* name : kChildStorageNames) {
    ComPtr<IZebStorage> child;
    if (Succeeded(storage->OpenChildStorage(name, kOpenMode, 0, &reserved, child.Put())) && child)
      return child;
  }
  return nullptr;
}

ComPtr<IStream> OpenElementStream(IZebStorage* child, ComPtr<IUnknown>& element) {
  if (Failed(child->OpenElement(kElementName, kOpenMode, 0, 0, element.Put())) || !element) return nullptr;
  void* stream = nullptr;
  if (Failed(element->QueryInterface(IID_IStream, &stream))) return nullptr;
  return ComPtr<IStream>::Attach(static_cast<IStream*>(stream));
}

}  // namespace

HRESULT CNameServer::LoadOldVersion(IZebStorage* storage) {
  if (!storage) return E_FAIL;
  // Declared in this order so that the stream goes first, the child storage last.
  const ComPtr<IZebStorage> child = OpenChildStorage(storage);
  if (!child) return E_FAIL;
  ComPtr<IUnknown> element;
  const ComPtr<IStream> stream = OpenElementStream(child.Get(), element);
  if (!stream) return E_FAIL;

  IStream* s = stream.Get();
  try {
    ReadU32(s);  // format word, given no meaning
    m_nStoredLastIssuedID = ReadU32(s);
    CNameContainer::SetLastIssuedNameID(m_nStoredLastIssuedID);
    if (Failed(LoadOldNameObjectData(s, ReadU32(s)))) return E_FAIL;
    if (Failed(LoadOldNameBagData(s, ReadU32(s)))) return E_FAIL;
    if (Failed(LoadOldBagContainerData(s, ReadU32(s)))) return E_FAIL;
    SkipBytesSingly(s, ReadU32(s));  // trailing block, read only to pass over it
  } catch (eSTREAM_ERROR_CODE) {
    return E_FAIL;
  }
  ConvertOldToNewNameServer();
  SetDirty(true);
  return S_OK;
}

}  // namespace nametree
