// Documents as compound files on disk. Opening reads the whole file into an
// in-memory storage tree; the tree is edited in memory and written back as
// a whole by CommitCompoundFile, crash-safely: the new file is written
// beside the old one and renamed over it, so a failed or interrupted commit
// leaves the old file as it was.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "nametree/export.h"
#include "nametree/storage.h"
#include "nametree/unknown.h"

namespace nametree {

// Opens the compound file at `path`. A storage opened read-only can be
// changed in memory but not committed. On failure `error` says why.
NAMETREE_API bool OpenCompoundFile(const std::string& path, bool writable, ComPtr<IStorage>* out,
                                   std::string* error);

// Writes an empty compound file at `path` at once (replacing any file
// there) and returns its root storage, to be filled and committed. The
// version is 3 (512-byte sectors) or 4 (4096-byte sectors).
NAMETREE_API bool CreateCompoundFile(const std::string& path, ComPtr<IStorage>* out, std::string* error);
NAMETREE_API bool CreateCompoundFile(const std::string& path, int majorVersion, ComPtr<IStorage>* out,
                                     std::string* error);

// Writes the tree of a storage returned by OpenCompoundFile or
// CreateCompoundFile to its file, in the file's own version. Every stream of
// the tree must be closed.
NAMETREE_API bool CommitCompoundFile(IStorage* storage, std::string* error);

// The in-memory halves of the above: a compound file's bytes to a storage
// tree (and the file's major version, when asked), and any storage tree to
// a compound file's bytes.
NAMETREE_API bool ParseCompoundFile(const std::vector<std::uint8_t>& bytes, ComPtr<IStorage>* out,
                                    std::string* error, int* majorVersion = nullptr);
NAMETREE_API bool SerializeCompoundFile(IStorage* storage, int majorVersion, std::vector<std::uint8_t>* out,
                                        std::string* error);

}  // namespace nametree
