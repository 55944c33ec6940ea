// Every entry of a name server, as the trace walk meets it: each container
// with its place in the tree and every entry of its ID-keyed name table
// (also a second ID under a text that differs only in case, which the
// name-keyed lists of the library leave out). Taken once, read many times;
// it goes stale with the next edit.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "nametree/name_server.h"

namespace nametree::cli {

struct NameEntry {
  std::uint32_t id = 0;
  CString text;
};

struct ContainerEntry {
  std::uint32_t id = 0;
  std::int16_t type = 0;
  int parent = -1;  // index of the parent; -1 at the top level
  int top = 0;      // index of the top-level container above it (itself at the top)
  // Whether the tree search from its top-level container enters it (types
  // 2, 3 and 4 on the way down; a top-level container always).
  bool searched = false;
  std::vector<NameEntry> names;  // walk order of the ID-keyed table
  std::vector<int> children;     // walk order
};

struct Snapshot {
  std::vector<ContainerEntry> containers;  // the walk's order: a container before its subtree
  std::vector<int> tops;                   // top-level list order

  // "1/5/9": the IDs from the top down to the container.
  std::string Path(int index) const;
  std::size_t NameCount() const;
};

Snapshot TakeSnapshot(const CNameServer& server);

}  // namespace nametree::cli
