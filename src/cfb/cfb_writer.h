// Writing a storage tree as a compound file. The output depends only on the
// tree: names, kinds and stream bytes; times and class IDs are zero.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "nametree/storage.h"

namespace nametree::cfb {

// Serialises everything reachable from `root` through EnumElements,
// OpenStream and OpenStorage, as version 3 (512-byte sectors) or 4
// (4096-byte sectors). Fails on names the format cannot hold, on names that
// differ only in case, on a stream that cannot be opened (one still open
// elsewhere, say) and on trees nested too deeply.
bool WriteCompoundFile(IStorage* root, int majorVersion, std::vector<std::uint8_t>* out,
                       std::string* error);

}  // namespace nametree::cfb
