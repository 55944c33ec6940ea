#include "csv_rows.h"

#include "container_arg.h"

namespace nametree::cli {

namespace {

constexpr std::string_view kContainer = "container", kName = "name", kKind = "kind", kParent = "parent",
                           kType = "type";
constexpr std::string_view kRefPrefix = "--ref ";

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return text;
}

std::string Field(const std::string& text) {
  if (text.find_first_of(",\"") == std::string::npos && (text.empty() || (text.front() != ' ' && text.back() != ' ')))
    return text;
  std::string quoted = "\"";
  for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

std::string Row(const CsvColumns& columns, const std::string& container, const std::string& name, bool kind,
                const std::string& parent, const std::string& type) {
  std::string row = Field(container) + "," + Field(name);
  if (columns.kind) row += kind ? ",1" : ",";
  if (columns.containers) row += "," + Field(parent) + "," + Field(type);
  return row + "\n";
}

}  // namespace

bool CsvFields(std::string_view line, std::vector<std::string>& fields, std::string* error) {
  fields.assign(1, std::string());
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted) {
      if (c != '"') fields.back() += c;
      else if (i + 1 < line.size() && line[i + 1] == '"') fields.back() += line[++i];
      else quoted = false;
    } else if (c == '"' && fields.back().empty()) {
      quoted = true;
    } else if (c == ',') {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  if (quoted) *error = "a quoted field is not closed";
  return !quoted;
}

std::optional<CsvColumns> ParseCsvHeader(std::vector<std::string> fields, std::string* error) {
  for (std::string& f : fields) f = Lower(f);
  CsvColumns columns;
  std::size_t at = 2;
  const bool named = fields.size() >= 2 && fields[0] == kContainer && fields[1] == kName;
  if (named && at < fields.size() && fields[at] == kKind) columns.kind = true, ++at;
  if (named && at + 1 < fields.size() && fields[at] == kParent && fields[at + 1] == kType)
    columns.containers = true, at += 2;
  if (named && at == fields.size()) return columns;
  *error = "the header must be container,name, then optionally kind, then optionally parent,type";
  if (named) *error += "; column " + std::to_string(at + 1) + " \"" + Echo(fields[at]) + "\" is not one of them";
  return std::nullopt;
}

std::optional<std::string> CsvWidthError(const CsvColumns& columns, const std::vector<std::string>& fields) {
  const std::size_t known = columns.Width();
  if (fields.size() == known) return std::nullopt;
  return "expected " + std::to_string(known) + " fields, found " + std::to_string(fields.size()) +
         (fields.size() > known ? "; the first extra one is \"" + Echo(fields[known]) + "\"" : "");
}

std::optional<Edit> ParseCsvRow(const CsvColumns& columns, const std::vector<std::string>& fields, EditResult* error) {
  const std::string& container = fields[0];
  const std::string& name = fields[1];
  const std::string* kind = columns.kind && !fields[2].empty() ? &fields[2] : nullptr;
  const std::size_t p = columns.kind ? 3 : 2;
  const bool makes = columns.containers && (!fields[p].empty() || !fields[p + 1].empty());
  if (!makes) return ParseRow(container, name, kind, error);
  if (!name.empty() || kind) {
    *error = Usage("a row adds a name or makes a container (parent and type), not both");
    return std::nullopt;
  }
  if (fields[p].empty()) {
    *error = Usage("a row that makes a container gives its parent: 0, an ID or @LABEL");
    return std::nullopt;
  }
  if (container.empty()) return ParseContainerRow(fields[p], fields[p + 1], "", false, error);
  if (IsLabelArg(container)) return ParseContainerRow(fields[p], fields[p + 1], container.substr(1), true, error);
  if (container.starts_with(kRefPrefix) && container.size() > kRefPrefix.size())
    // mutate: csv-ref-row-unnamed
    return ParseContainerRow(fields[p], fields[p + 1], container.substr(kRefPrefix.size()), false, error);
  *error = Usage("a row that makes a container names it @LABEL (kept), --ref NAME (for this batch) or not at all, "
                 "not \"" + Echo(container) + "\"");
  return std::nullopt;
}

std::string WriteCsvHeader(const CsvColumns& columns) {
  std::string header = std::string(kContainer) + "," + std::string(kName);
  if (columns.kind) header += "," + std::string(kKind);
  if (columns.containers) header += "," + std::string(kParent) + "," + std::string(kType);
  return header + "\n";
}

std::string WriteCsvNameRow(const CsvColumns& columns, const std::string& container, const std::string& name,
                            bool kind) {
  return Row(columns, container, name, kind, "", "");
}

std::string WriteCsvContainerRow(const CsvColumns& columns, const std::string& handle, bool kept,
                                 const std::string& parent, const std::string& type) {
  return Row(columns, kept ? "@" + handle : std::string(kRefPrefix) + handle, "", false, parent, type);
}

}  // namespace nametree::cli
