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

bool SystemError(const std::string& what, std::string* error) {
  return Fail(error, what + ": " + std::strerror(errno));
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

  bool ResolvePath(const std::string& path, std::string* resolved, std::string* error) override {
    char* real = ::realpath(path.c_str(), nullptr);
    if (!real) return SystemError("cannot find " + path, error);
    *resolved = real;
    std::free(real);
    return true;
  }

  bool StatPath(const std::string& path, FileInfo* info, bool* exists, std::string* error) override {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
      if (errno == ENOENT) {
        *exists = false;
        return true;
      }
      return SystemError("cannot examine " + path, error);
    }
    *exists = true;
    *info = InfoOf(st);
    return true;
  }

  bool OpenExisting(const std::string& path, bool writable, int* fd, std::string* error) override {
    const int flags = (writable ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    const int f = ::open(path.c_str(), flags);
    if (f < 0) return SystemError("cannot open " + path, error);
    *fd = f;
    return true;
  }

  bool StatFd(int fd, FileInfo* info, std::string* error) override {
    struct stat st;
    if (::fstat(fd, &st) != 0) return SystemError("cannot examine an open file", error);
    *info = InfoOf(st);
    return true;
  }

  bool TryLock(int fd, bool* busy, std::string* error) override {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    *busy = false;
    if (::fcntl(fd, F_OFD_SETLK, &lock) == 0) return true;
    if (errno == EAGAIN || errno == EACCES) {
      *busy = true;
      return true;
    }
    if (errno != EINVAL) return SystemError("cannot lock", error);
    // Kernels without per-open-file record locks still have flock.
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno == EWOULDBLOCK) {
      *busy = true;
      return true;
    }
    return SystemError("cannot lock", error);
  }

  bool Unlock(int fd, std::string* error) override {
    struct flock lock {};
    lock.l_type = F_UNLCK;
    lock.l_whence = SEEK_SET;
    if (::fcntl(fd, F_OFD_SETLK, &lock) == 0 || (errno == EINVAL && ::flock(fd, LOCK_UN) == 0)) return true;
    return SystemError("cannot unlock", error);
  }

  bool ReadAt(int fd, std::uint64_t offset, std::uint8_t* data, std::size_t size, std::size_t* got,
              std::string* error) override {
    std::size_t done = 0;
    while (done < size) {
      const ssize_t n = ::pread(fd, data + done, size - done, static_cast<off_t>(offset + done));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return SystemError("cannot read", error);
      if (n == 0) break;
      done += static_cast<std::size_t>(n);
    }
    *got = done;
    return true;
  }

  bool CreateTemp(const std::string& target, const FileInfo* like, int* fd, std::string* tempPath,
                  std::string* error) override {
    const mode_t mode = like ? static_cast<mode_t>(like->mode & 07777) : 0666;
    int f = -1;
    std::string name;
    if (unnamedTemps_) f = ::open(DirectoryOf(target).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, mode & 0777);
    if (f < 0 && unnamedTemps_ && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL &&
        errno != ENOENT)
      return SystemError("cannot create a file beside " + target, error);
    if (f < 0) {
      for (int attempt = 0; attempt < 100 && f < 0; ++attempt) {
        name = MakeTempName(target, ::getpid(), RandomTempTail());
        f = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode & 0777);
        if (f < 0 && errno != EEXIST) return SystemError("cannot create a file beside " + target, error);
      }
      if (f < 0) return Fail(error, "cannot find a free temporary name beside " + target);
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
        return SystemError("cannot set the permissions of a file beside " + target, error);
      }
    }
    *fd = f;
    *tempPath = std::move(name);
    return true;
  }

  bool LinkTemp(int fd, const std::string& path, std::string* error) override {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) != 0)
      return SystemError("cannot name the new file " + path, error);
    return true;
  }

  bool CopyRange(int inFd, std::uint64_t offset, int outFd, std::size_t size, std::size_t* copied,
                 bool* unsupported, std::string* error) override {
    *unsupported = false;
    for (;;) {
      loff_t from = static_cast<loff_t>(offset);
      const ssize_t n = ::copy_file_range(inFd, &from, outFd, nullptr, size, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        *unsupported = errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP;
        return SystemError("cannot copy", error);
      }
      *copied = static_cast<std::size_t>(n);
      return true;
    }
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

  bool Rename(const std::string& from, const std::string& to, bool replace, std::string* error) override {
    const int rc = replace ? ::rename(from.c_str(), to.c_str())
                           : ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
    if (rc != 0) return SystemError("cannot rename " + from + " to " + to, error);
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

  bool ListDirectory(const std::string& directory, std::vector<std::string>* names,
                     std::string* error) override {
    DIR* d = ::opendir(directory.c_str());
    if (!d) return SystemError("cannot list " + directory, error);
    names->clear();
    while (const dirent* e = ::readdir(d)) names->push_back(e->d_name);
    ::closedir(d);
    return true;
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
  std::string ignored;
  if (!files.ListDirectory(directory, &names, &ignored)) return;
  for (const std::string& name : names) {
    const std::optional<long> owner = TempNameOwner(name, document);
    if (!owner) continue;
    const long pid = *owner;
    // A commit runs start to end in one call, so one of ours is stale too.
    if (pid != ::getpid() && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH)) continue;
    files.Remove(directory + "/" + name, &ignored);
  }
}

}  // namespace nametree::cfb
