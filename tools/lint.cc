#include "lint.h"

#include <cstdio>

namespace nametree::cli {

namespace {

using Kind = DocumentFindingKind;

const Document* g_labels = nullptr;  // the document whose labels the findings show

CString LabelOf(std::uint32_t id) { return g_labels ? g_labels->Label16(id) : CString(); }

// A member only where the container has a label, so that documents without
// labels keep their JSON.
Json WithLabel(Json json, std::uint32_t container) {
  if (const CString label = LabelOf(container); !label.empty()) json["label"] = JsonText(label);
  return json;
}
Json NameJson(const DocumentFinding& f) {
  return WithLabel({{"container", f.containerID}, {"id", f.nameID}, {"name", JsonText(f.text)}}, f.containerID);
}
Json OtherJson(const DocumentFinding& f) {
  return WithLabel({{"container", f.otherContainerID}, {"path", PathText(f.otherPath)}, {"id", f.otherNameID},
                    {"name", JsonText(f.otherText)}},
                   f.otherContainerID);
}

std::string CodePoint(char32_t c) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "U+%04X", static_cast<unsigned>(c));
  return buf;
}

}  // namespace

Finding ShownFinding(const DocumentFinding& f) {
  Finding out{f.warning, std::string(DocumentFindingKindName(f.kind)), nametree::DescribeFinding(f, LabelOf),
              Json::object()};
  switch (f.kind) {
    case Kind::kCounter: out.json = {{"stored", f.storedID}, {"highest", f.highestID}}; break;
    case Kind::kRepeatedId: out.json = {{"id", f.storedID}}; break;
    case Kind::kLimit: break;
    case Kind::kHiddenCharacter:
      out.json = NameJson(f);
      out.json["character"] = CodePoint(f.character);
      out.json["position"] = f.index + 1;
      break;
    case Kind::kInvalid:
    case Kind::kKeyword: out.json = NameJson(f); break;
    case Kind::kTwice:
      out.json = NameJson(f);
      out.json["other"] = OtherJson(f);
      break;
    case Kind::kCollision:
    case Kind::kLookAlike:
      out.json = NameJson(f);
      out.json["namespace"] = std::string(DuplicateNamespace(f.where));
      out.json["other"] = OtherJson(f);
      break;
  }
  return out;
}

std::vector<Finding> LintDocument(const CNameServer& server, std::uint32_t stored, const Document* doc,
                                  NameProfile profile) {
  g_labels = doc;
  DocumentCheckOptions options;
  options.profile = profile;
  options.useStoredLastID = true;
  options.storedLastID = stored;
  std::vector<Finding> out;
  if (doc)
    for (const DocumentDamage& d : doc->Damage()) {
      Json json = Json::object();
      if (d.container) json["container"] = d.container;
      out.push_back({false, std::string(DocumentDamageName(d)), d.message, std::move(json)});
    }
  for (const DocumentFinding& f : CheckDocument(server, options)) out.push_back(ShownFinding(f));
  return out;
}

}  // namespace nametree::cli
