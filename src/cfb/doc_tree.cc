#include "cfb/doc_tree.h"

#include <algorithm>

#include "nametree/utf8.h"

namespace nametree::cfb {

bool DocNode::Damaged(const CString& entry) const {
  return std::any_of(unreadable.begin(), unreadable.end(), [&](const Unreadable& u) { return u.name == entry; });
}

Status CheckNode(const FileLayout* layout, DocNode& storage, std::size_t index, const std::string& path,
                 bool corruptIsFatal, std::vector<std::string>* warnings, bool* removed) {
  *removed = false;
  DocNode& c = *storage.children[index];
  if (c.storage || c.data || c.checked || !layout) return Status();
  const std::string what = "stream \"" + ToUtf8(c.name) + "\"";
  std::uint64_t held = 0;
  const Status check = CheckChain(*layout, c.place, what, &held);
  if (check.ok()) {
    c.checked = true;
    return Status();
  }
  std::string why = check.message();
  // A size beyond the whole file is the damage; the chain only tells how much survives.
  const bool oversized = c.place.size > layout->source->Size();
  if (oversized)
    why = what + " claims " + std::to_string(c.place.size) + " bytes, more than the whole file (" +
          std::to_string(layout->source->Size()) + "); " + why;
  if (check.code() == Status::Code::kCorrupt && corruptIsFatal && !oversized) return check;
  // mutate: short-chain-not-recovered
  const bool recovered = check.code() == Status::Code::kShortChain;
  if (recovered) why += "; the " + std::to_string(held) + " bytes it holds are read";
  if (warnings) warnings->push_back(path + ToUtf8(c.name) + ": " + why);
  storage.unreadable.push_back({c.name, why});
  if (recovered) {
    c.place.size = held;
    c.checked = true;
    return Status();
  }
  storage.children.erase(storage.children.begin() + static_cast<std::ptrdiff_t>(index));
  *removed = true;
  return Status();
}

Status CheckChains(const FileLayout* layout, DocNode& storage, const std::string& path, bool corruptIsFatal,
                   std::vector<std::string>* warnings) {
  for (std::size_t i = 0; i < storage.children.size();) {
    bool removed = false;
    if (Status s = CheckNode(layout, storage, i, path, corruptIsFatal, warnings, &removed); !s.ok()) return s;
    if (!removed) ++i;
  }
  // Storages after streams: the order chains are claimed in decides which
  // of two sharing entries is reported.
  for (const auto& c : storage.children) {
    if (!c->storage) continue;
    if (Status s = CheckChains(layout, *c, path + ToUtf8(c->name) + "/", corruptIsFatal, warnings); !s.ok())
      return s;
  }
  return Status();
}

bool AnyDamage(const DocNode& storage) {
  if (!storage.unreadable.empty()) return true;
  return std::any_of(storage.children.begin(), storage.children.end(),
                     [](const auto& c) { return c->storage && AnyDamage(*c); });
}

void ForgetDamage(DocNode& storage) {
  storage.unreadable.clear();
  for (const auto& c : storage.children)
    if (c->storage) ForgetDamage(*c);
}

}  // namespace nametree::cfb
