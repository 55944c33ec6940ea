#include "output.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "args.h"
#include "cli.h"
#include "nametree/refusal_text.h"
#include "nametree/utf8.h"

namespace nametree::cli {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The escape Display writes at text[at] (a backslash): its code point and
// length, or 0 when what follows is no such escape.
std::size_t ReadEscape(std::string_view text, std::size_t at, char32_t* cp) {
  const std::string_view rest = text.substr(at + 1);
  if (rest.empty()) return 0;
  if (rest[0] == '\\' || rest[0] == 'n' || rest[0] == 't') {
    *cp = rest[0] == 'n' ? U'\n' : rest[0] == 't' ? U'\t' : U'\\';
    return 2;
  }
  if (rest[0] == 'x' && rest.size() >= 3 && HexDigit(rest[1]) >= 0 && HexDigit(rest[2]) >= 0) {
    *cp = static_cast<char32_t>(HexDigit(rest[1]) * 16 + HexDigit(rest[2]));
    return 4;
  }
  if (rest.size() < 4 || rest[0] != 'u' || rest[1] != '{') return 0;
  char32_t value = 0;
  std::size_t i = 2;
  for (; i < rest.size() && i < 9 && HexDigit(rest[i]) >= 0; ++i) value = value * 16 + HexDigit(rest[i]);
  if (i == 2 || i >= rest.size() || rest[i] != '}' || value > 0x10FFFF) return 0;
  *cp = value;
  return i + 2;
}

}  // namespace

std::string JsonText(std::u16string_view text) { return ToUtf8(text); }

void PrintJson(const Json& json) {
  const std::string text = json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
}

std::string Display(std::u16string_view text) { return DisplayText(text); }

std::string ExportText(std::u16string_view text) { return Display(text); }

std::optional<CString> ParseName(std::string_view text) {
  CString name;
  std::string plain;
  plain.reserve(text.size());
  // A surrogate escape is one UTF-16 unit, which UTF-8 cannot carry.
  auto flush = [&] {
    std::optional<CString> part = ParseUtf8(plain);
    if (part) name += *part;
    plain.clear();
    return part.has_value();
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t cp = 0;
    // mutate: names-read-escapes-raw
    const std::size_t n = text[i] == '\\' ? ReadEscape(text, i, &cp) : 0;
    if (n == 0) {
      plain += text[i];
      continue;
    }
    if (cp < 0xD800 || cp > 0xDFFF) AppendUtf8(plain, cp);
    else if (flush()) name += static_cast<char16_t>(cp);
    else return std::nullopt;
    i += n - 1;
  }
  if (!flush()) return std::nullopt;
  return name;
}

std::string Echo(std::string_view input) { return EchoedInput(input); }

std::string Quoted(std::u16string_view name) { return QuotedName(name); }

// mutate: indent-grows-with-depth
std::string Indent(std::size_t level) { return std::string(2 * std::min(level, kIndentLevels), ' '); }

std::string LevelMark(std::size_t level) {
  return level > kIndentLevels ? "[" + std::to_string(level) + "] " : std::string();
}

std::string Counted(std::size_t n, std::string_view noun) {
  // mutate: plural-for-one
  return std::to_string(n) + " " + std::string(noun) + (n == 1 ? "" : "s");
}

std::string_view OpenErrorKind(int error) { return error == ENOENT || error == ENOTDIR ? "not-found" : "io"; }

std::string StatusHex(HRESULT hr) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%08X", static_cast<std::uint32_t>(hr));
  return buffer;
}

void Reporter::Error(std::string_view file, const std::string& message, HRESULT hr, std::string_view kind,
                     const Json& more) const {
  if (json_) {
    Json error;
    error["error"] = message;
    if (!kind.empty()) error["kind"] = std::string(kind);
    if (!file.empty()) error["file"] = std::string(file);
    error["result"] = StatusHex(hr);
    error["resultName"] = StatusName(hr);
    error.update(more);
    PrintJson(error);
    return;
  }
  std::fprintf(stderr, "nametree: %.*s%s%s\n", static_cast<int>(file.size()), file.data(),
               file.empty() ? "" : ": ", message.c_str());
}

int Reporter::Usage(std::string_view command, const std::string& message) const {
  const std::string name = command.empty() ? "nametree" : "nametree " + std::string(command);
  if (json_)
    // mutate: usage-kind-missing
    Error("", name + ": " + message, E_INVALIDARG, "usage");
  else
    std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", name.c_str(), message.c_str(), name.c_str());
  return kExitError;
}

std::string DescribeNotification(const PostedNotification& n) {
  const CNotificationPayload& p = n.payload;
  std::string line = ToUtf8(n.name) + ": container " + std::to_string(p.containerID);
  if (p.nameID != 0) line += ", ID " + std::to_string(p.nameID);
  if (n.name == kNameChanged) line += ", " + Quoted(p.oldName) + " -> " + Quoted(p.newName);
  return line;
}

Json NotificationJson(const PostedNotification& n) {
  const CNotificationPayload& p = n.payload;
  Json json;
  json["notification"] = JsonText(n.name);
  json["container"] = p.containerID;
  json["id"] = p.nameID;
  if (n.name == kNameChanged) {
    json["old"] = JsonText(p.oldName);
    json["new"] = JsonText(p.newName);
  }
  return json;
}

std::string DescribeRuleViolation(std::u16string_view name, std::uint32_t kind, const CNameRuleViolation& why) {
  return nametree::DescribeRuleViolation(name, why, kind);
}

std::string DescribeDuplicate(const CDuplicateHit& hit) { return DescribeDuplicateHit(hit); }

std::string_view DuplicateNamespace(CDuplicateHit::Where where) { return DuplicateHitNamespace(where); }

}  // namespace nametree::cli
