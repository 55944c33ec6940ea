#include "container/counter_index.h"
#include "nametree/name_container.h"

namespace nametree {

int CNameContainer::GetNextObjectCount(const CString& baseName) {
  if (m_nObjectIndex != -1 && m_nObjectIndex >= static_cast<std::int32_t>(m_ObjectCounters.size()))
    m_nObjectIndex = -1;
  if (m_nObjectIndex == -1) {
    // An empty base name is never looked up: it always gets a counter of its own.
    if (!baseName.empty()) {
      if (!m_pCounterIndex && m_ObjectCounters.size() > CounterIndex::kScanLimit)
        m_pCounterIndex = std::make_unique<CounterIndex>();
      if (m_pCounterIndex) {
        m_nObjectIndex = m_pCounterIndex->Find(m_ObjectCounters, baseName);
      } else {
        for (std::size_t i = 0; i < m_ObjectCounters.size() && m_nObjectIndex == -1; ++i)
          if (m_ObjectCounters[i].baseName == baseName) m_nObjectIndex = static_cast<std::int32_t>(i);
      }
    }
    if (m_nObjectIndex == -1) {
      m_ObjectCounters.push_back({baseName, 0});
      m_nObjectIndex = static_cast<std::int32_t>(m_ObjectCounters.size() - 1);
    }
  }
  return ++m_ObjectCounters[static_cast<std::size_t>(m_nObjectIndex)].count;
}

}  // namespace nametree
