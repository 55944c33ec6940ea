// Shared by the commands that find their way around a document: ls, tree,
// find, show, export and diff.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "bound.h"
#include "document.h"

namespace nametree::cli {

// The container that `word` names (an ID or @LABEL); 2 for a label no
// container has, 1 when no container has the ID, else 0.
int ResolveShownContainer(const Context& context, Document& doc, const ContainerWord& word, std::uint32_t* id);

// Which names 'find' lists: TEXT compared as the library compares names
// (letter case ignored), whole, as a prefix or as a glob (* and ?), or a
// regular expression searched case-insensitively.
class NameMatcher {
 public:
  enum class Mode { kExact, kPrefix, kGlob, kRegex };
  // Null with *error set when a regular expression does not compile.
  static std::unique_ptr<NameMatcher> Make(Mode mode, const CString& text, std::string* error);
  virtual ~NameMatcher() = default;
  virtual bool Matches(const CString& name) = 0;
};

// 'dump --canonical': the document as a stable text.
int PrintCanonical(Document& doc);

}  // namespace nametree::cli
