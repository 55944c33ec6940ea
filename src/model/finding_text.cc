// The sentences of the document check's findings: written here once, for
// the program, the modern face and the bindings alike.
#include <cstdio>

#include "nametree/document_check.h"
#include "nametree/refusal_text.h"

namespace nametree {

namespace {

using Kind = DocumentFindingKind;
using Where = CDuplicateHit::Where;

class Phrases {
 public:
  Phrases(const DocumentFinding& f, const ContainerLabelLookup& label) : f_(f), label_(label) {}

  std::string Place(std::uint32_t id, ContainerType type, const std::vector<std::uint32_t>& path) const {
    const CString label = label_ ? label_(id) : CString();
    return "container " + std::to_string(id) + " (" + ContainerTypeName(type) + ")" +
           // mutate: finding-label-dropped
           (label.empty() ? "" : " @" + DisplayText(label)) + " at " + ContainerPathText(path);
  }
  std::string Place() const { return Place(f_.containerID, f_.containerType, f_.path); }
  std::string OtherPlace() const { return Place(f_.otherContainerID, f_.otherContainerType, f_.otherPath); }
  static std::string Entry(const CString& text, std::uint32_t id) {
    return QuotedName(text) + " (ID " + std::to_string(id) + ")";
  }
  std::string Entry() const { return Entry(f_.text, f_.nameID); }
  std::string OtherEntry() const { return Entry(f_.otherText, f_.otherNameID); }

 private:
  const DocumentFinding& f_;
  const ContainerLabelLookup& label_;
};

std::string CodePoint(char32_t c) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "U+%04X", static_cast<unsigned>(c));
  return buf;
}

std::string LimitWords(const DocumentFinding& f, const Phrases& p) {
  const std::string count = std::to_string(f.count);
  const std::string more = ", more than a saved document holds (" + std::to_string(kMaxEntriesPerTable) + ")";
  switch (f.limit) {
    case DocumentLimit::kTopLevelContainers: return count + " top-level containers" + more;
    case DocumentLimit::kNames: return p.Place() + " holds " + count + " names" + more;
    default: return p.Place() + " holds " + count + " sub-containers" + more;
  }
}

}  // namespace

std::string ContainerPathText(const std::vector<std::uint32_t>& path) {
  std::string text;
  // A 0 stands for the levels a short path leaves out.
  for (std::uint32_t id : path) text += (text.empty() ? "" : "/") + (id ? std::to_string(id) : "...");
  return text;
}

std::string DescribeFinding(const DocumentFinding& f, const ContainerLabelLookup& label) {
  const Phrases p(f, label);
  const std::string space(DuplicateHitNamespace(f.where));
  switch (f.kind) {
    case Kind::kCounter:
      return "the stored last issued ID " + std::to_string(f.storedID) + " is below ID " +
             std::to_string(f.highestID) +
             " in use: the next add would issue a held ID again ('nametree repair' raises it)";
    case Kind::kRepeatedId: {
      const std::string first =
          f.otherIsName ? "name " + QuotedName(f.otherText) + " in " + p.OtherPlace() : p.OtherPlace();
      const std::string second = f.isName ? "name " + QuotedName(f.text) + " in " + p.Place() : p.Place();
      return "ID " + std::to_string(f.storedID) + " is held twice: by " + first + " and by " + second;
    }
    case Kind::kLimit: return LimitWords(f, p);
    case Kind::kInvalid:
      return p.Place() + ": " + p.Entry() + " breaks the name rule: " +
             DescribeRuleViolation(f.text, f.violation, kOrdinaryName);
    case Kind::kHiddenCharacter:
      return p.Place() + ": " + p.Entry() + " holds " + CodePoint(f.character) + " at position " +
             std::to_string(f.index + 1) + ", a character that shows as nothing or reorders the text";
    case Kind::kTwice: return p.Place() + ": " + p.OtherEntry() + " and " + p.Entry() + " are one text held twice";
    case Kind::kKeyword: return p.Place() + ": " + p.Entry() + " is a keyword";
    case Kind::kCollision:
      return p.Place() + ": " + p.Entry() + " collides with the " + space + " namespace: " + p.OtherEntry() + " in " +
             p.OtherPlace();
    case Kind::kLookAlike:
      return p.Place() + ": " + p.Entry() + " looks like " + p.OtherEntry() +
             (f.where == Where::kOwnContainer ? " in the same container"
                                              : " of the " + space + " namespace in " + p.OtherPlace()) +
             " (" + (f.confusableSkeleton ? "the same confusable skeleton" : "the same text after NFC") + ")";
    case Kind::kDamage: return f.damage.message;
  }
  return p.Place() + ": " + p.Entry();
}

}  // namespace nametree
