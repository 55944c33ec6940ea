// Read access to a container's tables and its place in the tree, for the
// read-only walk. It changes nothing; everything it hands out is good until
// the tree changes.
#pragma once

#include <memory>
#include <vector>

#include "container/container_tables.h"
#include "nametree/name_server.h"

namespace nametree {

struct ContainerReader {
  static const NameByIdTable& Names(const CNameContainer& c) { return TablesOf(c).Names(); }
  static const SubContainerTable& Children(const CNameContainer& c) { return TablesOf(c).Children(); }
  // The container whose table holds c; none at the top level.
  static const CNameContainer* Holder(const CNameContainer& c) { return TablesOf(c).Place().holder; }
  static std::uint32_t Key(const CNameContainer& c) {
    const TreePlace& p = TablesOf(c).Place();
    return p.holder ? p.key : c.GetID();
  }
  // Its top-level container, and whether a tree search from there reaches it.
  static const CNameContainer* Top(const CNameContainer& c) { return TablesOf(c).Place().top; }
  static bool Searched(const CNameContainer& c) { return TablesOf(c).Place().seen; }
  static const std::vector<std::unique_ptr<CNameContainer>>& Tops(const CNameServer& s) {
    return s.m_TopLevelContainers;
  }
};

}  // namespace nametree
