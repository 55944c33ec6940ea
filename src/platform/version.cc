#include "nametree/version.h"

namespace nametree {

const char* LibraryVersion() { return NAMETREE_VERSION_STRING; }

}  // namespace nametree
