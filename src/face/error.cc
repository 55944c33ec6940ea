#include "nametree/result.h"

namespace nametree {

std::string_view ErrorKindName(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::kInvalidName: return "invalid-name";
    case ErrorKind::kDuplicate: return "duplicate";
    case ErrorKind::kKeyword: return "keyword";
    case ErrorKind::kNotFound: return "not-found";
    case ErrorKind::kFull: return "full";
    case ErrorKind::kInvalidText: return "invalid-text";
    case ErrorKind::kInvalidArgument: return "invalid-argument";
    case ErrorKind::kReadOnly: return "read-only";
    case ErrorKind::kNotADocument: return "not-a-document";
    case ErrorKind::kDamaged: return "damaged";
    case ErrorKind::kLocked: return "locked";
    case ErrorKind::kExists: return "exists";
    case ErrorKind::kIo: return "io";
    case ErrorKind::kOutOfMemory: return "out-of-memory";
    case ErrorKind::kOutOfIds: return "out-of-ids";
    case ErrorKind::kFindings: return "findings";
    case ErrorKind::kFailed: return "failed";
  }
  return "failed";
}

Error::Error(ErrorKind kind, HRESULT status, std::string message)
    : kind_(kind), status_(status), code_(StatusName(status)), message_(std::move(message)) {}

Error::Error(ErrorKind kind, HRESULT status, std::string message, const CNameRefusal& refusal)
    : Error(kind, status, std::move(message)) {
  // mutate: error-drops-refusal
  refusal_ = refusal;
}

Error::Error(ErrorKind kind, HRESULT status, const std::string& file, std::string_view reason)
    : Error(kind, status, file.empty() ? std::string(reason) : file + ": " + std::string(reason)) {
  file_ = file;
  reasonAt_ = file.empty() ? 0 : file.size() + 2;
}

Error::Error(ErrorKind kind, HRESULT status, std::string_view what, std::string_view reason,
             const CNameRefusal& refusal)
    : Error(kind, status, std::string(what) + ": " + std::string(reason), refusal) {
  reasonAt_ = what.size() + 2;
}

}  // namespace nametree
