// The host's legacy document storage: child storages that hold elements.
// Documents of the earlier format keep their names in one element of one
// child storage; an element yields its contents through IStream.
#pragma once

#include <cstdint>

#include "nametree/export.h"
#include "nametree/storage.h"
#include "nametree/types.h"
#include "nametree/unknown.h"

namespace nametree {

class NAMETREE_API IZebStorage : public IUnknown {
 public:
  // pReserved points to a string that callers pass empty; reserved is 0.
  virtual HRESULT OpenChildStorage(const CString& name, std::uint32_t mode, std::uint32_t reserved,
                                   const CString* pReserved, IZebStorage** ppChild) = 0;
  // Yields the element object; ask it for IID_IStream to read its contents.
  virtual HRESULT OpenElement(const CString& name, std::uint32_t mode, std::uint32_t reserved1,
                              std::uint32_t reserved2, IUnknown** ppElement) = 0;

 protected:
  ~IZebStorage() = default;
};

// Presents any storage as the host's legacy storage: a child storage is a
// child IStorage, an element is a stream in it. Takes its own reference.
NAMETREE_API ComPtr<IZebStorage> CreateLegacyStorageAdapter(IStorage* storage);

}  // namespace nametree
