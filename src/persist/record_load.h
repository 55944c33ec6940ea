// Reading a container record and its sub-records into a container.
#pragma once

#include "nametree/name_container.h"
#include "nametree/storage.h"

namespace nametree {

// freshRoot: no one sees root until it is loaded, and the caller discards
// it when loading fails (the server's new top-level container), so its
// names may enter in bulk. Otherwise they enter root one by one as they are
// read, and a failure keeps those read before it. The sub-containers that
// the records describe are always made fresh, read whole, and then placed.
HRESULT LoadRecordTree(CNameContainer& root, IStream* stream, bool freshRoot);

}  // namespace nametree
