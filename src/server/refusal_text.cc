#include "nametree/refusal_text.h"

#include <cstdio>

#include "nametree/utf8.h"
#include "platform/text.h"

namespace nametree {

namespace {

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Calls f(codePoint, units) for each code point of the text, with the one or
// two UTF-16 units it came from; a lone surrogate is a code point of its own.
template <class F>
void ForEachCodePoint(std::u16string_view text, F f) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      f(0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00), text.substr(i, 2));
      ++i;
    } else {
      f(c, text.substr(i, 1));
    }
  }
}

}  // namespace

std::string DisplayText(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  ForEachCodePoint(text, [&](char32_t cp, std::u16string_view units) {
    char buffer[16];
    // Most text is plain ASCII: no property lookups, no conversion.
    if (cp >= 0x20 && cp < 0x7F && cp != u'\\') {
      out += static_cast<char>(cp);
    } else if (cp == u'\\') {
      out += "\\\\";
    // mutate: display-shows-hidden, display-surrogate-raw, export-lone-surrogate-replaced, lone-surrogate-not-escaped, display-control-raw
    } else if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0) || (cp >= 0xD800 && cp <= 0xDFFF) || IsHiddenCodePoint(cp)) {
      // One form for everything not shown, so that a reader needs one rule.
      std::snprintf(buffer, sizeof buffer, "\\u{%04X}", static_cast<unsigned>(cp));
      out += buffer;
    } else {
      out += ToUtf8(units);
    }
  });
  return out;
}

std::string QuotedName(std::u16string_view name) {
  // mutate: quoted-name-not-cut
  if (name.size() <= kEchoedUnits) return "\"" + DisplayText(name) + "\"";
  std::size_t cut = kEchoedUnits;
  if (IsLowSurrogate(name[cut]) && IsHighSurrogate(name[cut - 1])) --cut;  // not inside a character
  return "\"" + DisplayText(name.substr(0, cut)) + "\"... (" + std::to_string(name.size()) + " UTF-16 code units)";
}

std::string EchoedInput(std::string_view input) {
  // mutate: echo-uncut
  if (input.size() <= kEchoedBytes) return std::string(input);
  std::size_t cut = kEchoedBytes;
  while (cut > 0 && (static_cast<unsigned char>(input[cut]) & 0xC0) == 0x80) --cut;  // not inside a character
  return std::string(input.substr(0, cut)) + "... (" + std::to_string(input.size()) + " bytes)";
}

std::string DescribeRuleViolation(std::u16string_view name, const CNameRuleViolation& why, std::uint32_t kind) {
  const auto at = static_cast<std::size_t>(why.index);
  // The rule judges code units; the user sees the whole character, so a
  // refused half of a surrogate pair is shown with its other half.
  std::size_t first = at, units = 1;
  if (at < name.size() && IsHighSurrogate(name[at]) && at + 1 < name.size() && IsLowSurrogate(name[at + 1]))
    // mutate: non-bmp-half-shown
    units = 2;
  else if (at > 0 && at < name.size() && IsLowSurrogate(name[at]) && IsHighSurrogate(name[at - 1]))
    first = at - 1, units = 2;
  const std::string unit = at < name.size() ? QuotedName(name.substr(first, units)) : std::string();
  using Rule = CNameRuleViolation::Rule;
  switch (why.rule) {
    case Rule::kNone: return "it is a valid name";
    case Rule::kEmpty: return "it is empty";
    case Rule::kTooLong:
      return "it has " + std::to_string(name.size()) + " UTF-16 code units, more than " + std::to_string(kMaxNameLength);
    case Rule::kFirstCharacter:
      return "it begins with " + unit + "; a name begins with a letter" +
             (kind == kAllowLeadingUnderscore ? " or an underscore" : "");
    case Rule::kCharacter:
      return "it contains " + unit + " at position " + std::to_string(at + 1) +
             "; only letters, digits and underscores may follow the first letter";
    case Rule::kDoubleUnderscore:
      return "it has two underscores in a row at position " + std::to_string(at) +
             "; an IEC 61131-3 identifier takes single underscores only";
    case Rule::kTrailingUnderscore: return "it ends with an underscore, which an IEC 61131-3 identifier may not";
    case Rule::kNotAscii:
      return "it contains " + unit + " at position " + std::to_string(at + 1) +
             "; an IEC 61131-3 identifier takes only the letters A to Z, digits and underscores";
  }
  return "a name is a letter followed by letters, digits and underscores";
}

