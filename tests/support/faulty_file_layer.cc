#include "support/faulty_file_layer.h"

#include <unistd.h>

namespace nametree::cfb {

bool FaultyFileLayer::FailHere(const char* what, std::string* error) {
  const int index = calls_++;
  if (index == at_ && fault_ == FileFault::kExit) ::_exit(9);
  if (index != at_ || fault_ != FileFault::kFail) return false;
  fired_ = true;
  if (error) *error = std::string("injected failure of ") + what;
  return true;
}

bool FaultyFileLayer::ResolvePath(const std::string& path, std::string* resolved, std::string* error) {
  return !FailHere("path resolution", error) && inner_.ResolvePath(path, resolved, error);
}

bool FaultyFileLayer::StatPath(const std::string& path, FileInfo* info, bool* exists, std::string* error) {
  return !FailHere("stat", error) && inner_.StatPath(path, info, exists, error);
}

bool FaultyFileLayer::OpenExisting(const std::string& path, bool writable, int* fd, std::string* error) {
  return !FailHere("open", error) && inner_.OpenExisting(path, writable, fd, error);
}

bool FaultyFileLayer::StatFd(int fd, FileInfo* info, std::string* error) {
  return !FailHere("fstat", error) && inner_.StatFd(fd, info, error);
}

bool FaultyFileLayer::TryLock(int fd, bool* busy, std::string* error) {
  return !FailHere("lock", error) && inner_.TryLock(fd, busy, error);
}

bool FaultyFileLayer::Unlock(int fd, std::string* error) {
  return !FailHere("unlock", error) && inner_.Unlock(fd, error);
}

bool FaultyFileLayer::ReadAt(int fd, std::uint64_t offset, std::uint8_t* data, std::size_t size,
                             std::size_t* got, std::string* error) {
  return !FailHere("read", error) && inner_.ReadAt(fd, offset, data, size, got, error);
}

bool FaultyFileLayer::CreateTemp(const std::string& target, const FileInfo* like, int* fd,
                                 std::string* tempPath, std::string* error) {
  return !FailHere("create", error) && inner_.CreateTemp(target, like, fd, tempPath, error);
}

bool FaultyFileLayer::LinkTemp(int fd, const std::string& path, std::string* error) {
  return !FailHere("link", error) && inner_.LinkTemp(fd, path, error);
}

bool FaultyFileLayer::Write(int fd, const std::uint8_t* data, std::size_t size, std::size_t* written,
                            std::string* error) {
  const int index = calls_;
  if (FailHere("write", error)) return false;
  if (index == at_ && fault_ == FileFault::kShortWrite && size > 1) {
    fired_ = true;
    return inner_.Write(fd, data, size / 2, written, error);
  }
  return inner_.Write(fd, data, size, written, error);
}

bool FaultyFileLayer::CopyRange(int inFd, std::uint64_t offset, int outFd, std::size_t size,
                                std::size_t* copied, bool* unsupported, std::string* error) {
  const int index = calls_;
  if (FailHere("copy", error)) return *unsupported = false, false;
  if (index == at_ && fault_ == FileFault::kShortWrite && size > 1) {
    fired_ = true;
    return inner_.CopyRange(inFd, offset, outFd, size / 2, copied, unsupported, error);
  }
  return inner_.CopyRange(inFd, offset, outFd, size, copied, unsupported, error);
}

bool FaultyFileLayer::Sync(int fd, std::string* error) {
  return !FailHere("sync", error) && inner_.Sync(fd, error);
}

bool FaultyFileLayer::Close(int fd, std::string* error) {
  if (FailHere("close", error)) {
    std::string ignored;
    inner_.Close(fd, &ignored);  // a failed close still releases the descriptor
    return false;
  }
  return inner_.Close(fd, error);
}

bool FaultyFileLayer::Rename(const std::string& from, const std::string& to, bool replace,
                             std::string* error) {
  return !FailHere("rename", error) && inner_.Rename(from, to, replace, error);
}

bool FaultyFileLayer::Remove(const std::string& path, std::string* error) {
  return !FailHere("remove", error) && inner_.Remove(path, error);
}

bool FaultyFileLayer::SyncDirectory(const std::string& directory, std::string* error) {
  return !FailHere("directory sync", error) && inner_.SyncDirectory(directory, error);
}

bool FaultyFileLayer::ListDirectory(const std::string& directory, std::vector<std::string>* names,
                                    std::string* error) {
  return !FailHere("directory listing", error) && inner_.ListDirectory(directory, names, error);
}

}  // namespace nametree::cfb
