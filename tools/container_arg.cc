#include "container_arg.h"

#include "args.h"

namespace nametree::cli {

std::optional<std::uint32_t> ContainerArg(const DocumentFile& file, std::string_view text, const char* what,
                                          std::string* error) {
  if (!IsLabelArg(text)) {
    std::optional<std::uint32_t> id = ParseUnsigned(text);
    if (!id) *error = std::string(what) + " must be a number or @LABEL, not \"" + Echo(text) + "\"";
    return id;
  }
  const std::optional<CString> label = ParseName(text.substr(1));
  std::pair<std::uint32_t, std::uint32_t> twice{0, 0};
  std::optional<std::uint32_t> id = label ? file.FindLabel(*label, &twice) : std::nullopt;
  if (!id && twice.first)
    *error = "the label \"" + Echo(text.substr(1)) + "\" is held by containers " + std::to_string(twice.first) +
             " and " + std::to_string(twice.second) + "; give one of them another label";
  else if (!id)
    *error = "no container has the label \"" + Echo(text.substr(1)) + "\"";
  return id;
}

std::string LabelSuffix(const DocumentFile& file, std::uint32_t containerID) {
  const CString* label = file.LabelOf(containerID);
  return label ? " @" + Display(*label) : std::string();
}

void AddLabelJson(Json& json, const DocumentFile& file, std::uint32_t containerID) {
  if (const CString* label = file.LabelOf(containerID)) json["label"] = JsonText(*label);
}

std::string CountOf(std::size_t n, std::string_view one, std::string_view many) {
  return std::to_string(n) + " " + std::string(n == 1 ? one : many);
}

}  // namespace nametree::cli
