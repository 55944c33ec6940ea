// Documents as compound files on disk. Opening reads the file's tables and
// directory only; a stream's bytes are read when it is opened, and a
// commit copies the streams nobody changed from the old file. A commit is
// crash-safe: the new file is written beside the old one (unnamed where
// the system allows) and renamed over it, so a failed or interrupted
// commit leaves the old file as it was.
//
// A writable open locks the file (an advisory lock on the file itself)
// until the storage is released; a second writer waits for it a bounded
// time and then gives up. Readers take no lock: the rename gives them the
// whole old file or the whole new one.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "nametree/export.h"
#include "nametree/memory_storage.h"
#include "nametree/storage.h"
#include "nametree/unknown.h"

namespace nametree {

struct CompoundFileOptions {
  // How long a writable open waits for another writer to finish.
  int lockWaitMilliseconds = 10000;
  // Commit even though some entries could not be read: they are left out
  // (and listed), instead of refusing the commit.
  bool force = false;
  // CreateCompoundFile: the first commit refuses to replace a file that
  // is at the path by then.
  bool exclusive = false;
};

// Why one of the calls below failed, decided where it failed: callers
// branch on `kind`; `message` is for a person and may be reworded.
enum class CompoundFileFailure : std::uint8_t {
  kNone,
  kCorrupt,      // the file's structure is damaged, or entries of it could not be read
  kIo,           // the system refused an operation
  kInvalid,      // the request cannot be done as asked
  kNotFound,     // the file, or a folder on its path, is not there
  kDenied,       // the file is read-only, or the system denies the access
  kBusy,         // another writer holds the file, or replaced it meanwhile
  kNotRegular,   // the path names something other than a regular file
  kRefused,      // writing would split hard links or replace a file in the way
  kOutOfMemory,
};

struct CompoundFileError {
  CompoundFileFailure kind = CompoundFileFailure::kNone;
  std::string message;
  explicit operator bool() const { return kind != CompoundFileFailure::kNone; }
};

// Opens the compound file at `path` (a symbolic link is followed). A
// storage opened read-only can be changed in memory but not committed. On
// failure `error` says why (also when memory runs out: no call here lets
// an exception out). Writing is refused for anything but a regular
// file with a write permission bit, and for a file with more than one
// name (hard links), which a replacement would split.
NAMETREE_API bool OpenCompoundFile(const std::string& path, bool writable, ComPtr<IStorage>* out,
                                   std::string* error);
NAMETREE_API bool OpenCompoundFile(const std::string& path, bool writable, const CompoundFileOptions& options,
                                   ComPtr<IStorage>* out, std::string* error);
NAMETREE_API bool OpenCompoundFile(const std::string& path, bool writable, const CompoundFileOptions& options,
                                   ComPtr<IStorage>* out, CompoundFileError* error);

// Returns an empty root storage for a new compound file at `path`, to be
// filled and committed; nothing is on disk until the first commit puts the
// whole file there at once (replacing any file there unless exclusive).
// The version is 3 (512-byte sectors) or 4 (4096-byte sectors).
NAMETREE_API bool CreateCompoundFile(const std::string& path, ComPtr<IStorage>* out, std::string* error);
NAMETREE_API bool CreateCompoundFile(const std::string& path, int majorVersion, ComPtr<IStorage>* out,
                                     std::string* error);
NAMETREE_API bool CreateCompoundFile(const std::string& path, int majorVersion,
                                     const CompoundFileOptions& options, ComPtr<IStorage>* out,
                                     std::string* error);
NAMETREE_API bool CreateCompoundFile(const std::string& path, int majorVersion,
                                     const CompoundFileOptions& options, ComPtr<IStorage>* out,
                                     CompoundFileError* error);

// Writes the tree of a storage returned by OpenCompoundFile or
// CreateCompoundFile to its file, in the file's own version and sector
// size, keeping every entry's class ID, state bits and times. Every stream
// of the tree must be closed. Entries that could not be read refuse the
// commit unless `options.force`; then they are left out and named in
// `leftOut`.
NAMETREE_API bool CommitCompoundFile(IStorage* storage, std::string* error);
NAMETREE_API bool CommitCompoundFile(IStorage* storage, const CompoundFileOptions& options,
                                     std::vector<std::string>* leftOut, std::string* error);
NAMETREE_API bool CommitCompoundFile(IStorage* storage, const CompoundFileOptions& options,
                                     std::vector<std::string>* leftOut, CompoundFileError* error);

// The entries of an opened file that could not be read in full, each as
// "path: reason"; the rest of the file is readable. A stream whose chain
// ends before its declared size is read up to the chain's end and listed
// here too.
NAMETREE_API std::vector<std::string> CompoundFileWarnings(IStorage* storage);

// What became of an entry of the root storage of an opened compound file.
// kDamaged: the file holds an entry of that name that cannot be read in
// full (its chain loops, leaves the file, meets another chain or ends
// before its size; for a storage, anything under it). Such an entry is
// never absent: until a forced commit leaves it out, it stays damaged even
// when a stream of its name is created in its place, and every commit that
// is not forced refuses to write the file. A stream's chain is checked
// when this is asked, if it was not yet. The name is UTF-8.
enum class CompoundEntryState { kAbsent, kReadable, kDamaged };
NAMETREE_API CompoundEntryState CompoundFileEntryState(IStorage* storage, const std::string& name);

// The in-memory halves of the above: a compound file's bytes to a storage
// tree (and the file's major version, when asked), and any storage tree to
// a compound file's bytes.
NAMETREE_API bool ParseCompoundFile(const std::vector<std::uint8_t>& bytes, ComPtr<IStorage>* out,
                                    std::string* error, int* majorVersion = nullptr);
NAMETREE_API bool SerializeCompoundFile(IStorage* storage, int majorVersion, std::vector<std::uint8_t>* out,
                                        std::string* error);

}  // namespace nametree