std::string DescribeDuplicateHit(const CDuplicateHit& hit) {
  using Where = CDuplicateHit::Where;
  const std::string held = "container " + std::to_string(hit.containerID) + " holds it as ID " +
                           std::to_string(hit.nameID);
  switch (hit.where) {
    case Where::kNone: return "not taken";
    case Where::kKeyword: return "it is a keyword";
    case Where::kOwnContainer: return "taken in the container itself (" + held + ")";
    case Where::kOwnTree: return "taken in the container's own tree (" + held + ")";
    case Where::kGlobal: return "taken in the global namespace (" + held + ")";
    case Where::kTarget: return "taken in a target namespace (" + held + ")";
  }
  return "taken";
}

std::string_view RefusalReasonName(CNameRefusal::Reason reason) {
  using Reason = CNameRefusal::Reason;
  switch (reason) {
    case Reason::kNone: return "none";
    case Reason::kInvalidName: return "invalid-name";
    case Reason::kDuplicate: return "duplicate";
    case Reason::kKeyword: return "keyword";
    case Reason::kNoContainer: return "no-container";
    case Reason::kNoName: return "no-name";
    case Reason::kEmpty: return "empty";
    case Reason::kFull: return "full";
    case Reason::kOutOfMemory: return "out-of-memory";
    case Reason::kOutOfIds: return "out-of-ids";
  }
  return "none";
}

std::string_view RuleViolationName(CNameRuleViolation::Rule rule) {
  using Rule = CNameRuleViolation::Rule;
  switch (rule) {
    case Rule::kNone: return "none";
    case Rule::kEmpty: return "empty";
    case Rule::kTooLong: return "too-long";
    case Rule::kFirstCharacter: return "first-character";
    case Rule::kCharacter: return "character";
    case Rule::kDoubleUnderscore: return "double-underscore";
    case Rule::kTrailingUnderscore: return "trailing-underscore";
    case Rule::kNotAscii: return "not-ascii";
  }
  return "none";
}

std::string_view DuplicateHitNamespace(CDuplicateHit::Where where) {
  using Where = CDuplicateHit::Where;
  switch (where) {
    case Where::kNone: return "none";
    case Where::kKeyword: return "keyword";
    case Where::kOwnContainer: return "own-container";
    case Where::kOwnTree: return "own-tree";
    case Where::kGlobal: return "global";
    case Where::kTarget: return "target";
  }
  return "none";
}

std::string DescribeNameRefusal(const CNameRefusal& why, std::uint32_t containerID, const CString& name,
                                std::uint32_t kind) {
  using Reason = CNameRefusal::Reason;
  switch (why.reason) {
    case Reason::kInvalidName: return "not a valid name: " + DescribeRuleViolation(name, why.rule, kind);
    case Reason::kDuplicate:
    case Reason::kKeyword: return DescribeDuplicateHit(why.hit);
    case Reason::kNoContainer: return "no container has ID " + std::to_string(containerID);
    case Reason::kEmpty: return "the name is empty";
    case Reason::kFull:
      return "the container holds " + std::to_string(kMaxEntriesPerTable) + " names, the most a saved document allows";
    case Reason::kNone:
    case Reason::kNoName:
    case Reason::kOutOfMemory:
    case Reason::kOutOfIds: break;
  }
  return "the library refused it";
}

}  // namespace nametree
