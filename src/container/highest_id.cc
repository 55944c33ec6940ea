// The highest ID a subtree holds, for hosts that keep several documents open
// and must keep the shared counter above every ID in use. Keys and stored
// values are both read because a loaded document may let them differ.
#include <algorithm>
#include <vector>

#include "container/container_tables.h"
#include "nametree/name_container.h"

namespace nametree {

int CNameContainer::GetNumNameIDs() const { return static_cast<int>(m_Tables->Names().size()); }

std::uint32_t CNameContainer::GetHighestID() const {
  std::uint32_t highest = 0;
  // A loaded tree may be deeper than the stack allows to recurse.
  std::vector<const CNameContainer*> pending{this};
  while (!pending.empty()) {
    const CNameContainer* c = pending.back();
    pending.pop_back();
    highest = std::max(highest, c->m_ID);
    TablesOf(*c).Names().Walk([&](std::uint32_t id, std::u16string_view) {
      highest = std::max(highest, id);
      return true;
    });
    TablesOf(*c).Keys().Walk([&](std::u16string_view, std::uint32_t id) {
      highest = std::max(highest, id);
      return true;
    });
    TablesOf(*c).Children().Walk([&](std::uint32_t id, const std::unique_ptr<CNameContainer>& child) {
      highest = std::max(highest, id);
      pending.push_back(child.get());
      return true;
    });
  }
  return highest;
}

}  // namespace nametree
