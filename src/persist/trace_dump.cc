// The diagnostic walk of the tree. Without a sink each step goes nowhere;
// a tool that wants to show the walk passes one.
#include "container/container_tables.h"
#include "nametree/name_container.h"
#include "nametree/name_server.h"

namespace nametree {
namespace {
const CString kIndentStep = u"  ";
}  // namespace

void CNameContainer::TraceDumpContainer(CString indent) const { TraceDumpContainer(std::move(indent), nullptr); }

void CNameContainer::TraceDumpContainer(CString indent, const TraceSink& sink) const {
  if (sink) sink(indent, true, m_ID, m_Type, CString());
  m_NamesByID->Walk([&](std::uint32_t id, const CString& text) {
    if (sink) sink(indent, false, id, m_Type, text);
    return true;
  });
  const CString deeper = indent + kIndentStep;
  m_SubContainers->Walk([&](std::uint32_t, const std::unique_ptr<CNameContainer>& child) {
    child->TraceDumpContainer(deeper, sink);
    return true;
  });
}

void CNameServer::TraceDumpNameServer() const { TraceDumpNameServer(nullptr); }

void CNameServer::TraceDumpNameServer(const TraceSink& sink) const {
  for (const auto& c : m_TopLevelContainers) c->TraceDumpContainer(kIndentStep, sink);
}

}  // namespace nametree
