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

  bool ResolvePath(const std::string& path, std::string* resolved, std::string* error) override;
  bool StatPath(const std::string& path, FileInfo* info, bool* exists, std::string* error) override;
  bool OpenExisting(const std::string& path, bool writable, int* fd, std::string* error) override;
  bool StatFd(int fd, FileInfo* info, std::string* error) override;
  bool TryLock(int fd, bool* busy, std::string* error) override;
  bool Unlock(int fd, std::string* error) override;
  bool ReadAt(int fd, std::uint64_t offset, std::uint8_t* data, std::size_t size, std::size_t* got,
              std::string* error) override;
  bool CreateTemp(const std::string& target, const FileInfo* like, int* fd, std::string* tempPath,
                  std::string* error) override;
  bool LinkTemp(int fd, const std::string& path, std::string* error) override;
  bool CopyRange(int inFd, std::uint64_t offset, int outFd, std::size_t size, std::size_t* copied,
                 bool* unsupported, std::string* error) override;
  bool Write(int fd, const std::uint8_t* data, std::size_t size, std::size_t* written,
             std::string* error) override;
  bool Sync(int fd, std::string* error) override;
  bool Close(int fd, std::string* error) override;
  bool Rename(const std::string& from, const std::string& to, bool replace, std::string* error) override;
  bool Remove(const std::string& path, std::string* error) override;
  bool SyncDirectory(const std::string& directory, std::string* error) override;
  bool ListDirectory(const std::string& directory, std::vector<std::string>* names,
                     std::string* error) override;

 private:
  // Counts the call; true when it is the one to spoil with a failure.
  bool FailHere(const char* what, std::string* error);

  FileLayer& inner_;
  FileFault fault_;
  int at_;
  int calls_ = 0;
  bool fired_ = false;
};

}  // namespace nametree::cfb
