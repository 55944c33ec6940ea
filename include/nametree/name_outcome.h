// What the name server decided about a name or a container, as a value
// that travels up unchanged: the classic calls translate it into their
// result codes, the modern face into its Error, and nobody asks again.
#pragma once

#include <cstdint>

namespace nametree {

// Why a text is not a valid name: the rule it breaks and the first UTF-16
// code unit that breaks it (for kTooLong, the first unit past the limit; for
// kEmpty, index 0 and unit 0). The last three only a profile's rule gives
// (nametree/identifier_profile.h); the classic rule never does.
struct CNameRuleViolation {
  enum class Rule { kNone, kEmpty, kTooLong, kFirstCharacter, kCharacter, kDoubleUnderscore, kTrailingUnderscore,
                    kNotAscii };
  Rule rule = Rule::kNone;
  int index = -1;
  char16_t unit = 0;
  bool operator==(const CNameRuleViolation&) const = default;
};

// Where a proposed name collides, for hosts that explain a refusal.
struct CDuplicateHit {
  enum class Where { kNone, kOwnContainer, kKeyword, kGlobal, kTarget, kOwnTree };
  Where where = Where::kNone;
  std::uint32_t containerID = 0;  // the container that holds the name (0 for a keyword)
  std::uint32_t nameID = 0;
  bool operator==(const CDuplicateHit&) const = default;
};

// What a check or an edit decided, made where it decided, so that a host
// explains a refusal without asking the server again: kNone when accepted,
// otherwise the reason, with the rule broken (kInvalidName) or the holder
// it collides with (kDuplicate, and kKeyword with where == kKeyword).
struct CNameRefusal {
  enum class Reason { kNone, kInvalidName, kDuplicate, kKeyword, kNoContainer, kNoName, kEmpty, kFull,
                      kOutOfMemory, kOutOfIds };
  Reason reason = Reason::kNone;
  CNameRuleViolation rule;  // kInvalidName: the rule broken
  CDuplicateHit hit;        // kDuplicate, kKeyword: the holder
  bool refused() const { return reason != Reason::kNone; }
  bool operator==(const CNameRefusal&) const = default;
};
using CNameOutcome = CNameRefusal;

}  // namespace nametree
