// The IEC 61131-3 identifier rule. Its letters are ASCII only, unlike the
// classic rule's, so no locale service takes part: the verdict is the same
// on every platform.
#include "nametree/identifier_profile.h"

#include <array>

namespace nametree {

namespace {

using namespace std::string_view_literals;
constexpr std::array kProfileNames = {"classic"sv, "iec61131-3"sv};

bool IsAsciiLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }
bool IsAsciiDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

bool Broken(CNameRuleViolation* why, CNameRuleViolation::Rule rule, std::size_t at, char16_t unit) {
  if (why) *why = {rule, static_cast<int>(at), unit};
  return true;
}

}  // namespace

std::string_view NameProfileName(NameProfile profile) {
  return kProfileNames[profile == NameProfile::kIec61131_3 ? 1 : 0];
}

std::optional<NameProfile> NameProfileNamed(std::string_view name) {
  if (name == kProfileNames[0]) return NameProfile::kClassic;
  if (name == kProfileNames[1]) return NameProfile::kIec61131_3;
  return std::nullopt;
}

std::span<const std::string_view> NameProfileNames() { return kProfileNames; }

bool ExplainIecIdentifier(std::u16string_view name, CNameRuleViolation* why) {
  using Rule = CNameRuleViolation::Rule;
  if (why) *why = {};
  if (name.empty()) return Broken(why, Rule::kEmpty, 0, 0);
  if (name.size() > static_cast<std::size_t>(kMaxNameLength))
    return Broken(why, Rule::kTooLong, kMaxNameLength, name[kMaxNameLength]);
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char16_t c = name[i];
    // mutate: iec-any-script
    if (IsAsciiLetter(c)) continue;
    if (c == u'_') {
      // mutate: iec-double-underscore
      if (i > 0 && name[i - 1] == u'_') return Broken(why, Rule::kDoubleUnderscore, i, c);
      continue;
    }
    // mutate: iec-digit-first
    if (IsAsciiDigit(c) && i > 0) continue;
    // Letters of other scripts pass the classic rule; say why they do not pass here.
    return Broken(why, c >= 0x80 ? Rule::kNotAscii : i == 0 ? Rule::kFirstCharacter : Rule::kCharacter, i, c);
  }
  // mutate: iec-trailing-underscore
  if (name.back() == u'_') return Broken(why, Rule::kTrailingUnderscore, name.size() - 1, u'_');
  return false;
}

bool ExplainProfileViolation(const CNameServer& server, NameProfile profile, const CString& name,
                             CNameRuleViolation* why) {
  if (profile == NameProfile::kIec61131_3) return ExplainIecIdentifier(name, why);
  return server.ExplainInvalidName(name, kOrdinaryName, why);
}

std::uint32_t NameKindOf(NameProfile profile) {
  return profile == NameProfile::kIec61131_3 ? kAllowLeadingUnderscore : kOrdinaryName;
}

}  // namespace nametree
