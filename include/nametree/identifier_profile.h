// Name rule profiles. The classic rule is CNameServer::IsValidName and stays
// exactly as it is; a profile is a second rule that a host or a tool applies
// before it adds a name with kAllowLeadingUnderscore (which makes the server
// skip its own rule), so that both rules never judge one name.
//
// The IEC 61131-3 identifier: an ASCII letter or one underscore first, then
// ASCII letters, digits and single underscores, no underscore last, at most
// kMaxNameLength units (the library's own limit). Case plays no part.
#pragma once

#include <optional>
#include <span>
#include <string_view>

#include "nametree/export.h"
#include "nametree/name_server.h"

namespace nametree {

enum class NameProfile { kClassic, kIec61131_3 };

// "classic", "iec61131-3": how the command line and a document name them.
NAMETREE_API std::string_view NameProfileName(NameProfile profile);
NAMETREE_API std::optional<NameProfile> NameProfileNamed(std::string_view name);
NAMETREE_API std::span<const std::string_view> NameProfileNames();

// True when the text breaks the IEC 61131-3 identifier rule, with the rule
// and the first unit that breaks it in *why if given (kDoubleUnderscore
// points at the second underscore, kTrailingUnderscore at the last unit).
NAMETREE_API bool ExplainIecIdentifier(std::u16string_view name, CNameRuleViolation* why);

// The profile's verdict; for kClassic the server's own (kind 0).
NAMETREE_API bool ExplainProfileViolation(const CNameServer& server, NameProfile profile, const CString& name,
                                          CNameRuleViolation* why);

// The kind a name the profile has judged is added or renamed with: for
// kIec61131_3 kAllowLeadingUnderscore, so that the server's own rule does
// not judge it again; for kClassic kOrdinaryName.
NAMETREE_API std::uint32_t NameKindOf(NameProfile profile);

}  // namespace nametree
