// Containers as the user names them: by ID, or by "@LABEL" for a label kept
// in the document; and the label shown after a container wherever the
// program prints one. A document without labels prints as it always did.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "nametree/document.h"
#include "output.h"

namespace nametree::cli {

// The ID that `text` names: a number (not checked against the document), or
// "@LABEL" of a stored label, letter case ignored. Nullopt with *error set
// when it is neither.
std::optional<std::uint32_t> ContainerArg(const Document& doc, std::string_view text, const char* what,
                                          std::string* error);
// Whether `text` is written as a label.
inline bool IsLabelArg(std::string_view text) { return !text.empty() && text[0] == '@'; }

// " @LABEL" for a labelled container, else empty.
std::string LabelSuffix(const Document& doc, std::uint32_t containerID);
// Sets "label" in `json` for a labelled container.
void AddLabelJson(Json& json, const Document& doc, std::uint32_t containerID);

// "1 name", "2 names".
std::string CountOf(std::size_t n, std::string_view one, std::string_view many);

}  // namespace nametree::cli
