#include "document/label_table.h"

#include <algorithm>

#include "platform/text.h"

namespace nametree::document {

namespace {

CString Key(std::u16string_view label) {
  CString key(label);
  MakeUpper(key);
  return key;
}

}  // namespace

const CString* LabelTable::Find(std::uint32_t id) const {
  auto it = byId_.find(id);
  return it == byId_.end() ? nullptr : &it->second;
}

std::span<const std::uint32_t> LabelTable::Holders(std::u16string_view label) const {
  // mutate: label-lookup-case-sensitive
  auto it = byKey_.find(Key(label));
  if (it == byKey_.end()) return {};
  return it->second;
}

void LabelTable::Assign(LabelMap labels) {
  byId_.clear();
  byKey_.clear();
  // Ascending IDs keep every key's list sorted without a search.
  for (auto& [id, text] : labels) byKey_[Key(text)].push_back(id);
  byId_ = std::move(labels);
}

// mutate: label-set-keeps-old-key
void LabelTable::Set(std::uint32_t id, CString label) {
  Erase(id);
  std::vector<std::uint32_t>& ids = byKey_[Key(label)];
  ids.insert(std::lower_bound(ids.begin(), ids.end(), id), id);
  byId_.emplace(id, std::move(label));
}

void LabelTable::Erase(std::uint32_t id) {
  auto it = byId_.find(id);
  if (it == byId_.end()) return;
  auto key = byKey_.find(Key(it->second));
  std::vector<std::uint32_t>& ids = key->second;
  ids.erase(std::lower_bound(ids.begin(), ids.end(), id));
  if (ids.empty()) byKey_.erase(key);
  byId_.erase(it);
}

std::string LabelTable::CheckInvariants() const {
  std::size_t listed = 0;
  for (const auto& [key, ids] : byKey_) {
    if (ids.empty()) return "an empty label key is kept";
    if (!std::is_sorted(ids.begin(), ids.end()) || std::adjacent_find(ids.begin(), ids.end()) != ids.end())
      return "a label key lists its IDs out of order or twice";
    for (std::uint32_t id : ids) {
      const CString* label = Find(id);
      if (!label || Key(*label) != key) return "label key lists container " + std::to_string(id) + ", which does not hold it";
    }
    listed += ids.size();
  }
  if (listed != byId_.size()) return "a label is missing from the keys";
  return {};
}

}  // namespace nametree::document
