#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <random>
#include <set>

#include "nametree/document.h"

namespace nametree {
namespace {

std::string Upper(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return s;
}

// Labels against a map of what each living container was given: one holder
// per label, letter case ignored, and a deleted container's label frees its
// text while it is still kept.
TEST(Labels, AgreeWithAMapThroughSetsClearsAndDeletes) {
  Document doc = Document::InMemory();
  const std::uint32_t top = *doc.AddContainer(0, ContainerType::kGlobal);
  std::vector<std::uint32_t> ids;
  for (int i = 0; i < 40; ++i) ids.push_back(*doc.AddContainer(top));
  std::set<std::uint32_t> alive(ids.begin(), ids.end());
  std::map<std::uint32_t, std::string> given;
  const std::vector<std::string> texts = {"Pump", "PUMP", "pump", "Fan", "fAN", "Valve", "Mixer", ""};
  auto holder = [&](const std::string& text) -> std::uint32_t {
    for (const auto& [id, label] : given)
      if (alive.count(id) && Upper(label) == Upper(text)) return id;
    return 0;
  };
  std::mt19937 rng(20261209);
  for (int step = 0; step < 4000; ++step) {
    const std::uint32_t id = ids[rng() % ids.size()];
    const std::string& text = texts[rng() % texts.size()];
    SCOPED_TRACE("step " + std::to_string(step) + ": container " + std::to_string(id) + " \"" + text + "\"");
    switch (rng() % 8) {
      case 0:
        if (alive.erase(id)) {
          ASSERT_TRUE(doc.DeleteContainer(id));
        }
        break;
      case 1: case 2: case 3: {
        const Result<void> set = doc.SetLabel(id, text);
        const std::uint32_t other = text.empty() ? 0 : holder(text);
        if (!alive.count(id)) {
          EXPECT_EQ(set.error().kind(), ErrorKind::kNotFound);
        } else if (other && other != id) {
          EXPECT_EQ(set.error().kind(), ErrorKind::kDuplicate);
        } else {
          ASSERT_TRUE(set) << set.error().message();
          if (text.empty()) given.erase(id);
          else given[id] = text;
        }
        break;
      }
      default: {
        const Result<std::uint32_t> found = doc.FindLabel(text.empty() ? "Pump" : text);
        const std::uint32_t expected = holder(text.empty() ? "Pump" : text);
        if (expected) EXPECT_EQ(found.value_or(0), expected);
        else EXPECT_EQ(found.error().kind(), ErrorKind::kNotFound);
        EXPECT_EQ(doc.Label(id), alive.count(id) && given.count(id) ? given[id] : "");
      }
    }
    ASSERT_EQ(doc.CheckInvariants(), "");
  }
}

}  // namespace
}  // namespace nametree
