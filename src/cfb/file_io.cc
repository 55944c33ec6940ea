#include "cfb/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>

namespace nametree::cfb {
namespace {

bool SystemError(const std::string& what, std::string* error) {
  if (error) *error = what + ": " + std::strerror(errno);
  return false;
}

class PosixFiles final : public FileLayer {
 public:
  bool ReadFile(const std::string& path, std::vector<std::uint8_t>* out, std::string* error) override {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return SystemError("cannot open " + path, error);
    struct stat st;
    if (::fstat(fd, &st) != 0) {
      const int saved = errno;
      ::close(fd);
      errno = saved;
      return SystemError("cannot examine " + path, error);
    }
    if (!S_ISREG(st.st_mode)) {
      ::close(fd);
      if (error) *error = path + " is not a regular file";
      return false;
    }
    out->resize(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    while (done < out->size()) {
      const ssize_t n = ::read(fd, out->data() + done, out->size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
        return SystemError("cannot read " + path, error);
      }
      if (n == 0) break;  // the file shrank meanwhile
      done += static_cast<std::size_t>(n);
    }
    out->resize(done);
    ::close(fd);
    return true;
  }

  bool CheckWritable(const std::string& path, std::string* error) override {
    if (::access(path.c_str(), W_OK) != 0) return SystemError("cannot write " + path, error);
    return true;
  }

  bool CreateTemp(const std::string& target, int* fd, std::string* tempPath, std::string* error) override {
    struct stat st;
    const bool exists = ::stat(target.c_str(), &st) == 0;
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device seed;
    std::mt19937 random(seed());
    std::uniform_int_distribution<int> pick(0, sizeof kLetters - 2);
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::string name = target + ".tmp-";
      for (int i = 0; i < 6; ++i) name += kLetters[pick(random)];
      const int f = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (f < 0 && errno == EEXIST) continue;
      if (f < 0) return SystemError("cannot create a file beside " + target, error);
      if (exists && ::fchmod(f, st.st_mode & 07777) != 0) {
        const int saved = errno;
        ::close(f);
        ::unlink(name.c_str());
        errno = saved;
        return SystemError("cannot set the permissions of " + name, error);
      }
      *fd = f;
      *tempPath = std::move(name);
      return true;
    }
    if (error) *error = "cannot find a free temporary name beside " + target;
    return false;
  }

  bool Write(int fd, const std::uint8_t* data, std::size_t size, std::size_t* written,
             std::string* error) override {
    for (;;) {
      const ssize_t n = ::write(fd, data, size);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return SystemError("cannot write", error);
      *written = static_cast<std::size_t>(n);
      return true;
    }
  }

  bool Sync(int fd, std::string* error) override {
    if (::fsync(fd) != 0) return SystemError("cannot flush to disk", error);
    return true;
  }

  bool Close(int fd, std::string* error) override {
    if (::close(fd) != 0) return SystemError("cannot close", error);
    return true;
  }

  bool Rename(const std::string& from, const std::string& to, std::string* error) override {
    if (::rename(from.c_str(), to.c_str()) != 0) return SystemError("cannot rename " + from + " to " + to, error);
    return true;
  }

  bool Remove(const std::string& path, std::string* error) override {
    if (::unlink(path.c_str()) != 0) return SystemError("cannot remove " + path, error);
    return true;
  }

  bool SyncDirectory(const std::string& directory, std::string* error) override {
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return SystemError("cannot open directory " + directory, error);
    const bool ok = ::fsync(fd) == 0;
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return ok || SystemError("cannot flush directory " + directory, error);
  }
};

}  // namespace

FileLayer& SystemFiles() {
  static PosixFiles files;
  return files;
}

bool ReplaceFile(FileLayer& files, const std::string& path, const std::vector<std::uint8_t>& bytes,
                 std::string* error) {
  std::string ignored;
  if (!error) error = &ignored;
  int fd = -1;
  std::string temp;
  if (!files.CreateTemp(path, &fd, &temp, error)) return false;
  bool open = true;
  auto abandon = [&](const std::string& why) {
    std::string cleanup;
    if (open) files.Close(fd, &cleanup);
    files.Remove(temp, &cleanup);
    *error = why;
    return false;
  };
  for (std::size_t done = 0; done < bytes.size();) {
    std::size_t written = 0;
    if (!files.Write(fd, bytes.data() + done, bytes.size() - done, &written, error))
      return abandon("cannot write " + temp + ": " + *error);
    if (written == 0) return abandon("cannot write " + temp + ": no space was taken");
    done += written;
  }
  if (!files.Sync(fd, error)) return abandon(*error + " (" + temp + ")");
  open = false;
  if (!files.Close(fd, error)) return abandon(*error + " (" + temp + ")");
  if (!files.Rename(temp, path, error)) return abandon(*error);
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  const std::string directory = parent.empty() ? std::string(".") : parent.string();
  if (!files.SyncDirectory(directory, error)) {
    *error = path + " was replaced but may not survive a crash: " + *error;
    return false;
  }
  return true;
}

bool FaultyFileLayer::FailHere(const char* what, std::string* error) {
  const int index = calls_++;
  if (index != at_ || fault_ != FileFault::kFail) return false;
  fired_ = true;
  if (error) *error = std::string("injected failure of ") + what;
  return true;
}

bool FaultyFileLayer::ReadFile(const std::string& path, std::vector<std::uint8_t>* out, std::string* error) {
  return !FailHere("read", error) && inner_.ReadFile(path, out, error);
}

bool FaultyFileLayer::CheckWritable(const std::string& path, std::string* error) {
  return !FailHere("access check", error) && inner_.CheckWritable(path, error);
}

bool FaultyFileLayer::CreateTemp(const std::string& target, int* fd, std::string* tempPath,
                                 std::string* error) {
  return !FailHere("create", error) && inner_.CreateTemp(target, fd, tempPath, error);
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

bool FaultyFileLayer::Rename(const std::string& from, const std::string& to, std::string* error) {
  return !FailHere("rename", error) && inner_.Rename(from, to, error);
}

bool FaultyFileLayer::Remove(const std::string& path, std::string* error) {
  return !FailHere("remove", error) && inner_.Remove(path, error);
}

bool FaultyFileLayer::SyncDirectory(const std::string& directory, std::string* error) {
  return !FailHere("directory sync", error) && inner_.SyncDirectory(directory, error);
}

}  // namespace nametree::cfb
