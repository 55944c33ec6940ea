// Output formatting of the nametree program: a small JSON writer (one
// compact document per line), container type labels, and messages.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "nametree/name_server.h"
#include "nametree/types.h"

namespace nametree::cli {

// Appends a JSON string literal for UTF-16 text. Well-formed pairs become
// UTF-8; control characters and lone surrogates become \u escapes, so that
// every name survives exactly.
void AppendJsonString(std::string& out, std::u16string_view text);

class JsonWriter {
 public:
  void BeginObject() { Open('{'); }
  void EndObject() { Close('}'); }
  void BeginArray() { Open('['); }
  void EndArray() { Close(']'); }
  void Key(std::string_view key);
  void String(std::u16string_view text);
  void Utf8(std::string_view text);  // a UTF-8 text such as a file path
  void Number(std::int64_t value);
  void Bool(bool value);
  void Null();

  // Convenience for the common "key": value members.
  void Member(std::string_view key, std::u16string_view text) { Key(key); String(text); }
  void Member(std::string_view key, std::int64_t value) { Key(key); Number(value); }
  void MemberBool(std::string_view key, bool value) { Key(key); Bool(value); }
  void MemberUtf8(std::string_view key, std::string_view text) { Key(key); Utf8(text); }

  // Writes the document and a newline to stdout.
  void Print() const;
  const std::string& Text() const { return out_; }

 private:
  void Open(char c);
  void Close(char c);
  void Separate();

  std::string out_;
  std::vector<bool> first_;  // per open level: nothing written in it yet
  bool afterKey_ = false;
};

// "global", "target", "own", "plain", or "type N" for other values.
std::string TypeLabel(std::int16_t type);

// "nametree: FILE: message" on stderr.
void ReportFile(std::string_view file, const std::string& message);

// A name as the user should see it in messages: quoted UTF-8.
std::string Quoted(std::u16string_view name);

// A notification kept past its Post call.
struct PostedNotification {
  CString name;
  CNotificationPayload payload;
};

// The notification as one line: NameChanged: container 5, ID 7, "A" -> "B".
std::string DescribeNotification(const PostedNotification& n);
void WriteNotificationJson(JsonWriter& json, const PostedNotification& n);

// Why IsValidName refuses a name, in words ("it begins with '1'").
std::string DescribeInvalidName(std::u16string_view name, std::uint32_t kind);

// Where a duplicate was found, in words and as the JSON namespace key.
std::string DescribeDuplicate(const CDuplicateHit& hit);
std::string_view DuplicateNamespace(CDuplicateHit::Where where);

}  // namespace nametree::cli
