// A storage that refuses one stream name with STG_E_ACCESSDENIED and hands
// every other call to the storage it wraps, as a host's storage that denies
// access does.
#pragma once

#include "nametree/storage.h"

namespace nametree::test {

ComPtr<IStorage> DenyingStorage(ComPtr<IStorage> inner, CString name);

}  // namespace nametree::test
