#include "document/legacy_import.h"

#include <new>

#include "nametree/cfb_storage.h"
#include "nametree/legacy_storage.h"

namespace nametree {

std::unique_ptr<DocumentFile> ConvertLegacyFile(const std::filesystem::path& path,
                                                const LegacyDropObserver& dropped, FileError* error) {
  FileError failure;
  try {
    ComPtr<IStorage> storage;
    CompoundFileError refused;
    if (!OpenCompoundFile(path.string(), false, {}, &storage, &refused)) {
      failure = {FileErrorKindOf(refused.kind, false), "cannot open: " + refused.message};
    } else {
      std::unique_ptr<DocumentFile> doc = DocumentFile::InMemory();
      CNameServer& server = doc->Server();
      server.SetLegacyDropObserver(dropped);
      const HRESULT hr = server.LoadOldVersion(CreateLegacyStorageAdapter(storage.Get()).Get());
      server.SetLegacyDropObserver({});
      // mutate: legacy-import-takes-unreadable
      if (hr == S_OK) return doc;
      failure = hr == E_OUTOFMEMORY
                    ? FileError{FileErrorKind::kOutOfMemory, "cannot read: out of memory"}
                    : FileError{FileErrorKind::kNotADocument,
                                "is no readable document of the earlier format (no \"QXTNameServer\" storage with a "
                                "\"NameService\" element, or a damaged one)"};
    }
  } catch (const std::bad_alloc&) {
    failure = {FileErrorKind::kOutOfMemory, "cannot open: out of memory"};
  }
  if (error) *error = std::move(failure);
  return nullptr;
}

}  // namespace nametree
