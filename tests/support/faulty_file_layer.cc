#include "support/faulty_file_layer.h"

#include <unistd.h>

namespace nametree::cfb {

Status FaultyFileLayer::FailHere(const char* what) {
  const int index = calls_++;
  if (index == at_ && fault_ == FileFault::kExit) ::_exit(9);
  if (index != at_ || fault_ != FileFault::kFail) return Status();
  fired_ = true;
  failed_ = what;
  return Status::IoError("injected failure of " + failed_);
}

Status FaultyFileLayer::ResolvePath(const std::string& path, std::string* resolved) {
  if (Status s = FailHere("path resolution"); !s.ok()) return s;
  return inner_.ResolvePath(path, resolved);
}

Status FaultyFileLayer::StatPath(const std::string& path, FileInfo* info, bool* exists) {
  if (Status s = FailHere("stat"); !s.ok()) return s;
  return inner_.StatPath(path, info, exists);
}

Status FaultyFileLayer::OpenExisting(const std::string& path, bool writable, int* fd) {
  if (Status s = FailHere("open"); !s.ok()) return s;
  return inner_.OpenExisting(path, writable, fd);
}

Status FaultyFileLayer::StatFd(int fd, FileInfo* info) {
  if (Status s = FailHere("fstat"); !s.ok()) return s;
  return inner_.StatFd(fd, info);
}

Status FaultyFileLayer::TryLock(int fd, bool* busy) {
  if (Status s = FailHere("lock"); !s.ok()) return s;
  return inner_.TryLock(fd, busy);
}

Status FaultyFileLayer::Unlock(int fd) {
  if (Status s = FailHere("unlock"); !s.ok()) return s;
  return inner_.Unlock(fd);
}

Status FaultyFileLayer::ReadAt(int fd, std::uint64_t offset, std::uint8_t* data, std::size_t size,
                             std::size_t* got) {
  if (Status s = FailHere("read"); !s.ok()) return s;
  return inner_.ReadAt(fd, offset, data, size, got);
}

Status FaultyFileLayer::CreateTemp(const std::string& target, const FileInfo* like, int* fd,
                                 std::string* tempPath) {
  if (Status s = FailHere("create"); !s.ok()) return s;
  return inner_.CreateTemp(target, like, fd, tempPath);
}

Status FaultyFileLayer::LinkTemp(int fd, const std::string& path) {
  if (Status s = FailHere("link"); !s.ok()) return s;
  return inner_.LinkTemp(fd, path);
}

Status FaultyFileLayer::Write(int fd, const std::uint8_t* data, std::size_t size, std::size_t* written) {
  const int index = calls_;
  if (Status s = FailHere("write"); !s.ok()) return s;
  if (index == at_ && fault_ == FileFault::kShortWrite && size > 1) {
    fired_ = true;
    return inner_.Write(fd, data, size / 2, written);
  }
  return inner_.Write(fd, data, size, written);
}

Status FaultyFileLayer::CopyRange(int inFd, std::uint64_t offset, int outFd, std::size_t size,
                                  std::size_t* copied) {
  const int index = calls_;
  if (Status s = FailHere("copy"); !s.ok()) return s;
  if (index == at_ && fault_ == FileFault::kShortWrite && size > 1) {
    fired_ = true;
    return inner_.CopyRange(inFd, offset, outFd, size / 2, copied);
  }
  return inner_.CopyRange(inFd, offset, outFd, size, copied);
}

Status FaultyFileLayer::Sync(int fd) {
  if (Status s = FailHere("sync"); !s.ok()) return s;
  return inner_.Sync(fd);
}

Status FaultyFileLayer::Close(int fd) {
  if (Status s = FailHere("close"); !s.ok()) {
    (void)inner_.Close(fd);  // a failed close still releases the descriptor
    return s;
  }
  return inner_.Close(fd);
}

Status FaultyFileLayer::Rename(const std::string& from, const std::string& to, bool replace) {
  if (Status s = FailHere("rename"); !s.ok()) return s;
  return inner_.Rename(from, to, replace);
}

Status FaultyFileLayer::Remove(const std::string& path) {
  if (Status s = FailHere("remove"); !s.ok()) return s;
  return inner_.Remove(path);
}

Status FaultyFileLayer::SyncDirectory(const std::string& directory) {
  if (Status s = FailHere("directory sync"); !s.ok()) return s;
  return inner_.SyncDirectory(directory);
}

Status FaultyFileLayer::ListDirectory(const std::string& directory, std::vector<std::string>* names) {
  if (Status s = FailHere("directory listing"); !s.ok()) return s;
  return inner_.ListDirectory(directory, names);
}

}  // namespace nametree::cfb
