// A document file as the program's commands open, create and save it: the
// library's Document, reported. Each function reports a failure with the
// file's name through the reporter it is given and returns an exit code
// (0 or 2).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "nametree/document.h"
#include "output.h"

namespace nametree::cli {

// How a document file is opened and saved; the command line sets these.
using DocumentOptions = OpenOptions;

// The program's word for the kind of a file error ("not-found", "locked",
// "refused", ...).
std::string_view FileKindName(ErrorKind kind);
// Reports the error against the document's path; returns 0 or 2.
int ReportDocumentError(const Reporter& report, const std::string& path, const nametree::Error& error);
// Open, Create and Save that report: warnings of entries that could not be
// read and entries left out by a forced save are named on stderr. A save
// is told to the reporter; a dry run skips it and tells the reporter so.
int OpenDocument(const Reporter& report, Document& doc, const std::string& path, bool writable,
                 DocumentOptions options = {});
// Puts the document, filled in memory so far, on a new file at `path`.
int CreateDocument(const Reporter& report, Document& doc, const std::string& path,
                   const DocumentOptions& options = {});
int SaveDocument(Reporter& report, Document& doc);

// Reads a document of the earlier format into `doc`; a tree too big to
// save is refused with nothing written. The records the conversion leaves
// out go to *drops.
int ImportLegacyDocument(const Reporter& report, const std::string& path, Document& doc,
                         std::vector<CLegacyDrop>* drops = nullptr);

// Writes a document of the earlier format: the given legacy stream as the
// element "NameService" of the child storage "QXTNameServer".
int WriteLegacyDocument(const Reporter& report, const std::string& path,
                        const std::vector<std::uint8_t>& legacyStream);

}  // namespace nametree::cli
