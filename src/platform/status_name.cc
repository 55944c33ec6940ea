#include <cstdio>

#include "nametree/storage.h"
#include "nametree/types.h"

namespace nametree {

std::string StatusName(HRESULT hr) {
  switch (hr) {
    case S_OK: return "S_OK";
    case S_FALSE: return "S_FALSE";
    case E_FAIL: return "E_FAIL";
    case E_POINTER: return "E_POINTER";
    case E_NOINTERFACE: return "E_NOINTERFACE";
    case E_OUTOFMEMORY: return "E_OUTOFMEMORY";
    case E_INVALIDARG: return "E_INVALIDARG";
    case E_NAME_INVALID: return "E_NAME_INVALID";
    case E_NAME_DUPLICATE: return "E_NAME_DUPLICATE";
    case STG_E_FILENOTFOUND: return "STG_E_FILENOTFOUND";
    case STG_E_ACCESSDENIED: return "STG_E_ACCESSDENIED";
    case STG_E_INSUFFICIENTMEMORY: return "STG_E_INSUFFICIENTMEMORY";
    case STG_E_WRITEFAULT: return "STG_E_WRITEFAULT";
    case STG_E_READFAULT: return "STG_E_READFAULT";
    case STG_E_INVALIDNAME: return "STG_E_INVALIDNAME";
    case STG_E_FILEALREADYEXISTS: return "STG_E_FILEALREADYEXISTS";
    case STG_E_DOCFILECORRUPT: return "STG_E_DOCFILECORRUPT";
    case STG_E_MEDIUMFULL: return "STG_E_MEDIUMFULL";
    default: break;
  }
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(hr));
  return buf;
}

}  // namespace nametree
