#include <cstdio>
#include <filesystem>

#include "nametree/document.h"

int main(int argc, char** argv) {
  const std::filesystem::path path = argc > 1 ? argv[1] : "plant.ntd";
  auto doc = nametree::Document::Open(path, {.create = !std::filesystem::exists(path)});
  if (!doc) return std::fprintf(stderr, "%s\n", doc.error().message().c_str()), 1;
  std::uint32_t plant = doc->FindLabel("Plant").value_or(0);  // a container by its label
  if (!plant) {
    plant = doc->AddContainer(0, nametree::ContainerType::kGlobal).value_or(0);
    if (!doc->SetLabel(plant, "Plant")) return 1;
  }
  for (const char* name : {"Pump", "Valve", "PUMP"}) {
    auto id = doc->Add(plant, name);
    if (!id && id.error().kind() != nametree::ErrorKind::kDuplicate) return 1;  // taken is fine here
    std::printf("%s: %s\n", name, id ? "added" : id.error().message().c_str());
  }
  if (auto valve = doc->Find("valve"); valve && !valve->empty())  // letter case is ignored
    if (auto renamed = doc->Rename(valve->front().id, "FeedValve"); !renamed)
      std::printf("%s\n", renamed.error().message().c_str());
  for (const nametree::ContainerRef c : doc->Containers())
    for (const nametree::NameRef n : c.Names())
      std::printf("@%s %u %s\n", doc->Label(c.Id()).c_str(), n.Id(), n.TextUtf8().c_str());
  if (auto done = doc->Commit(); !done) return std::fprintf(stderr, "%s\n", done.error().message().c_str()), 1;
}
