// Output of the nametree program: JSON documents (one compact object per
// line), names made safe for a terminal, container type labels, and the
// reporting of errors, which under --json become objects on stdout.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "nametree/document.h"
#include "nametree/name_outcome.h"
#include "nametree/notification.h"
#include "nametree/types.h"

namespace nametree::cli {

// Keys keep the order in which they are set, so that output reads as written.
using Json = nlohmann::ordered_json;

// UTF-16 text as UTF-8 for JSON: a well-formed pair becomes one code point,
// a lone surrogate becomes U+FFFD, so that every document is valid UTF-8.
std::string JsonText(std::u16string_view text);
// Prints the document and a newline on stdout.
void PrintJson(const Json& json);

// UTF-16 text for a terminal: control characters (C0, DEL, C1), lone
// surrogates, bidi controls, invisible (default-ignorable) characters, line
// and paragraph separators are escaped as \u{NNNN}, the backslash as \\,
// so that a name can neither move the cursor nor pass for another.
// ParseName reads these back, and \n, \t and \xNN too.
std::string Display(std::u16string_view text);
// What the user typed for a name: UTF-8 in which the escapes Display
// writes stand for their characters (any other backslash is itself);
// nullopt when it is not well-formed UTF-8.
std::optional<CString> ParseName(std::string_view text);
// Display(text), which ParseName reads back unit for unit.
std::string ExportText(std::u16string_view text);
// Input echoed back in a message, cut to a readable length.
std::string Echo(std::string_view input);
// Display(name) in double quotes, cut as the library cuts a name it quotes.
std::string Quoted(std::u16string_view name);

// The indentation of a line at `level` (0 at the top): two spaces a level
// up to kIndentLevels, and no more below; a container line deeper than that
// carries its level as a number instead (LevelMark, "[40] "), so that a deep
// tree's output grows with its size, not with its depth squared.
inline constexpr std::size_t kIndentLevels = 8;
std::string Indent(std::size_t level);
std::string LevelMark(std::size_t level);

// "1 edit", "2 edits": the count with the noun, plural unless one.
std::string Counted(std::size_t n, std::string_view noun);


// Where the errors of one run go: "nametree: FILE: message" on stderr, or
// under --json the object {"error", "file", "result", "resultName"} on
// stdout, with "kind" when a kind of file error is given. Made once from
// the command line and passed down to whatever reports.
class Reporter {
 public:
  explicit Reporter(bool json = false) : json_(json) {}
  bool AsJson() const { return json_; }
  // `more` adds its members to the JSON object.
  void Error(std::string_view file, const std::string& message, HRESULT hr = E_FAIL, std::string_view kind = {},
             const Json& more = Json::object()) const;
  void File(std::string_view file, const std::string& message, std::string_view kind = {}) const {
    Error(file, message, E_FAIL, kind);
  }
  // "nametree COMMAND: message" and a pointer to its help; returns 2.
  int Usage(std::string_view command, const std::string& message) const;
  // A document this run saved: an output that then fails to be written
  // must still say that the edits were kept.
  void Saved(std::string path) { saved_ = std::move(path); }
  const std::string* SavedPath() const { return saved_.empty() ? nullptr : &saved_; }
  // A document a dry run would have saved: the run ends by saying it was not.
  void DryRun(std::string path) { dryRun_ = std::move(path); }
  const std::string* DryRunPath() const { return dryRun_.empty() ? nullptr : &dryRun_; }

 private:
  bool json_;
  std::string saved_;
  std::string dryRun_;
};

// The kind of error for a file that could not be opened for reading, from
// its errno: "not-found", or "io" for any other cause.
std::string_view OpenErrorKind(int error);

// The status as "0x80004005".
std::string StatusHex(HRESULT hr);

// A notification kept past its Post call.
struct PostedNotification {
  CString name;
  CNotificationPayload payload;
};

// The notification as one line: NameChanged: container 5, ID 7, "A" -> "B".
std::string DescribeNotification(const PostedNotification& n);
Json NotificationJson(const PostedNotification& n);

// Why the name rule refuses a name, in words ("it begins with '1'").
std::string DescribeRuleViolation(std::u16string_view name, std::uint32_t kind, const CNameRuleViolation& why);

// Where a duplicate was found, in words and as the JSON namespace key.
std::string DescribeDuplicate(const CDuplicateHit& hit);
std::string_view DuplicateNamespace(CDuplicateHit::Where where);

}  // namespace nametree::cli
