// The elements whose content the PLCopen import passes over unread.
//
// Invariant: nothing the import or the naming rules read lies below one of
// them. They read declarations (data types and their members, POUs, their
// variables, actions, transitions and methods, configurations, resources,
// tasks, POU instances, global lists) wherever they stand, vendor data
// (addData) among them included; of a variable its type, address and
// section; of a data type its base kind; of a POU its pouType. In the TC6
// schema the code of a body (IL, ST, FBD, LD, SFC) holds only references,
// formal parameters and graphics, documentation is XHTML, and an initial
// value is a value: a walk that does not enter them meets the same names at
// the same places, and a project's graphics, most of its elements, cost
// nothing. A kind is matched by its local name, as the import matches all.
#pragma once

#include <algorithm>
#include <iterator>
#include <string_view>

namespace nametree::plcopen {

inline bool ContentUnread(std::string_view kind) {
  // mutate: plcopen-unread-type
  static constexpr std::string_view kUnread[] = {"IL", "ST", "FBD", "LD", "SFC", "documentation", "initialValue"};
  return std::find(std::begin(kUnread), std::end(kUnread), kind) != std::end(kUnread);
}

}  // namespace nametree::plcopen
