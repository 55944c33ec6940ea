// The file operations that opening and saving a document are made of,
// behind an interface so that tests can make any single one of them fail.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cfb/status.h"

namespace nametree::cfb {

// What a commit compares and copies: which file it is, and how it looked.
struct FileInfo {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::uint64_t size = 0;
  std::int64_t modifiedNs = 0;
  std::uint32_t mode = 0;  // type and permission bits
  std::uint32_t owner = 0;
  std::uint32_t group = 0;
  std::uint64_t links = 0;

  bool Regular() const;
  bool SameFile(const FileInfo& o) const { return device == o.device && inode == o.inode; }
  bool Unchanged(const FileInfo& o) const {
    return SameFile(o) && size == o.size && modifiedNs == o.modifiedNs;
  }
};

class FileLayer {
 public:
  virtual ~FileLayer() = default;

  // The file that `path` names once symbolic links are followed.
  virtual Status ResolvePath(const std::string& path, std::string* resolved) = 0;
  // Follows links; *exists is false, and the call succeeds, when nothing is there.
  virtual Status StatPath(const std::string& path, FileInfo* info, bool* exists) = 0;
  // Opens an existing file without waiting on it (a FIFO or device does not
  // block the call).
  virtual Status OpenExisting(const std::string& path, bool writable, int* fd) = 0;
  virtual Status StatFd(int fd, FileInfo* info) = 0;
  // An exclusive advisory lock on the open file, not waited for: *busy tells
  // that another open file holds it.
  virtual Status TryLock(int fd, bool* busy) = 0;
  virtual Status Unlock(int fd) = 0;
  // Reads up to `size` bytes at `offset`; *got is short only at the end.
  virtual Status ReadAt(int fd, std::uint64_t offset, std::uint8_t* data, std::size_t size, std::size_t* got) = 0;
  // A new, readable and writable file in the directory of `target`, owned
  // and permitted like `like` when given (owner and group as far as the
  // caller may set them). Unnamed where the system allows it (*tempPath is
  // then empty), else named by MakeTempName (temp_names.h).
  virtual Status CreateTemp(const std::string& target, const FileInfo* like, int* fd, std::string* tempPath) = 0;
  // Gives an unnamed file from CreateTemp the name `path`; fails if taken.
  virtual Status LinkTemp(int fd, const std::string& path) = 0;
  // Copies up to `size` bytes from `inFd` at `offset` to the end of what
  // was written to `outFd`, inside the kernel; *copied tells how many.
  // A kUnsupported failure means that the caller must copy itself.
  virtual Status CopyRange(int inFd, std::uint64_t offset, int outFd, std::size_t size, std::size_t* copied) = 0;
  // Writes up to `size` bytes; *written tells how many went out.
  virtual Status Write(int fd, const std::uint8_t* data, std::size_t size, std::size_t* written) = 0;
  virtual Status Sync(int fd) = 0;
  // Starts writing those bytes to the disk without waiting for them; only
  // Sync makes them durable. A hint: where it is not taken, Sync does it all.
  virtual void StartWriteback(int /*fd*/, std::uint64_t /*offset*/, std::uint64_t /*size*/) {}
  virtual Status Close(int fd) = 0;
  // Without `replace`, fails when `to` is taken.
  virtual Status Rename(const std::string& from, const std::string& to, bool replace) = 0;
  virtual Status Remove(const std::string& path) = 0;
  virtual Status SyncDirectory(const std::string& directory) = 0;
  virtual Status ListDirectory(const std::string& directory, std::vector<std::string>* names) = 0;
};

// The operating system's files. The second never makes unnamed temporary
// files, as on file systems that cannot.
FileLayer& SystemFiles();
FileLayer& SystemFilesWithNamedTemps();

// The directory that holds `path` ("." for a bare name).
std::string DirectoryOf(const std::string& path);

// Temporary files of ours beside `target` (as TempNameOwner tells) whose
// process is gone (or is this one, between commits): a crash or a failed
// clean-up left them, and nothing else will remove them. No other file is
// touched.
void RemoveStaleTemps(FileLayer& files, const std::string& target);

}  // namespace nametree::cfb
