// A document of the earlier format read into a document on no file, for a
// host to save in today's format.
//
// Invariants: the file is only read, never locked or written; a read that
// fails hands up no document at all, never a partly converted tree; the
// refusal's kind is decided where it arises (the file layer's verdict on
// the compound file, then this module's on the element of the earlier
// format); the returned document's server keeps no observer of the caller's.
#pragma once

#include <filesystem>
#include <memory>

#include "document/document_file.h"

namespace nametree {

// The converted tree, or null with *error set. Every record the conversion
// leaves out is told to `dropped` (when set) as it is met.
std::unique_ptr<DocumentFile> ConvertLegacyFile(const std::filesystem::path& path,
                                                const LegacyDropObserver& dropped, FileError* error);

}  // namespace nametree
