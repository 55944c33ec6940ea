#include "legacy/legacy_model.h"

namespace nametree {

void CLegacyModelDeleter::operator()(CLegacyModel* model) const { delete model; }

CLegacyModel& CNameServer::Legacy() {
  if (!m_pLegacy) m_pLegacy.reset(new CLegacyModel);
  return *m_pLegacy;
}

}  // namespace nametree
