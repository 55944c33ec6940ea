// The records of a document of the earlier format, collected while its
// sections are read and emptied when they are converted into containers.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "container/chained_table.h"
#include "nametree/name_server.h"

namespace nametree {

struct COldNameObject {
  CString name;
  std::uint32_t nameID = 0;
  std::uint32_t containerID = 0;  // receives the name if no converted bag lists it
};

struct COldNameBag {
  std::uint32_t bagID = 0;
  std::uint32_t parentID = 0;  // 0: the bag is not converted
  std::uint8_t flag = 0;
  std::vector<std::uint32_t> memberIDs;
};

struct COldBagContainer {
  std::uint32_t containerID = 0;
  std::uint32_t parentID = 0;
  std::int16_t type = 3;
};

struct COldSpecialBag {
  CString name;  // "Devices", "Protocols" or "Drivers"
  std::uint32_t bagID = 0;
  std::uint32_t parentID = 0;
};

using OldNameObjectTable = ChainedTable<std::uint32_t, std::unique_ptr<COldNameObject>, IdKeyHash>;

struct CLegacyModel {
  OldNameObjectTable m_OldNameObjects{kDefaultBuckets};
  std::vector<std::unique_ptr<COldNameBag>> m_OldNameBags;
  std::vector<std::unique_ptr<COldBagContainer>> m_OldBagContainers;
  std::vector<std::uint32_t> m_OldSubContainerIDs;
  std::vector<COldSpecialBag> m_SpecialBags;
  LegacyDropObserver m_DropObserver;  // a host's window on what the import leaves out

  void ReportDrop(CLegacyDrop::Record record, CLegacyDrop::Reason reason, std::uint32_t id,
                  std::uint32_t containerID, const CString& name = CString()) const {
    if (m_DropObserver) m_DropObserver(CLegacyDrop{record, reason, id, containerID, name});
  }
};

}  // namespace nametree
