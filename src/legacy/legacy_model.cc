#include "legacy/legacy_model.h"

namespace nametree {

void CLegacyModelDeleter::operator()(CLegacyModel* model) const { delete model; }

CLegacyModel& CNameServer::Legacy() {
  if (!m_pLegacy) m_pLegacy.reset(new CLegacyModel);
  return *m_pLegacy;
}

void CNameServer::SetLegacyDropObserver(LegacyDropObserver observer) {
  Legacy().m_DropObserver = std::move(observer);
}

}  // namespace nametree
