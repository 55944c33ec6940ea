// The diagnostic walk of the tree. Without a sink each step goes nowhere;
// a tool that wants to show the walk passes one.
#include "container/container_tables.h"
#include "container/subtree_walk.h"
#include "nametree/name_container.h"
#include "nametree/name_server.h"

namespace nametree {
namespace {
const CString kIndentStep = u"  ";
}  // namespace

void CNameContainer::TraceDumpContainer(CString indent) const { TraceDumpContainer(std::move(indent), nullptr); }

void CNameContainer::TraceDumpContainer(CString indent, const TraceSink& sink) const {
  if (!sink) return;  // the walk writes nothing of its own
  // One indent string grows and shrinks with the depth, so a deep tree
  // costs no copy of its indent per container.
  const std::size_t base = indent.size();
  try {
    SubtreeWalk::Run(*this, [&](const CNameContainer& c, std::size_t depth) {
      const std::size_t want = base + depth * kIndentStep.size();
      // mutate: trace-indent-only-grows
      while (indent.size() > want) indent.resize(indent.size() - kIndentStep.size());
      while (indent.size() < want) indent += kIndentStep;
      sink(indent, true, c.m_ID, c.m_Type, CString());
      TablesOf(c).Names().Walk([&](std::uint32_t id, std::u16string_view text) {
        sink(indent, false, id, c.m_Type, CString(text));
        return true;
      });
      return WalkStep::kDescend;
    });
  } catch (const std::bad_alloc&) {
    // A diagnostic walk that cannot go on just ends.
  }
}

void CNameServer::TraceDumpNameServer() const { TraceDumpNameServer(nullptr); }

void CNameServer::TraceDumpNameServer(const TraceSink& sink) const {
  for (const auto& c : m_TopLevelContainers) c->TraceDumpContainer(kIndentStep, sink);
}

}  // namespace nametree
