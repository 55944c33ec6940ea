// The labels of a document's containers, by ID and by text. Invariant: every
// (ID, label) held appears once under its label's upper-cased key, and a key
// lists its IDs in ascending order with no ID twice and no empty list; so a
// lookup by label costs the holders of that label, not every label held.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "document/settings_streams.h"

namespace nametree::document {

class LabelTable {
 public:
  const LabelMap& ById() const { return byId_; }
  const CString* Find(std::uint32_t id) const;
  // The IDs holding the label, letter case ignored, in ascending order.
  std::span<const std::uint32_t> Holders(std::u16string_view label) const;

  void Assign(LabelMap labels);
  void Set(std::uint32_t id, CString label);
  void Erase(std::uint32_t id);
  // Drops every label whose ID keep() refuses.
  template <class Keep>
  void EraseUnless(Keep keep) {
    std::vector<std::uint32_t> gone;
    for (const auto& [id, text] : byId_)
      if (!keep(id)) gone.push_back(id);
    for (std::uint32_t id : gone) Erase(id);
  }

  // The first broken invariant, or an empty text.
  std::string CheckInvariants() const;

 private:
  LabelMap byId_;
  std::unordered_map<CString, std::vector<std::uint32_t>> byKey_;
};

}  // namespace nametree::document
