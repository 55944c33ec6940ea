#include "output.h"

#include <cstdio>

#include "nametree/refusal_text.h"
#include "nametree/utf8.h"

namespace nametree::cli {

namespace {

bool g_jsonErrors = false;

}  // namespace

std::string JsonText(std::u16string_view text) { return ToUtf8(text); }

void PrintJson(const Json& json) {
  const std::string text = json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
}

std::string Display(std::u16string_view text) { return DisplayText(text); }

std::string Quoted(std::u16string_view name) { return "\"" + Display(name) + "\""; }

std::string TypeLabel(std::int16_t type) {
  switch (type) {
    case kOrdinaryContainer: return "plain";
    case kGlobalContainer: return "global";
    case kTargetContainer: return "target";
    case kLocalCheckContainer: return "own";
    default: return "type " + std::to_string(type);
  }
}

void SetJsonErrors(bool on) { g_jsonErrors = on; }
bool JsonErrors() { return g_jsonErrors; }

std::string StatusHex(HRESULT hr) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%08X", static_cast<std::uint32_t>(hr));
  return buffer;
}

void ReportError(std::string_view file, const std::string& message, HRESULT hr) {
  if (g_jsonErrors) {
    Json error;
    error["error"] = message;
    if (!file.empty()) error["file"] = std::string(file);
    error["result"] = StatusHex(hr);
    error["resultName"] = StatusName(hr);
    PrintJson(error);
    return;
  }
  std::fprintf(stderr, "nametree: %.*s%s%s\n", static_cast<int>(file.size()), file.data(),
               file.empty() ? "" : ": ", message.c_str());
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

std::string DescribeInvalidName(const CNameServer& server, std::u16string_view name, std::uint32_t kind) {
  CNameRuleViolation why;
  server.ExplainInvalidName(CString(name), kind, &why);
  return nametree::DescribeRuleViolation(name, why, kind);
}

std::string DescribeRuleViolation(std::u16string_view name, std::uint32_t kind, const CNameRuleViolation& why) {
  return nametree::DescribeRuleViolation(name, why, kind);
}

std::string DescribeDuplicate(const CDuplicateHit& hit) { return DescribeDuplicateHit(hit); }

std::string_view DuplicateNamespace(CDuplicateHit::Where where) { return DuplicateHitNamespace(where); }

}  // namespace nametree::cli
