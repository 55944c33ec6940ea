#include "lint.h"

#include <cstdio>

namespace nametree::cli {

namespace {

using Kind = DocumentFindingKind;

std::string CodePoint(char32_t c) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "U+%04X", static_cast<unsigned>(c));
  return buf;
}

}  // namespace

Json FindingParticulars(const DocumentFinding& f, const ContainerLabelLookup& label) {
  // A member only where the container has a label, so that documents without
  // labels keep their JSON.
  auto withLabel = [&label](Json json, std::uint32_t container) {
    // mutate: lint-json-without-labels
    if (const CString l = label ? label(container) : CString(); !l.empty()) json["label"] = JsonText(l);
    return json;
  };
  auto name = [&] {
    return withLabel({{"container", f.containerID}, {"id", f.nameID}, {"name", JsonText(f.text)}}, f.containerID);
  };
  auto other = [&] {
    return withLabel({{"container", f.otherContainerID}, {"path", PathText(f.otherPath)}, {"id", f.otherNameID},
                      {"name", JsonText(f.otherText)}},
                     f.otherContainerID);
  };
  Json out = Json::object();
  switch (f.kind) {
    case Kind::kCounter: out.update(Json{{"stored", f.storedID}, {"highest", f.highestID}}); break;
    case Kind::kRepeatedId: out["id"] = f.storedID; break;
    case Kind::kLimit: break;
    case Kind::kDamage:
      if (f.containerID) out["container"] = f.containerID;
      break;
    case Kind::kHiddenCharacter:
      out.update(name());
      out["character"] = CodePoint(f.character);
      out["position"] = f.index + 1;
      break;
    case Kind::kInvalid:
    case Kind::kKeyword: out.update(name()); break;
    case Kind::kTwice:
      out.update(name());
      out["other"] = other();
      break;
    case Kind::kCollision:
    case Kind::kLookAlike:
      out.update(name());
      out["namespace"] = std::string(DuplicateNamespace(f.where));
      out["other"] = other();
      break;
  }
  return out;
}

Json FindingJson(const DocumentFinding& f, const ContainerLabelLookup& label) {
  Json out = {{"severity", f.warning ? "warning" : "error"},
              {"check", std::string(FindingName(f))},
              {"message", DescribeFinding(f, label)}};
  out.update(FindingParticulars(f, label));
  return out;
}

}  // namespace nametree::cli
