#include <algorithm>

#include "nametree/name_server.h"

namespace nametree {

std::uint32_t CNameServer::GetHighestID() const {
  std::uint32_t highest = 0;
  for (const auto& c : m_TopLevelContainers) highest = std::max(highest, c->GetHighestID());
  return highest;
}

}  // namespace nametree
