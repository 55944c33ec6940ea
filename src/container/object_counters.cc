#include "container/object_counters.h"

#include "container/container_tables.h"
#include "nametree/name_container.h"

namespace nametree {

int CNameContainer::GetNextObjectCount(const CString& baseName) {
  // mutate: counters-block-remade
  if (!m_pCounters) m_pCounters = std::make_unique<ObjectCounters>();
  std::vector<CObjectCounter>& counters = m_pCounters->counters;
  std::unique_ptr<CounterIndex>& index = m_pCounters->index;
  if (m_nObjectIndex != -1 && m_nObjectIndex >= static_cast<std::int32_t>(counters.size()))
    m_nObjectIndex = -1;
  if (m_nObjectIndex == -1) {
    // An empty base name is never looked up: it always gets a counter of its own.
    if (!baseName.empty()) {
      if (!index && counters.size() > CounterIndex::kScanLimit)
        index = std::make_unique<CounterIndex>();
      if (index) {
        m_nObjectIndex = index->Find(counters, baseName);
      } else {
        for (std::size_t i = 0; i < counters.size() && m_nObjectIndex == -1; ++i)
          if (counters[i].baseName == baseName) m_nObjectIndex = static_cast<std::int32_t>(i);
      }
    }
    if (m_nObjectIndex == -1) {
      counters.push_back({baseName, 0});
      m_nObjectIndex = static_cast<std::int32_t>(counters.size() - 1);
    }
  }
  // mutate: object-counter-post-increment
  return ++counters[static_cast<std::size_t>(m_nObjectIndex)].count;
}

std::string CheckCounters(const CNameContainer& c) {
  const ObjectCounters* block = ContainerAccess::CountersOf(c);
  const std::int32_t selected = ContainerAccess::SelectedCounterOf(c);
  const std::size_t n = block ? block->counters.size() : 0;
  if (selected < -1 || (selected >= 0 && static_cast<std::size_t>(selected) >= n)) return "counters: the selected counter is not one";
  if (!block || !block->index) return {};
  if (n <= CounterIndex::kScanLimit) return "counters: an index of few counters";
  if (block->index->Indexed() > n) return "counters: the index holds counters that are not";
  for (std::size_t i = 0; i < block->index->Indexed(); ++i) {
    const CString& name = block->counters[i].baseName;
    if (name.empty()) continue;
    std::size_t first = 0;
    while (block->counters[first].baseName != name) ++first;
    if (block->index->Peek(name) != static_cast<std::int32_t>(first))
      return "counters: the index does not find a base name's first counter";
  }
  return {};
}

}  // namespace nametree
