// What text may be a name: the character and length rule, the cleaning of
// arbitrary text into name characters, and the keyword list.
#include <vector>

#include "nametree/name_server.h"
#include "platform/text.h"
#include <new>

namespace nametree {

namespace {

constexpr std::uint16_t kNameCharMask = C1_ALPHA | C1_DIGIT;

// The name rule, with the first place where a text breaks it; IsValidName
// and ExplainInvalidName both answer from here so their verdicts cannot part.
CNameRuleViolation CheckNameRule(std::u16string_view name, std::uint32_t kind) {
  using Rule = CNameRuleViolation::Rule;
  // mutate: length-rule-33
  constexpr std::size_t kMax = static_cast<std::size_t>(kMaxNameLength);
  if (name.empty()) return {Rule::kEmpty, 0, 0};
  if (name.size() > kMax) return {Rule::kTooLong, kMaxNameLength, name[kMax]};

  // Underscores classify as digits, so they pass wherever a digit may stand;
  // names are short, so the copy and its classes live on the stack.
  char16_t units[kMax];
  for (std::size_t i = 0; i < name.size(); ++i) units[i] = name[i] == u'_' ? u'0' : name[i];
  std::uint16_t classes[kMax + 1] = {};  // with the end marker
  ClassifyText(std::u16string_view(units, name.size()), classes);

  if (classes[0] == 0) return {};

  // One class word per code unit; the cursor steps one code unit at a time.
  // It ends at the text's length, so an embedded zero unit is classified
  // like any other character (a control, refused) rather than ending the text.
  std::size_t cursor = 0;
  for (std::size_t i = 0;;) {
    if (cursor == name.size()) return {};
    const std::uint16_t w = classes[i];
    if (i == 0) {
      // mutate: first-character-digit
      if (w & C1_ALPHA) {
        ++cursor;
      } else if (!(name[0] == u'_' && kind == kAllowLeadingUnderscore)) {
        return {Rule::kFirstCharacter, 0, name[0]};
      }
    } else {
      if (!(w & kNameCharMask)) return {Rule::kCharacter, static_cast<int>(i), name[i]};
      ++cursor;
    }
    ++i;
    // Scanning stops at the first unassigned code unit, accepting the rest.
    if (classes[i] == 0) return {};
  }
}

}  // namespace

bool CNameServer::IsValidName(CString name, std::uint32_t kind) const { return IsValidNameText(name, kind); }

bool CNameServer::IsValidNameText(std::u16string_view name, std::uint32_t kind) {
  return CheckNameRule(name, kind).rule == CNameRuleViolation::Rule::kNone;
}

bool CNameServer::IsValidName(const CString& name, std::uint32_t kind, CNameRefusal* why) const {
  if (why) *why = {};
  // mutate: invalid-outcome-without-rule
  if (!ExplainInvalidName(name, kind, why ? &why->rule : nullptr)) return true;
  if (why) why->reason = CNameRefusal::Reason::kInvalidName;
  return false;
}

bool CNameServer::ExplainInvalidName(const CString& name, std::uint32_t kind, CNameRuleViolation* why) const {
  const CNameRuleViolation found = CheckNameRule(name, kind);
  if (why) *why = found;
  return found.rule != CNameRuleViolation::Rule::kNone;
}

CString CNameServer::RemoveInvalidChars(CString text) const {
  std::vector<std::uint16_t> classes;
  ClassifyText(text, classes);
  CString out;
  bool dropped = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (classes[i] & kNameCharMask) {
      out.push_back(text[i]);
    } else {
      dropped = true;
    }
  }
  return dropped ? out : text;
}

HRESULT CNameServer::AddKeyword(CString keyword) {
  try {
    MakeUpper(keyword);
    if (!m_KeywordSet.insert(keyword).second) return S_FALSE;
    m_Keywords.push_back(std::move(keyword));
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

bool CNameServer::IsKeyword(CString text) const {
  try {
    MakeUpper(text);
    return m_KeywordSet.count(text) != 0;
  } catch (const std::bad_alloc&) {
    return true;
  }
}

}  // namespace nametree
