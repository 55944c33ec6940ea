// Creates a document with names in three scripts, commits it, opens it
// again and prints every container with its names; a refused name shows
// the error a host gets.
#include <cstdio>

#include "nametree/document.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: document_host NEW-FILE\n");
    return 2;
  }
  {
    auto doc = nametree::Document::Open(argv[1], {.create = true});
    if (!doc) {
      std::fprintf(stderr, "%s\n", doc.error().message().c_str());
      return 1;
    }
    const auto plant = doc->AddContainer(0, nametree::ContainerType::kGlobal);
    if (!plant) return 1;
    for (const char* name : {"Straße", "Насос", "名前"}) {
      if (auto id = doc->Add(*plant, name); !id) {
        std::fprintf(stderr, "%s\n", id.error().message().c_str());
        return 1;
      }
    }
    if (auto twice = doc->Add(*plant, "насос"); !twice)
      std::printf("%s: %s\n", std::string(twice.error().code()).c_str(), twice.error().message().c_str());
    if (auto done = doc->Commit(); !done) {
      std::fprintf(stderr, "%s\n", done.error().message().c_str());
      return 1;
    }
  }
  auto doc = nametree::Document::Open(argv[1], {.readOnly = true});
  if (!doc) return 1;
  int names = 0;
  for (const nametree::ContainerRef c : doc->Containers()) {
    std::printf("container %u (type %d)\n", c.Id(), nametree::ContainerTypeNumber(c.Type()));
    for (const nametree::NameRef n : c.Names()) {
      std::printf("  %u %s\n", n.Id(), n.TextUtf8().c_str());
      ++names;
    }
  }
  const auto found = doc->Find("STRAßE");  // letter case is ignored
  return names == 3 && found && found->size() == 1 ? 0 : 1;
}
