// Sentences that tell a user why the library refused a name, shared by the
// program and the library's modern face so that both say the same thing.
// Names inside a sentence are made safe for a terminal: control, bidi and
// invisible characters, lone surrogates and the backslash are escaped, and
// a long name is cut.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "nametree/export.h"
#include "nametree/name_server.h"
#include "nametree/types.h"

namespace nametree {

// The text with C0, DEL and C1 controls, bidi controls, invisible
// characters and lone surrogates escaped as \u{NNNN} and the backslash as
// \\, as UTF-8. The program reads both forms back.
NAMETREE_API std::string DisplayText(std::u16string_view text);

// How much of a name or of typed input a message repeats: a message stays a
// line whatever the length of what it quotes.
inline constexpr std::size_t kEchoedUnits = 120;
inline constexpr std::size_t kEchoedBytes = 200;
// DisplayText(name) in double quotes; a name longer than kEchoedUnits is
// cut there, followed by "..." and its length.
NAMETREE_API std::string QuotedName(std::u16string_view name);
// Typed UTF-8 input as a message repeats it: longer than kEchoedBytes it is
// cut there (never inside a character), followed by "..." and its length.
NAMETREE_API std::string EchoedInput(std::string_view input);

// Why a name breaks the name rule ("it begins with "1"; a name begins with
// a letter"); "it is a valid name" for kNone.
NAMETREE_API std::string DescribeRuleViolation(std::u16string_view name, const CNameRuleViolation& why,
                                               std::uint32_t kind);
// Where a proposed name collides ("taken in the global namespace
// (container 2 holds it as ID 7)").
NAMETREE_API std::string DescribeDuplicateHit(const CDuplicateHit& hit);
// Names for the parts of a refusal, for hosts and scripts that branch on
// them: "duplicate", "no-container", ...; "first-character", "too-long", ...
NAMETREE_API std::string_view RefusalReasonName(CNameRefusal::Reason reason);
NAMETREE_API std::string_view RuleViolationName(CNameRuleViolation::Rule rule);
// The JSON key of the namespace of a hit: "own-container", "global", ...
NAMETREE_API std::string_view DuplicateHitNamespace(CDuplicateHit::Where where);

// Why AddName or Rename of `name` in the container refused, from the reason
// the server gave with its refusal: the broken rule, the other holder, a
// missing container, an empty name or a full container.
NAMETREE_API std::string DescribeNameRefusal(const CNameRefusal& why, std::uint32_t containerID, const CString& name,
                                             std::uint32_t kind);

}  // namespace nametree
