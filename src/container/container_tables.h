// The three tables of a container, as distinct types so that the public
// header can name them without exposing the table template.
#pragma once

#include <memory>

#include "container/chained_table.h"
#include "nametree/name_container.h"

namespace nametree {

inline constexpr std::uint32_t kSubContainerBuckets = 101;
inline constexpr std::uint32_t kNameBuckets = 13513;

class NameByIdTable : public ChainedTable<std::uint32_t, CString, IdKeyHash> {
  using ChainedTable::ChainedTable;
};

class IdByNameTable : public ChainedTable<CString, std::uint32_t, TextKeyHash> {
  using ChainedTable::ChainedTable;
};

class SubContainerTable
    : public ChainedTable<std::uint32_t, std::unique_ptr<CNameContainer>, IdKeyHash> {
  using ChainedTable::ChainedTable;
};

}  // namespace nametree
