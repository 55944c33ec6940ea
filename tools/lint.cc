#include "lint.h"

#include <cstdio>

namespace nametree::cli {

namespace {

using Kind = DocumentFindingKind;
using Where = CDuplicateHit::Where;

const DocumentFile* g_labels = nullptr;  // the document whose labels the findings show

const CString* LabelOf(std::uint32_t id) { return g_labels ? g_labels->LabelOf(id) : nullptr; }

std::string Place(std::uint32_t id, std::int16_t type, const std::vector<std::uint32_t>& path) {
  const CString* label = LabelOf(id);
  return "container " + std::to_string(id) + " (" + ContainerTypeName(type) + ")" + (label ? " @" + Display(*label) : "") +
         " at " + PathText(path);
}
std::string Place(const DocumentFinding& f) { return Place(f.containerID, f.containerType, f.path); }
std::string OtherPlace(const DocumentFinding& f) { return Place(f.otherContainerID, f.otherContainerType, f.otherPath); }
std::string Entry(const CString& text, std::uint32_t id) { return Quoted(text) + " (ID " + std::to_string(id) + ")"; }
std::string Entry(const DocumentFinding& f) { return Entry(f.text, f.nameID); }
std::string OtherEntry(const DocumentFinding& f) { return Entry(f.otherText, f.otherNameID); }

// A member only where the container has a label, so that documents without
// labels keep their JSON.
Json WithLabel(Json json, std::uint32_t container) {
  if (const CString* label = LabelOf(container)) json["label"] = JsonText(*label);
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

const char* NamespaceWord(Where where) {
  switch (where) {
    case Where::kGlobal: return "global";
    case Where::kTarget: return "target";
    case Where::kOwnTree: return "own-tree";
    case Where::kOwnContainer: return "own-container";
    default: return "unknown";
  }
}

std::string CodePoint(char32_t c) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "U+%04X", static_cast<unsigned>(c));
  return buf;
}

std::string LimitWords(const DocumentFinding& f) {
  const std::string count = std::to_string(f.count);
  const std::string more = ", more than a saved document holds (" + std::to_string(kMaxEntriesPerTable) + ")";
  switch (f.limit) {
    case DocumentLimit::kTopLevelContainers: return count + " top-level containers" + more;
    case DocumentLimit::kNames: return Place(f) + " holds " + count + " names" + more;
    default: return Place(f) + " holds " + count + " sub-containers" + more;
  }
}

}  // namespace

Finding DescribeFinding(const DocumentFinding& f) {
  Finding out{f.warning, std::string(DocumentFindingKindName(f.kind)), {}, Json::object()};
  const std::string what = f.confusableSkeleton ? "the same confusable skeleton" : "the same text after NFC";
  switch (f.kind) {
    case Kind::kCounter:
      out.message = "the stored last issued ID " + std::to_string(f.storedID) + " is below ID " +
                    std::to_string(f.highestID) +
                    " in use: the next add would issue a held ID again ('nametree repair' raises it)";
      out.json = {{"stored", f.storedID}, {"highest", f.highestID}};
      break;
    case Kind::kRepeatedId: {
      const std::string first = f.otherIsName ? "name " + Quoted(f.otherText) + " in " + OtherPlace(f) : OtherPlace(f);
      const std::string second = f.isName ? "name " + Quoted(f.text) + " in " + Place(f) : Place(f);
      out.message = "ID " + std::to_string(f.storedID) + " is held twice: by " + first + " and by " + second;
      out.json = {{"id", f.storedID}};
      break;
    }
    case Kind::kLimit:
      out.message = LimitWords(f);
      break;
    case Kind::kInvalid:
      out.message = Place(f) + ": " + Entry(f) + " breaks the name rule: " +
                    DescribeRuleViolation(f.text, kOrdinaryName, f.violation);
      out.json = NameJson(f);
      break;
    case Kind::kHiddenCharacter:
      out.message = Place(f) + ": " + Entry(f) + " holds " + CodePoint(f.character) + " at position " +
                    std::to_string(f.index + 1) + ", a character that shows as nothing or reorders the text";
      out.json = NameJson(f);
      out.json["character"] = CodePoint(f.character);
      out.json["position"] = f.index + 1;
      break;
    case Kind::kTwice:
      out.message = Place(f) + ": " + OtherEntry(f) + " and " + Entry(f) + " are one text held twice";
      out.json = NameJson(f);
      out.json["other"] = OtherJson(f);
      break;
    case Kind::kKeyword:
      out.message = Place(f) + ": " + Entry(f) + " is a keyword";
      out.json = NameJson(f);
      break;
    case Kind::kCollision:
      out.message = Place(f) + ": " + Entry(f) + " collides with the " + NamespaceWord(f.where) + " namespace: " +
                    OtherEntry(f) + " in " + OtherPlace(f);
      out.json = NameJson(f);
      out.json["namespace"] = NamespaceWord(f.where);
      out.json["other"] = OtherJson(f);
      break;
    case Kind::kLookAlike:
      out.message = Place(f) + ": " + Entry(f) + " looks like " + OtherEntry(f) +
                    (f.where == Where::kOwnContainer
                         ? " in the same container"
                         : " of the " + std::string(NamespaceWord(f.where)) + " namespace in " + OtherPlace(f)) +
                    " (" + what + ")";
      out.json = NameJson(f);
      out.json["namespace"] = NamespaceWord(f.where);
      out.json["other"] = OtherJson(f);
      break;
  }
  return out;
}


std::string PathText(const std::vector<std::uint32_t>& path) {
  std::string text;
  for (std::uint32_t id : path) text += (text.empty() ? "" : "/") + std::to_string(id);
  return text;
}

std::vector<Finding> LintDocument(const CNameServer& server, std::uint32_t stored, const DocumentFile* file,
                                  NameProfile profile) {
  g_labels = file;
  DocumentCheckOptions options;
  options.profile = profile;
  options.useStoredLastID = true;
  options.storedLastID = stored;
  std::vector<Finding> out;
  if (file)
    for (const DocumentDamage& d : file->Damage()) {
      Json json = Json::object();
      if (d.container) json["container"] = d.container;
      out.push_back({false, std::string(DocumentDamageName(d)), d.message, std::move(json)});
    }
  for (const DocumentFinding& f : CheckDocument(server, options)) out.push_back(DescribeFinding(f));
  return out;
}

}  // namespace nametree::cli
