// Writes the legacy stream of a document of the earlier format: a frame of
// counts around three sections (name objects, name bags, bag containers).
// Name objects are written as version 2, bags as version 2 (with the flag
// byte), bag containers as version 1; no skipped words or trailing bytes.
#pragma once

#include <cstdint>
#include <vector>

#include "nametree/types.h"

namespace nametree::cli {

class LegacyStreamWriter {
 public:
  void AddNameObject(const CString& name, std::uint32_t nameID, std::uint32_t containerID);
  void AddBag(const CString& name, std::uint32_t bagID, std::uint32_t parentID,
              const std::vector<std::uint32_t>& memberIDs);
  void AddBagContainer(const CString& name, std::uint32_t id, std::uint32_t parentID,
                       const std::vector<std::uint32_t>& subContainerIDs, std::uint32_t type);

  // The whole stream; lastIssuedID is where the reader's ID counter resumes.
  std::vector<std::uint8_t> Finish(std::uint32_t lastIssuedID) const;

 private:
  struct Section {
    std::uint32_t count = 0;
    std::vector<std::uint8_t> bytes;
  };
  Section objects_, bags_, containers_;
};

}  // namespace nametree::cli
