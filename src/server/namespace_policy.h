// Which namespaces a name in a container must stay apart from, and in what
// order they are searched: the one statement of that rule, for the
// duplicate checks of the server and for the whole-document check alike.
//
//  - a plain container (type 0), and an own container (type 4) when the
//    check is confined: the container's own names, the keywords, the
//    global namespace;
//  - any other container in a global tree: the keywords, the global
//    namespace, every target namespace;
//  - any other container: the keywords, its own tree (every top-level
//    container carrying the root's ID), the global namespace.
#pragma once

#include <cstdint>
#include <span>

#include "nametree/name_server.h"

namespace nametree {

// Whether the container is judged by its own names rather than its tree's.
inline bool JudgedAlone(std::int16_t type, bool confine) {
  return type == kOrdinaryContainer || (type == kLocalCheckContainer && confine);
}

// The namespaces in search order. `globalTree`: the container's top-level
// container is of type 2; not looked at when JudgedAlone.
std::span<const CDuplicateHit::Where> NamespacesApart(std::int16_t type, bool confine, bool globalTree);

}  // namespace nametree
