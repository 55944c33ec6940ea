// The CSV form of a batch, which 'export --csv' writes and 'batch --csv'
// reads: a header naming the columns, then one edit a row.
//
//   container,name[,kind][,parent,type]
//
// A row with a name adds it to the container (an ID or @LABEL). A row with
// a parent (and a type) makes a container under it; its container field
// says how later rows name it: @LABEL, a label kept in the document, or
// "--ref NAME", which later rows write as @NAME for this batch alone.
//
// Invariant: a row that WriteCsvNameRow or WriteCsvContainerRow makes,
// read back under the header WriteCsvHeader makes, is the edit it was
// made from, so an export rebuilds its tree in a new document.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "edit_ops.h"

namespace nametree::cli {

// The columns a header names beside container and name.
struct CsvColumns {
  bool kind = false;
  bool containers = false;  // parent and type
  std::size_t Width() const { return 2 + (kind ? 1 : 0) + (containers ? 2 : 0); }
};

// One CSV record: fields separated by commas, "..." quoted with "" inside.
bool CsvFields(std::string_view line, std::vector<std::string>& fields, std::string* error);
// The columns of a header row, letter case ignored; nullopt with *error set
// when it is not one.
std::optional<CsvColumns> ParseCsvHeader(std::vector<std::string> fields, std::string* error);
// Why a row does not fit the header, or nullopt when it does.
std::optional<std::string> CsvWidthError(const CsvColumns& columns, const std::vector<std::string>& fields);
// The edit of a row that fits the header; a usage error in *error else.
std::optional<Edit> ParseCsvRow(const CsvColumns& columns, const std::vector<std::string>& fields, EditResult* error);

// The rows of an export: `container` and `parent` as a row names them
// (@LABEL or @NAME of a --ref, parent 0 at the top level).
std::string WriteCsvHeader(const CsvColumns& columns);
std::string WriteCsvNameRow(const CsvColumns& columns, const std::string& container, const std::string& name,
                            bool kind);
// `handle` is the label (kept) or the --ref name (this batch alone).
std::string WriteCsvContainerRow(const CsvColumns& columns, const std::string& handle, bool kept,
                                 const std::string& parent, const std::string& type);

}  // namespace nametree::cli
