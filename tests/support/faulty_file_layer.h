// A file layer that spoils one chosen call of another, for tests that make
// the file system fail at every step of an open or a commit in turn.
#pragma once

#include <string>
#include <vector>

#include "cfb/file_io.h"

namespace nametree::cfb {

// kExit ends the process at that call, as a kill would.
enum class FileFault { kFail, kShortWrite, kExit };

// Passes every call to `inner` except the one numbered `at` (from 0,
// counting every call): that one fails, or, for kShortWrite, a Write there
// stores fewer bytes than asked and says so; for kExit the process ends.
class FaultyFileLayer final : public FileLayer {
 public:
  FaultyFileLayer(FileLayer& inner, FileFault fault, int at) : inner_(inner), fault_(fault), at_(at) {}

  int Calls() const { return calls_; }
  bool Fired() const { return fired_; }
  // The call that failed ("sync", "rename", ...), once one did.
  const std::string& FailedCall() const { return failed_; }

  Status ResolvePath(const std::string& path, std::string* resolved) override;
  Status StatPath(const std::string& path, FileInfo* info, bool* exists) override;
  Status OpenExisting(const std::string& path, bool writable, int* fd) override;
  Status StatFd(int fd, FileInfo* info) override;
  Status TryLock(int fd, bool* busy) override;
  Status Unlock(int fd) override;
  Status ReadAt(int fd, std::uint64_t offset, std::uint8_t* data, std::size_t size, std::size_t* got) override;
  Status CreateTemp(const std::string& target, const FileInfo* like, int* fd, std::string* tempPath) override;
  Status LinkTemp(int fd, const std::string& path) override;
  Status CopyRange(int inFd, std::uint64_t offset, int outFd, std::size_t size, std::size_t* copied) override;
  Status Write(int fd, const std::uint8_t* data, std::size_t size, std::size_t* written) override;
  Status Sync(int fd) override;
  Status Close(int fd) override;
  Status Rename(const std::string& from, const std::string& to, bool replace) override;
  Status Remove(const std::string& path) override;
  Status SyncDirectory(const std::string& directory) override;
  Status ListDirectory(const std::string& directory, std::vector<std::string>* names) override;

 private:
  // Counts the call; a failure when it is the one to spoil with one.
  Status FailHere(const char* what);

  FileLayer& inner_;
  FileFault fault_;
  int at_;
  int calls_ = 0;
  bool fired_ = false;
  std::string failed_;
};

}  // namespace nametree::cfb
