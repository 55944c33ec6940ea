// The library's version. CMake reads the numbers from this file, so it is
// the one place where they are set.
#pragma once

#include "nametree/export.h"

#define NAMETREE_VERSION_MAJOR 1
#define NAMETREE_VERSION_MINOR 0
#define NAMETREE_VERSION_PATCH 0
#define NAMETREE_VERSION_STRING "1.0.0"

namespace nametree {

// The version of the library actually linked, which may differ from the
// header a host was compiled against.
NAMETREE_API const char* LibraryVersion();

}  // namespace nametree
