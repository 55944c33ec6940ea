#include <algorithm>
#include <memory>
#include <vector>

#include "legacy_fixture.h"
#include "nametree/utf8.h"

namespace nametree::test {
namespace {

struct Node {
  std::uint32_t id = 0;
  std::int16_t type = 0;
  std::vector<std::pair<std::uint32_t, CString>> names;
  std::vector<std::unique_ptr<Node>> subs;
};

void Print(const Node& n, const std::string& indent, std::string& out) {
  out += indent + "#" + std::to_string(n.id) + " t" + std::to_string(n.type) + "\n";
  auto names = n.names;
  std::stable_sort(names.begin(), names.end(), [](auto& a, auto& b) { return a.first < b.first; });
  for (const auto& [id, text] : names) out += indent + "  " + std::to_string(id) + " " + ToUtf8(text) + "\n";
  std::vector<const Node*> subs;
  for (const auto& s : n.subs) subs.push_back(s.get());
  std::stable_sort(subs.begin(), subs.end(), [](auto* a, auto* b) { return a->id < b->id; });
  for (const Node* s : subs) Print(*s, indent + "  ", out);
}

}  // namespace

std::string TreeOf(const CNameServer& server) {
  std::vector<std::unique_ptr<Node>> tops;
  std::vector<Node*> open;  // the container being filled at each depth
  server.TraceDumpNameServer([&](const CString& indent, bool isContainer, std::uint32_t id, std::int16_t type,
                                 const CString& name) {
    const std::size_t depth = indent.size() / 2;
    if (!isContainer) {
      if (!open.empty()) open.back()->names.emplace_back(id, name);
      return;
    }
    auto node = std::make_unique<Node>();
    node->id = id;
    node->type = type;
    open.resize(std::min(open.size(), depth > 0 ? depth - 1 : 0));
    Node* raw = node.get();
    if (open.empty()) tops.push_back(std::move(node));
    else open.back()->subs.push_back(std::move(node));
    open.push_back(raw);
  });
  std::string out;
  for (const auto& t : tops) Print(*t, "", out);
  return out;
}

}  // namespace nametree::test
