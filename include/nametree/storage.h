// The structured-storage operations the library relies on: a storage of
// named streams, and streams with sequential read and write.
#pragma once

#include <cstdint>
#include <vector>

#include "nametree/export.h"
#include "nametree/types.h"
#include "nametree/unknown.h"

namespace nametree {

// Access-mode flags, with the values of the structured-storage platform.
inline constexpr std::uint32_t STGM_READ = 0x00000000;
inline constexpr std::uint32_t STGM_WRITE = 0x00000001;
inline constexpr std::uint32_t STGM_READWRITE = 0x00000002;
inline constexpr std::uint32_t STGM_SHARE_EXCLUSIVE = 0x00000010;
inline constexpr std::uint32_t STGM_CREATE = 0x00001000;

// Modes the library passes: open an existing stream, or create-or-replace one.
inline constexpr std::uint32_t kOpenMode = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;            // 0x12
inline constexpr std::uint32_t kCreateMode = STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE;  // 0x1012

// Statuses a storage implementation may return besides S_OK and S_FALSE.
inline constexpr HRESULT STG_E_FILENOTFOUND = static_cast<HRESULT>(0x80030002u);
inline constexpr HRESULT STG_E_ACCESSDENIED = static_cast<HRESULT>(0x80030005u);
inline constexpr HRESULT STG_E_INSUFFICIENTMEMORY = static_cast<HRESULT>(0x80030008u);
inline constexpr HRESULT STG_E_WRITEFAULT = static_cast<HRESULT>(0x8003001Du);
inline constexpr HRESULT STG_E_READFAULT = static_cast<HRESULT>(0x8003001Eu);
inline constexpr HRESULT STG_E_INVALIDNAME = static_cast<HRESULT>(0x800300FCu);
inline constexpr HRESULT STG_E_FILEALREADYEXISTS = static_cast<HRESULT>(0x80030050u);
inline constexpr HRESULT STG_E_DOCFILECORRUPT = static_cast<HRESULT>(0x80030109u);
inline constexpr HRESULT STG_E_MEDIUMFULL = static_cast<HRESULT>(0x80030070u);

// A sequence of bytes with a current position.
//
// Read moves up to cb bytes from the position, which advances. It returns
// S_OK when all cb bytes arrived, S_FALSE with a smaller count when the
// stream ended first, and a negative status on failure. Write puts cb bytes
// at the position, extending the stream as needed. pcb may be null.
class NAMETREE_API IStream : public IUnknown {
 public:
  virtual HRESULT Read(void* pv, std::uint32_t cb, std::uint32_t* pcbRead) = 0;
  virtual HRESULT Write(const void* pv, std::uint32_t cb, std::uint32_t* pcbWritten) = 0;

 protected:
  ~IStream() = default;
};

struct NAMETREE_API StorageElement {
  CString name;
  bool isStorage = false;
  std::uint64_t size = 0;  // bytes of a stream; 0 for a storage
};

// A storage of named streams and child storages. OpenStream yields a stream
// positioned at its start; CreateStream replaces any stream of that name
// with an empty one. The library itself uses only the two stream
// operations; the others serve hosts, tools and the legacy adapter.
class NAMETREE_API IStorage : public IUnknown {
 public:
  virtual HRESULT OpenStream(const CString& name, std::uint32_t mode, IStream** ppStream) = 0;
  virtual HRESULT CreateStream(const CString& name, std::uint32_t mode, IStream** ppStream) = 0;
  virtual HRESULT OpenStorage(const CString& name, std::uint32_t mode, IStorage** ppStorage) = 0;
  virtual HRESULT CreateStorage(const CString& name, std::uint32_t mode, IStorage** ppStorage) = 0;
  // Lists the direct children in name order.
  virtual HRESULT EnumElements(std::vector<StorageElement>* pElements) = 0;

 protected:
  ~IStorage() = default;
};

}  // namespace nametree
