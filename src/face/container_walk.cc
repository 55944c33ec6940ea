// The walk behind Document::Containers(): top-level containers in list
// order, each before its sub-containers, those in their table's walk order.
// The cursor keeps one list of IDs per level it is inside.
#include <vector>

#include "nametree/document.h"
#include "nametree/utf8.h"

namespace nametree {

class ContainerRange::Cursor {
 public:
  explicit Cursor(const CNameServer* server) : server_(server) {
    levels_.push_back({server->GetTopLevelContainerIDs(), 0});
    Settle();
  }
  bool AtEnd() const { return levels_.empty(); }
  ContainerView Current() const {
    return ContainerView(server_, current_, static_cast<int>(levels_.size()) - 1);
  }
  void Advance() {
    std::vector<std::uint32_t> children(static_cast<std::size_t>(current_->GetNumSubContainers()));
    current_->GetSubContainerIDs(children.data());
    ++levels_.back().next;
    levels_.push_back({std::move(children), 0});
    Settle();
  }

 private:
  struct Level {
    std::vector<std::uint32_t> ids;
    std::size_t next;
  };
  // Moves to the next container at or after the cursor, leaving exhausted levels.
  void Settle() {
    while (!levels_.empty()) {
      Level& level = levels_.back();
      if (level.next < level.ids.size()) {
        current_ = server_->GetContainer(level.ids[level.next]);
        if (current_) return;
        ++level.next;
        continue;
      }
      levels_.pop_back();
    }
    current_ = nullptr;
  }

  const CNameServer* server_;
  std::vector<Level> levels_;
  const CNameContainer* current_ = nullptr;
};

ContainerView ContainerRange::iterator::operator*() const { return cursor_->Current(); }

ContainerRange::iterator& ContainerRange::iterator::operator++() {
  cursor_->Advance();
  return *this;
}

bool ContainerRange::iterator::AtEnd() const { return !cursor_ || cursor_->AtEnd(); }

ContainerRange::iterator ContainerRange::begin() const { return iterator(std::make_shared<Cursor>(server_)); }

std::string NameView::Text() const { return ToUtf8(text_); }

std::uint32_t ContainerView::Id() const { return container_->GetID(); }
ContainerType ContainerView::Type() const { return static_cast<ContainerType>(container_->GetContainerType()); }
std::uint32_t ContainerView::Parent() const { return container_->GetParentID(); }

std::vector<NameView> ContainerView::Names() const {
  const auto count = static_cast<std::size_t>(container_->GetNumNames());
  std::vector<CString> texts(count);
  std::vector<std::uint32_t> ids(count);
  container_->GetAllNameAndIDsInContainer(texts.data(), ids.data());
  std::vector<NameView> names;
  names.reserve(count);
  for (std::size_t i = 0; i < count; ++i) names.emplace_back(ids[i], std::move(texts[i]));
  return names;
}

}  // namespace nametree
