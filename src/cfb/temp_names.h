// Names of the files a commit writes beside a document before renaming
// them over it.
//
// Invariants:
//  1. Every name MakeTempName makes is one TempNameOwner recognises, for
//     the same document, with the process ID it was made with.
//  2. TempNameOwner recognises nothing else: a name a user would choose
//     (anything not hidden, without the program's marker, the document's
//     own name, a decimal process ID and the random tail) is never taken
//     for ours, so the stale-temp sweep cannot remove it.
#pragma once

#include <optional>
#include <string>

namespace nametree::cfb {

// The path of a temporary file for the document at `target`, in its
// directory: ".<name>.nametree-tmp.<pid>.<tail>", `tail` being six letters
// or digits.
std::string MakeTempName(const std::string& target, long pid, const std::string& tail);
// The name for a help text: "PID" for the process ID, an X for each
// character of the tail.
std::string TempNamePattern(const std::string& target);

// Six random letters and digits.
std::string RandomTempTail();

// The process that made `entry` (a bare directory entry name) as a
// temporary file for the document named `document` (a bare name); nothing
// for any other name.
std::optional<long> TempNameOwner(const std::string& entry, const std::string& document);

}  // namespace nametree::cfb
