#include "cfb/file_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "cfb/status.h"
#include "cfb/temp_names.h"

namespace nametree::cfb {
namespace {

// The code is decided here, from errno, while it is still at hand.
Status SystemError(const std::string& what) {
  const int error = errno;
  std::string message = what + ": " + std::strerror(error);
  // mutate: missing-file-kind-lost
  if (error == ENOENT) return Status::NotFound(std::move(message));
  if (error == EACCES || error == EROFS) return Status::Denied(std::move(message));
  return Status::IoError(std::move(message));
}

FileInfo InfoOf(const struct stat& st) {
  FileInfo info;
  info.device = st.st_dev;
  info.inode = st.st_ino;
  info.size = static_cast<std::uint64_t>(st.st_size);
  info.modifiedNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  info.mode = st.st_mode;
  info.owner = st.st_uid;
  info.group = st.st_gid;
  info.links = st.st_nlink;
  return info;
}

class PosixFiles final : public FileLayer {
 public:
  explicit PosixFiles(bool unnamedTemps) : unnamedTemps_(unnamedTemps) {}

  Status ResolvePath(const std::string& path, std::string* resolved) override {
    char* real = ::realpath(path.c_str(), nullptr);
    if (!real) return SystemError("cannot find " + path);
    *resolved = real;
    std::free(real);
    return Status();
  }

  Status StatPath(const std::string& path, FileInfo* info, bool* exists) override {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
      if (errno == ENOENT) {
        *exists = false;
        return Status();
      }
      return SystemError("cannot examine " + path);
    }
    *exists = true;
    *info = InfoOf(st);
    return Status();
  }

  Status OpenExisting(const std::string& path, bool writable, int* fd) override {
    const int flags = (writable ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    const int f = ::open(path.c_str(), flags);
    if (f < 0) return SystemError("cannot open " + path);
    *fd = f;
    return Status();
  }

  Status StatFd(int fd, FileInfo* info) override {
    struct stat st;
    if (::fstat(fd, &st) != 0) return SystemError("cannot examine an open file");
    *info = InfoOf(st);
    return Status();
  }

  // mutate: lock-not-taken
  Status TryLock(int fd, bool* busy) override {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    *busy = false;
    if (::fcntl(fd, F_OFD_SETLK, &lock) == 0) return Status();
    if (errno == EAGAIN || errno == EACCES) {
      *busy = true;
      return Status();
    }
    if (errno != EINVAL) return SystemError("cannot lock");
    // Kernels without per-open-file record locks still have flock.
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return Status();
    if (errno == EWOULDBLOCK) {
      *busy = true;
      return Status();
    }
    return SystemError("cannot lock");
  }

  Status Unlock(int fd) override {
    struct flock lock {};
    lock.l_type = F_UNLCK;
    lock.l_whence = SEEK_SET;
    if (::fcntl(fd, F_OFD_SETLK, &lock) == 0 || (errno == EINVAL && ::flock(fd, LOCK_UN) == 0)) return Status();
    return SystemError("cannot unlock");
  }

  Status ReadAt(int fd, std::uint64_t offset, std::uint8_t* data, std::size_t size, std::size_t* got) override {
    std::size_t done = 0;
    while (done < size) {
      const ssize_t n = ::pread(fd, data + done, size - done, static_cast<off_t>(offset + done));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return SystemError("cannot read");
      if (n == 0) break;
      done += static_cast<std::size_t>(n);
    }
    *got = done;
    return Status();
  }

  Status CreateTemp(const std::string& target, const FileInfo* like, int* fd, std::string* tempPath) override {
    const mode_t mode = like ? static_cast<mode_t>(like->mode & 07777) : 0666;
    int f = -1;
    std::string name;
    if (unnamedTemps_) f = ::open(DirectoryOf(target).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, mode & 0777);
    if (f < 0 && unnamedTemps_ && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL &&
        errno != ENOENT)
      return SystemError("cannot create a file beside " + target);
    if (f < 0) {
      for (int attempt = 0; attempt < 100 && f < 0; ++attempt) {
        name = MakeTempName(target, ::getpid(), RandomTempTail());
        f = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode & 0777);
        if (f < 0 && errno != EEXIST) return SystemError("cannot create a file beside " + target);
      }
      if (f < 0) return Status::IoError("cannot find a free temporary name beside " + target);
    }
    if (like) {
      // Only where the caller may: a user can give away neither owner nor
      // foreign group, and the file then stays theirs.
      if (::fchown(f, like->owner, like->group) != 0 && errno == EPERM) (void)::fchown(f, -1, like->group);
      // After fchown, which clears the set-ID bits.
      if (::fchmod(f, mode) != 0) {
        const int saved = errno;
        ::close(f);
        if (!name.empty()) ::unlink(name.c_str());
        errno = saved;
        return SystemError("cannot set the permissions of a file beside " + target);
      }
    }
    *fd = f;
    *tempPath = std::move(name);
    return Status();
  }

