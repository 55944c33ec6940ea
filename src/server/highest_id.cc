#include <algorithm>

#include "nametree/name_server.h"
#include <new>

namespace nametree {

std::uint32_t CNameServer::GetHighestID() const {
  try {
    std::uint32_t highest = 0;
    for (const auto& c : m_TopLevelContainers) highest = std::max(highest, c->GetHighestID());
    return highest;
  } catch (const std::bad_alloc&) {
    return 0xFFFFFFFFu;
  }
}

}  // namespace nametree
