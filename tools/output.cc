#include "output.h"

#include <cstdio>

#include "nametree/utf8.h"

namespace nametree::cli {

void AppendJsonString(std::string& out, std::u16string_view text) {
  static const char kHex[] = "0123456789abcdef";
  auto escape = [&out](char16_t c) {
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(c >> shift) & 0xF];
  };
  out += '"';
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c == u'"' || c == u'\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == u'\n') {
      out += "\\n";
    } else if (c == u'\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7F) {
      escape(c);
    } else if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
               text[i + 1] <= 0xDFFF) {
      out += ToUtf8(text.substr(i, 2));
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      escape(c);
    } else {
      out += ToUtf8(text.substr(i, 1));
    }
  }
  out += '"';
}

void JsonWriter::Separate() {
  if (afterKey_) {
    afterKey_ = false;
    return;
  }
  if (!first_.empty()) {
    if (!first_.back()) out_ += ',';
    first_.back() = false;
  }
}

void JsonWriter::Open(char c) {
  Separate();
  out_ += c;
  first_.push_back(true);
}

void JsonWriter::Close(char c) {
  out_ += c;
  first_.pop_back();
}

void JsonWriter::Key(std::string_view key) {
  Separate();
  AppendJsonString(out_, FromUtf8(key));
  out_ += ':';
  afterKey_ = true;
}

void JsonWriter::String(std::u16string_view text) {
  Separate();
  AppendJsonString(out_, text);
}

void JsonWriter::Utf8(std::string_view text) { String(FromUtf8(text)); }

void JsonWriter::Number(std::int64_t value) {
  Separate();
  out_ += std::to_string(value);
}

void JsonWriter::Bool(bool value) {
  Separate();
  out_ += value ? "true" : "false";
}

void JsonWriter::Null() {
  Separate();
  out_ += "null";
}

void JsonWriter::Print() const { std::printf("%s\n", out_.c_str()); }

std::string TypeLabel(std::int16_t type) {
  switch (type) {
    case kOrdinaryContainer: return "plain";
    case kGlobalContainer: return "global";
    case kTargetContainer: return "target";
    case kLocalCheckContainer: return "own";
    default: return "type " + std::to_string(type);
  }
}

void ReportFile(std::string_view file, const std::string& message) {
  std::fprintf(stderr, "nametree: %.*s: %s\n", static_cast<int>(file.size()), file.data(),
               message.c_str());
}

std::string Quoted(std::u16string_view name) { return "\"" + ToUtf8(name) + "\""; }

std::string DescribeNotification(const PostedNotification& n) {
  const CNotificationPayload& p = n.payload;
  std::string line = ToUtf8(n.name) + ": container " + std::to_string(p.containerID);
  if (p.nameID != 0) line += ", ID " + std::to_string(p.nameID);
  if (n.name == kNameChanged) line += ", " + Quoted(p.oldName) + " -> " + Quoted(p.newName);
  return line;
}

void WriteNotificationJson(JsonWriter& json, const PostedNotification& n) {
  const CNotificationPayload& p = n.payload;
  json.BeginObject();
  json.Member("notification", n.name);
  json.Member("container", p.containerID);
  json.Member("id", p.nameID);
  if (n.name == kNameChanged) {
    json.Member("old", p.oldName);
    json.Member("new", p.newName);
  }
  json.EndObject();
}

std::string DescribeInvalidName(std::u16string_view name, std::uint32_t kind) {
  if (name.empty()) return "it is empty";
  if (name.size() > static_cast<std::size_t>(kMaxNameLength))
    return "it has " + std::to_string(name.size()) + " UTF-16 code units, more than " +
           std::to_string(kMaxNameLength);
  // Only ASCII is classified here; letters of other scripts are the library's to judge.
  auto isAsciiLetter = [](char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); };
  auto isAsciiDigit = [](char16_t c) { return c >= u'0' && c <= u'9'; };
  const char16_t first = name[0];
  if (first < 0x80 && !isAsciiLetter(first) && !(first == u'_' && kind == kAllowLeadingUnderscore))
    return "it begins with " + Quoted(name.substr(0, 1)) + "; a name begins with a letter";
  for (std::size_t i = 1; i < name.size(); ++i) {
    const char16_t c = name[i];
    if (c < 0x80 && !isAsciiLetter(c) && !isAsciiDigit(c) && c != u'_')
      return "it contains " + Quoted(name.substr(i, 1)) + " at position " + std::to_string(i + 1) +
             "; only letters, digits and underscores may follow the first letter";
  }
  return "a name is a letter followed by letters, digits and underscores";
}

std::string DescribeDuplicate(const CDuplicateHit& hit) {
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

std::string_view DuplicateNamespace(CDuplicateHit::Where where) {
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

}  // namespace nametree::cli
