// Turns the legacy records into containers and names that keep their
// legacy IDs. Whatever cannot be placed is dropped.
#include <memory>

#include "legacy/legacy_model.h"

namespace nametree {

HRESULT CNameServer::AddNameFromData(std::uint32_t nameID, std::uint32_t containerID, CString name,
                                     std::uint32_t value) {
  CNameContainer* container = GetContainer(containerID);
  if (!container) return E_FAIL;
  container->AddNameFromData(nameID, std::move(name), value);
  return S_OK;
}

HRESULT CNameServer::ConvertOldToNewNameServer() {
  if (!m_pLegacy) return S_OK;
  CLegacyModel& model = *m_pLegacy;
  using Record = CLegacyDrop::Record;
  using Reason = CLegacyDrop::Reason;

  // Last to first, so a pending container whose parent is also pending is
  // made only if that parent was read after it.
  while (!model.m_OldBagContainers.empty()) {
    const std::unique_ptr<COldBagContainer> pending = std::move(model.m_OldBagContainers.back());
    model.m_OldBagContainers.pop_back();
    if (Failed(AddContainerFromData(pending->containerID, pending->parentID, kTargetContainer)))
      model.ReportDrop(Record::kBagContainer, Reason::kParentMissing, pending->containerID, pending->parentID);
  }

  // Last to first as well: a name listed by several bags goes to the bag read last.
  while (!model.m_OldNameBags.empty()) {
    const std::unique_ptr<COldNameBag> bag = std::move(model.m_OldNameBags.back());
    model.m_OldNameBags.pop_back();
    if (bag->parentID == 0) {  // its names fall back to their own containers
      // mutate: drop-not-reported
      model.ReportDrop(Record::kNameBag, Reason::kNoParent, bag->bagID, 0);
      continue;
    }
    if (Failed(AddContainerFromData(bag->bagID, bag->parentID, kTargetContainer)))
      model.ReportDrop(Record::kNameBag, Reason::kParentMissing, bag->bagID, bag->parentID);
    for (std::uint32_t member : bag->memberIDs) {
      std::unique_ptr<COldNameObject> object;
      if (!model.m_OldNameObjects.RemoveKey(member, &object)) continue;
      if (Failed(AddNameFromData(object->nameID, bag->bagID, object->name, 0)))
        model.ReportDrop(Record::kNameObject, Reason::kContainerMissing, object->nameID, bag->bagID,
                         object->name);
    }
  }

  // The rest goes where each object says, in the table's walk order, which
  // decides which of two names equal but for case keeps the text key.
  model.m_OldNameObjects.Walk([this, &model](std::uint32_t, const std::unique_ptr<COldNameObject>& object) {
    if (object->containerID == 0)
      model.ReportDrop(Record::kNameObject, Reason::kNoContainer, object->nameID, 0, object->name);
    else if (Failed(AddNameFromData(object->nameID, object->containerID, object->name, 0)))
      model.ReportDrop(Record::kNameObject, Reason::kContainerMissing, object->nameID,
                       object->containerID, object->name);
    return true;
  });
  model.m_OldNameObjects.RemoveAll();
  return S_OK;
}

}  // namespace nametree
