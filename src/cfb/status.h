// How this subsystem reports failure: every call that can fail returns a
// Status, ok or a code with one sentence saying why. Messages name the
// file, entry or sector at fault, so they can go to a user unchanged; the
// public entry points hand them on through their message slot (Report).
//
// The code tells callers what they may do about it: a short chain can be
// read in part, an unreadable entry is left out, a corrupt file is refused,
// and an unsupported kernel copy falls back to copying by hand.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace nametree::cfb {

class [[nodiscard]] Status {
 public:
  enum class Code : std::uint8_t {
    kOk,
    kCorrupt,      // the file's structure is damaged or hostile
    kShortChain,   // a chain ends before its entry's size; what it holds is readable
    kUnreadable,   // an entry's data lies outside the file; the rest is intact
    kIoError,      // the system refused an operation
    kUnsupported,  // the system cannot do this here; another way may work
    kInvalid,      // the request or the tree cannot be done or stored as asked
    kNotFound,     // the file, or a folder on its path, is not there
    kDenied,       // the file's mode or the system refuses the access asked for
    kBusy,         // another writer holds the file or keeps replacing it
    kNotRegular,   // the path names something other than a regular file
    kRefused,      // done as asked, it would break something intact (links, a file in the way)
  };

  Status() = default;
  static Status Corrupt(std::string message) { return {Code::kCorrupt, std::move(message)}; }
  static Status ShortChain(std::string message) { return {Code::kShortChain, std::move(message)}; }
  static Status Unreadable(std::string message) { return {Code::kUnreadable, std::move(message)}; }
  static Status IoError(std::string message) { return {Code::kIoError, std::move(message)}; }
  static Status Unsupported(std::string message) { return {Code::kUnsupported, std::move(message)}; }
  static Status Invalid(std::string message) { return {Code::kInvalid, std::move(message)}; }
  static Status NotFound(std::string message) { return {Code::kNotFound, std::move(message)}; }
  static Status Denied(std::string message) { return {Code::kDenied, std::move(message)}; }
  static Status Busy(std::string message) { return {Code::kBusy, std::move(message)}; }
  static Status NotRegular(std::string message) { return {Code::kNotRegular, std::move(message)}; }
  static Status Refused(std::string message) { return {Code::kRefused, std::move(message)}; }

  bool ok() const { return code_ == Code::kOk; }
  Code code() const { return code_; }
  const std::string& message() const { return message_; }

  // The same failure with context in front of its sentence.
  Status Prefixed(std::string_view prefix) const {
    // mutate: status-prefix-clears-failure
    return ok() ? *this : Status(code_, std::string(prefix) + message_);
  }
  // The same failure with more said behind its sentence.
  Status Suffixed(std::string_view suffix) const {
    return ok() ? *this : Status(code_, message_ + std::string(suffix));
  }

  // For the entry points that answer true or false and leave the sentence
  // in the caller's slot (which may be null).
  bool Report(std::string* error) const {
    if (!ok() && error) *error = message_;
    return ok();
  }

 private:
  Status(Code code, std::string message) : code_(code), message_(std::move(message)) {}

  Code code_ = Code::kOk;
  std::string message_;
};

}  // namespace nametree::cfb
