// Result<T>: a value or the Error that kept it from being made. The modern
// face returns these instead of throwing; nothing is thrown across it.
#pragma once

#include <cassert>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "nametree/export.h"
#include "nametree/name_outcome.h"
#include "nametree/types.h"

namespace nametree {

// What kind of refusal an Error is, for hosts that react to some of them
// (a Python binding gives each its own exception class).
enum class ErrorKind {
  kInvalidName,    // the text breaks the name rule
  kDuplicate,      // the text is taken
  kKeyword,        // the text is a reserved word (its status stays E_NAME_DUPLICATE)
  kNotFound,       // no container or name has the ID, or no such file
  kFull,           // a table holds the most entries a saved document allows
  kInvalidText,    // the text is not well-formed UTF-8 (or UTF-16)
  kInvalidArgument,
  kReadOnly,       // the document was opened read-only, or the file cannot be written
  kNotADocument,   // the file is no document of this format
  kDamaged,        // the document cannot be read, or committing would lose a damaged entry
  kLocked,         // another program is writing the file
  kExists,         // creating a document where a file already is
  kIo,             // the system failed to read or write
  kOutOfMemory,
  kOutOfIds,       // the process has issued every name and container ID there is
  kFindings,       // a judged edit would make the document check report more (strict)
  kFailed,         // any other refusal
};

// "invalid-name", "duplicate", "not-found", ...
NAMETREE_API std::string_view ErrorKindName(ErrorKind kind);

class NAMETREE_API Error {
 public:
  Error() = default;
  Error(ErrorKind kind, HRESULT status, std::string message);
  // A refusal of the server's, with the value it decided.
  Error(ErrorKind kind, HRESULT status, std::string message, const CNameRefusal& refusal);
  // An error about a file: message() is "file: reason".
  Error(ErrorKind kind, HRESULT status, const std::string& file, std::string_view reason);
  // A refused edit: message() is "what: reason", what saying what was refused.
  Error(ErrorKind kind, HRESULT status, std::string_view what, std::string_view reason, const CNameRefusal& refusal);

  ErrorKind kind() const { return kind_; }
  // The status's symbolic name, such as "E_NAME_DUPLICATE".
  std::string_view code() const { return code_; }
  HRESULT status() const { return status_; }
  // A sentence that says what was refused and why.
  const std::string& message() const { return message_; }
  // The file the error is about (empty when none), and the message without
  // what it is about (the file, or the edit refused), for a host that
  // words that part itself.
  const std::string& file() const { return file_; }
  // What the server decided: the reason, the rule broken and the colliding
  // holder; reason kNone for an error the server did not decide (a file's).
  const CNameRefusal& refusal() const { return refusal_; }
  std::string_view reason() const {
    // mutate: error-reason-keeps-file
    return std::string_view(message_).substr(reasonAt_);
  }

 private:
  ErrorKind kind_ = ErrorKind::kFailed;
  HRESULT status_ = E_FAIL;
  std::string code_ = "E_FAIL";
  std::string message_;
  std::string file_;
  std::size_t reasonAt_ = 0;
  CNameRefusal refusal_;
};

// Reading the value of a Result that holds an error, or the error of one
// that holds a value, is a caller's bug: it is checked in debug builds and
// undefined otherwise, as for std::optional's operator*. Nothing is thrown
// and nothing ends the program; value_or() is the call that cannot go wrong.
template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}
  Result(Error error) : v_(std::in_place_index<1>, std::move(error)) {}

  explicit operator bool() const { return v_.index() == 0; }
  bool has_value() const { return v_.index() == 0; }
  // REQUIRES: *this holds a value.
  T& value() & { return *Held(); }
  const T& value() const& { return *Held(); }
  T&& value() && { return std::move(*Held()); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T&& operator*() && { return std::move(*this).value(); }
  T* operator->() { return Held(); }
  const T* operator->() const { return Held(); }
  // The value, or `fallback` when *this holds an error.
  template <class U>
  T value_or(U&& fallback) const& {
    return has_value() ? *Held() : static_cast<T>(std::forward<U>(fallback));
  }
  template <class U>
  T value_or(U&& fallback) && {
    return has_value() ? std::move(*Held()) : static_cast<T>(std::forward<U>(fallback));
  }
  // REQUIRES: *this holds an error.
  const Error& error() const {
    assert(v_.index() == 1);
    return *std::get_if<1>(&v_);
  }

 private:
  T* Held() {
    assert(v_.index() == 0);
    return std::get_if<0>(&v_);
  }
  const T* Held() const {
    assert(v_.index() == 0);
    return std::get_if<0>(&v_);
  }
  std::variant<T, Error> v_;
};

template <>
class [[nodiscard]] Result<void> {
 public:
  Result() = default;
  Result(Error error) : error_(std::move(error)) {}

  explicit operator bool() const { return !error_; }
  bool has_value() const { return !error_; }
  // REQUIRES: *this holds an error.
  const Error& error() const {
    assert(error_);
    return *error_;
  }

 private:
  std::optional<Error> error_;
};

}  // namespace nametree
