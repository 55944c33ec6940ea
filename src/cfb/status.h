// How this subsystem reports failure: a call that can fail returns false
// and leaves one sentence saying why in the caller's message slot (which
// may be null when the caller only needs the verdict). Messages name the
// file, entry or sector at fault, so they can go to a user unchanged.
#pragma once

#include <string>

namespace nametree::cfb {

// Records `message` for the caller and returns false, for `return Fail(...)`.
inline bool Fail(std::string* error, std::string message) {
  if (error) *error = std::move(message);
  return false;
}

}  // namespace nametree::cfb
