#include "container_arg.h"

#include "args.h"

namespace nametree::cli {

std::optional<std::uint32_t> ContainerArg(const Document& doc, std::string_view text, const char* what,
                                          std::string* error) {
  if (!IsLabelArg(text)) {
    std::optional<std::uint32_t> id = ParseUnsigned(text);
    if (!id) *error = std::string(what) + " must be a number or @LABEL, not \"" + Echo(text) + "\"";
    return id;
  }
  const std::optional<CString> label = ParseName(text.substr(1));
  const std::vector<std::uint32_t> holders = label ? doc.LabelHolders(*label) : std::vector<std::uint32_t>();
  if (holders.size() == 1) return holders[0];
  if (holders.size() > 1)
    *error = "the label \"" + Echo(text.substr(1)) + "\" is held by containers " + std::to_string(holders[0]) +
             " and " + std::to_string(holders[1]) + "; give one of them another label";
  else
    *error = "no container has the label \"" + Echo(text.substr(1)) + "\"";
  return std::nullopt;
}

std::string LabelSuffix(const Document& doc, std::uint32_t containerID) {
  const std::u16string label = doc.Label16(containerID);
  return label.empty() ? std::string() : " @" + Display(label);
}

void AddLabelJson(Json& json, const Document& doc, std::uint32_t containerID) {
  if (const std::u16string label = doc.Label16(containerID); !label.empty()) json["label"] = JsonText(label);
}

std::string CountOf(std::size_t n, std::string_view one, std::string_view many) {
  return std::to_string(n) + " " + std::string(n == 1 ? one : many);
}

}  // namespace nametree::cli