  Status LinkTemp(int fd, const std::string& path) override {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) != 0)
      return SystemError("cannot name the new file " + path);
    return Status();
  }

  Status CopyRange(int inFd, std::uint64_t offset, int outFd, std::size_t size, std::size_t* copied) override {
    for (;;) {
      loff_t from = static_cast<loff_t>(offset);
      const ssize_t n = ::copy_file_range(inFd, &from, outFd, nullptr, size, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        const bool unsupported = errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP;
        const Status failed = SystemError("cannot copy");
        return unsupported ? Status::Unsupported(failed.message()) : failed;
      }
      *copied = static_cast<std::size_t>(n);
      return Status();
    }
  }

  Status Write(int fd, const std::uint8_t* data, std::size_t size, std::size_t* written) override {
    for (;;) {
      const ssize_t n = ::write(fd, data, size);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return SystemError("cannot write");
      *written = static_cast<std::size_t>(n);
      return Status();
    }
  }

  void StartWriteback(int fd, std::uint64_t offset, std::uint64_t size) override {
    (void)::sync_file_range(fd, static_cast<off64_t>(offset), static_cast<off64_t>(size), SYNC_FILE_RANGE_WRITE);
  }

  Status Sync(int fd) override {
    if (::fsync(fd) != 0) return SystemError("cannot flush to disk");
    return Status();
  }

  Status Close(int fd) override {
    if (::close(fd) != 0) return SystemError("cannot close");
    return Status();
  }

  Status Rename(const std::string& from, const std::string& to, bool replace) override {
    const int rc = replace ? ::rename(from.c_str(), to.c_str())
                           : ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
    if (rc != 0) return SystemError("cannot rename " + from + " to " + to);
    return Status();
  }

  Status Remove(const std::string& path) override {
    if (::unlink(path.c_str()) != 0) return SystemError("cannot remove " + path);
    return Status();
  }

  Status SyncDirectory(const std::string& directory) override {
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return SystemError("cannot open directory " + directory);
    const bool ok = ::fsync(fd) == 0;
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return ok ? Status() : SystemError("cannot flush directory " + directory);
  }

  Status ListDirectory(const std::string& directory, std::vector<std::string>* names) override {
    DIR* d = ::opendir(directory.c_str());
    if (!d) return SystemError("cannot list " + directory);
    names->clear();
    while (const dirent* e = ::readdir(d)) names->push_back(e->d_name);
    ::closedir(d);
    return Status();
  }

 private:
  bool unnamedTemps_;
};

}  // namespace

bool FileInfo::Regular() const { return S_ISREG(mode); }

FileLayer& SystemFiles() {
  static PosixFiles files(true);
  return files;
}

FileLayer& SystemFilesWithNamedTemps() {
  static PosixFiles files(false);
  return files;
}

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

void RemoveStaleTemps(FileLayer& files, const std::string& target) {
  const std::string directory = DirectoryOf(target);
  const std::size_t slash = target.rfind('/');
  const std::string document = slash == std::string::npos ? target : target.substr(slash + 1);
  std::vector<std::string> names;
  if (!files.ListDirectory(directory, &names).ok()) return;
  for (const std::string& name : names) {
    const std::optional<long> owner = TempNameOwner(name, document);
    if (!owner) continue;
    const long pid = *owner;
    // A commit runs start to end in one call, so one of ours is stale too.
    if (pid != ::getpid() && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH)) continue;
    (void)files.Remove(directory + "/" + name);
  }
}

}  // namespace nametree::cfb
