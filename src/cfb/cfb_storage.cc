#include "nametree/cfb_storage.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>
#include <thread>

#include "cfb/cfb_file.h"
#include "cfb/cfb_reader.h"
#include "cfb/cfb_writer.h"
#include "cfb/doc_storage.h"
#include "cfb/status.h"
#include "cfb/temp_names.h"
#include "nametree/utf8.h"
#include "platform/counted.h"

namespace nametree {
namespace cfb {

// An open descriptor, closed when the last holder lets go.
class FdHandle {
 public:
  FdHandle(FileLayer& files, int fd) : files_(files), fd_(fd) {}
  ~FdHandle() {
    std::string ignored;
    if (fd_ >= 0) files_.Close(fd_, &ignored);
  }
  FdHandle(const FdHandle&) = delete;
  FdHandle& operator=(const FdHandle&) = delete;

  int Fd() const { return fd_; }
  FileLayer& Files() const { return files_; }
  // Closes now, reporting what the close says.
  bool Close(std::string* error) { return files_.Close(std::exchange(fd_, -1), error); }

 private:
  FileLayer& files_;
  int fd_;
};

class FdSource final : public ByteSource {
 public:
  FdSource(std::shared_ptr<FdHandle> handle, std::uint64_t size) : handle_(std::move(handle)), size_(size) {}
  const FdHandle& Handle() const { return *handle_; }
  std::uint64_t Size() const override { return size_; }
  bool ReadAt(std::uint64_t offset, std::uint8_t* data, std::size_t size, std::string* error) override {
    std::size_t got = 0;
    if (!handle_->Files().ReadAt(handle_->Fd(), offset, data, size, &got, error)) return false;
    if (got != size) return Fail(error, "the file ended early; was it cut short while open?");
    return true;
  }

 private:
  std::shared_ptr<FdHandle> handle_;
  std::uint64_t size_;
};

// What a root storage knows about the file it came from or goes to.
struct FileState {
  std::string path;    // as given
  std::string target;  // the file replaced at commit, links followed; empty until known
  bool writable = false;
  bool onDisk = false;  // false for a created file before its first commit
  bool exclusive = false;
  WriteFormat format;
  std::shared_ptr<FdHandle> lock;  // held by a writable open
  FileInfo locked;                 // the locked file as it was read
};

namespace {

class VectorSink final : public ByteSink {
 public:
  explicit VectorSink(Bytes* out) : out_(*out) {}
  bool Put(const std::uint8_t* data, std::size_t size, std::string*) override {
    out_.insert(out_.end(), data, data + size);
    return true;
  }

 private:
  Bytes& out_;
};

// Gathers small pieces into large writes; large pieces go straight out.
class FileSink final : public ByteSink {
 public:
  FileSink(FileLayer& files, int fd, std::string name) : files_(files), fd_(fd), name_(std::move(name)) {
    buffer_.reserve(kBuffer);
  }

  bool Put(const std::uint8_t* data, std::size_t size, std::string* error) override {
    if (buffer_.size() + size <= kBuffer) {
      buffer_.insert(buffer_.end(), data, data + size);
      return true;
    }
    return Flush(error) && (size < kBuffer ? Put(data, size, error) : WriteAll(data, size, error));
  }

  bool Flush(std::string* error) {
    const bool ok = WriteAll(buffer_.data(), buffer_.size(), error);
    buffer_.clear();
    return ok;
  }

  // Runs of a file go from file to file inside the kernel where it can.
  bool CopyFrom(ByteSource& source, std::uint64_t offset, std::uint64_t length, std::string* error) override {
    auto* file = dynamic_cast<FdSource*>(&source);
    if (!file || !inKernel_ || length < kInKernel) return ByteSink::CopyFrom(source, offset, length, error);
    if (!Flush(error)) return false;
    for (std::uint64_t done = 0; done < length;) {
      std::size_t copied = 0;
      bool unsupported = false;
      std::string why;
      const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(length - done, std::uint64_t{1} << 30));
      if (!files_.CopyRange(file->Handle().Fd(), offset + done, fd_, n, &copied, &unsupported, &why)) {
        if (!unsupported || done > 0) return Fail(error, "cannot write " + name_ + ": " + why);
        inKernel_ = false;
        return ByteSink::CopyFrom(source, offset, length, error);
      }
      if (copied == 0) return Fail(error, "cannot write " + name_ + ": the copy stopped short");
      done += copied;
    }
    return true;
  }

 private:
  static constexpr std::size_t kBuffer = std::size_t{1} << 20;
  static constexpr std::size_t kInKernel = std::size_t{64} << 10;

  bool WriteAll(const std::uint8_t* data, std::size_t size, std::string* error) {
    for (std::size_t done = 0; done < size;) {
      std::size_t written = 0;
      std::string why;
      if (!files_.Write(fd_, data + done, size - done, &written, &why))
        return Fail(error, "cannot write " + name_ + ": " + why);
      if (written == 0) return Fail(error, "cannot write " + name_ + ": no space was taken");
      done += written;
    }
    return true;
  }

  FileLayer& files_;
  int fd_;
  std::string name_;
  Bytes buffer_;
  bool inKernel_ = true;
};

// "2.50", "10.0", "100.0": three digits, at least one after the point.
std::string Seconds(int milliseconds) {
  const double s = std::max(milliseconds, 0) / 1000.0;
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", s < 10 ? 2 : 1, s);
  return text;
}

bool WritableChecks(const std::string& path, const FileInfo& info, std::string* error) {
  if (!info.Regular()) return Fail(error, path + " is not a regular file");
  // Checked by hand: the superuser's writes pass every access check.
  if ((info.mode & 0222) == 0) return Fail(error, path + " is read-only");
  if (info.links > 1)
    return Fail(error,
                  path + " has " + std::to_string(info.links) +
                      " names (hard links); writing it would split them, so it is not opened for writing");
  return true;
}

// Opens and, for writing, locks the file that `target` names, making sure
// that the locked file is still the one at the path.
bool OpenAndLock(FileLayer& files, const std::string& target, bool writable, int waitMs,
                 std::shared_ptr<FdHandle>* handle, FileInfo* info, std::string* error) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(std::max(waitMs, 0));
  for (int attempt = 0; attempt < 1000; ++attempt) {
    FileInfo seen;
    bool exists = false;
    if (!files.StatPath(target, &seen, &exists, error)) return false;
    if (!exists) return Fail(error, target + " does not exist");
    // Before any open that could block on a FIFO or device.
    if (!seen.Regular()) return Fail(error, target + " is not a regular file");
    if (writable && !WritableChecks(target, seen, error)) return false;
    int fd = -1;
    if (!files.OpenExisting(target, writable, &fd, error)) return false;
    *handle = std::make_shared<FdHandle>(files, fd);
    if (!files.StatFd(fd, info, error)) return false;
    if (!info->Regular()) return Fail(error, target + " is not a regular file");
    if (!writable) return true;
    if (!WritableChecks(target, *info, error)) return false;
    for (;;) {
      bool busy = false;
      if (!files.TryLock(fd, &busy, error)) return Fail(error, "cannot lock " + target + ": " + *error);
      if (!busy) break;
      if (Clock::now() >= deadline)
        return Fail(error, target + " is being changed by another program; gave up waiting after " +
                                 Seconds(waitMs) + " s");
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // The writer before us may have renamed a new file into place.
    FileInfo now;
    if (!files.StatPath(target, &now, &exists, error)) return false;
    if (exists && now.SameFile(*info)) return files.StatFd(fd, info, error);
    handle->reset();
  }
  return Fail(error, target + " keeps being replaced; gave up");
}

}  // namespace

bool OpenCompoundFile(FileLayer& files, const std::string& path, bool writable,
                      const CompoundFileOptions& options, ComPtr<IStorage>* out, std::string* error) {
  if (!out) return Fail(error, "no place for the storage");
  out->Reset();
  auto file = std::make_shared<FileState>();
  file->path = path;
  file->writable = writable;
  file->onDisk = true;
  if (!files.ResolvePath(path, &file->target, error)) return false;
  std::shared_ptr<FdHandle> handle;
  if (!OpenAndLock(files, file->target, writable, options.lockWaitMilliseconds, &handle, &file->locked,
                   error))
    return false;
  ReadResult read;
  if (!ReadCompoundFile(std::make_shared<FdSource>(handle, file->locked.size), false, &read, error))
    return false;
  file->format = {read.layout->majorVersion, read.layout->sectorSize};
  if (writable) file->lock = std::move(handle);
  *out = MakeRoot(std::move(read.layout), std::move(read.root), std::move(file), std::move(read.warnings));
  return true;
}

bool CreateCompoundFile(FileLayer&, const std::string& path, int majorVersion,
                        const CompoundFileOptions& options, ComPtr<IStorage>* out, std::string* error) {
  if (!out) return Fail(error, "no place for the storage");
  out->Reset();
  if (majorVersion != 3 && majorVersion != 4)
    return Fail(error, "major version " + std::to_string(majorVersion) + " is not 3 or 4");
  auto file = std::make_shared<FileState>();
  file->path = path;
  file->writable = true;
  file->exclusive = options.exclusive;
  file->format = {majorVersion, majorVersion == 4 ? 4096u : 512u};
  auto root = std::make_shared<DocNode>();
  root->storage = true;
  *out = MakeRoot(nullptr, std::move(root), std::move(file), {});
  return true;
}

bool CommitCompoundFile(FileLayer& files, IStorage* storage, const CompoundFileOptions& options,
                        std::vector<std::string>* leftOut, std::string* error) {
  std::string ignored;
  if (!error) error = &ignored;
  DocStorage* root = RootOf(storage);
  if (!root) return Fail(error, "the storage was not opened from a compound file");
  FileState& file = *root->File();
  if (file.path.empty()) return Fail(error, "the storage was not opened from a compound file");
  if (!file.writable) return Fail(error, file.path + " was opened read-only");

  std::string target = file.target;
  FileInfo like;
  bool haveLike = file.onDisk;
  if (file.onDisk) {
    like = file.locked;
  } else {
    bool exists = false;
    if (!files.StatPath(file.path, &like, &exists, error)) return false;
    if (exists && file.exclusive) return Fail(error, file.path + " already exists; it is not replaced");
    if (exists && !like.Regular()) return Fail(error, file.path + " is not a regular file");
    if (exists && !files.ResolvePath(file.path, &target, error)) return false;
    if (!exists) target = file.path;
    haveLike = exists;
  }
  RemoveStaleTemps(files, target);

  int fd = -1;
  std::string temp;
  if (!files.CreateTemp(target, haveLike ? &like : nullptr, &fd, &temp, error)) return false;
  auto handle = std::make_shared<FdHandle>(files, fd);
  std::string named = temp;  // the temporary name to remove on failure
  auto abandon = [&](const std::string& why) {
    std::string cleanup;
    handle.reset();
    if (!named.empty()) files.Remove(named, &cleanup);
    return Fail(error, why);
  };

  FileSink sink(files, fd, temp.empty() ? "a new file beside " + target : temp);
  if (!CheckBeforeWrite(root, error) ||
      !WriteTree(*root->Node(), root->Tree()->layout, file.format, options.force, sink, leftOut, error) ||
      !sink.Flush(error))
    return abandon(*error);
  if (!files.Sync(fd, error)) return abandon(*error + " (a new file beside " + target + ")");
  if (file.onDisk) {
    FileInfo now, still;
    bool exists = false;
    if (!files.StatPath(target, &now, &exists, error) || !files.StatFd(file.lock->Fd(), &still, error))
      return abandon(*error);
    if (!exists || !now.SameFile(file.locked) || !still.Unchanged(file.locked))
      return abandon(target +
                     " was changed or replaced by another program since it was opened; it is left as it is");
  }
  // The new file is locked before anyone can see it.
  bool busy = false;
  if (!files.TryLock(fd, &busy, error)) return abandon("cannot lock the new file: " + *error);
  // A created file takes a new name, never replacing one that appeared meanwhile.
  const bool replace = file.onDisk || !file.exclusive;
  if (temp.empty() && !replace) {
    if (!files.LinkTemp(fd, target, error)) return abandon(*error);
  } else {
    if (temp.empty()) {
      named = MakeTempName(target, ::getpid(), RandomTempTail());
      if (!files.LinkTemp(fd, named, error)) {
        named.clear();
        return abandon(*error);
      }
    }
    if (!files.Rename(named, target, replace, error)) return abandon(*error);
  }
  named.clear();

  FileInfo info;
  const bool statted = files.StatFd(fd, &info, &ignored);
  if (file.lock) file.lock->Files().Unlock(file.lock->Fd(), &ignored);
  file.lock = handle;
  if (statted) file.locked = info;
  file.target = target;
  file.onDisk = true;
  ForgetDamage(*root->Node());
  if (!files.SyncDirectory(DirectoryOf(target), error))
    return Fail(error, target + " was replaced but may not survive a crash: " + *error);
  return true;
}

}  // namespace cfb

namespace {

// Public entries promise a message, never an exception: allocation fails
// only on files or trees too large for the memory at hand.
template <class Call>
bool Guarded(std::string* error, Call call) {
  try {
    return call();
  } catch (const std::bad_alloc&) {
    return cfb::Fail(error, "out of memory (the file or its tree is too large for the memory available)");
  } catch (const std::length_error&) {
    return cfb::Fail(error, "out of memory (the file or its tree is too large for the memory available)");
  }
}

}  // namespace

bool OpenCompoundFile(const std::string& path, bool writable, ComPtr<IStorage>* out, std::string* error) {
  return OpenCompoundFile(path, writable, {}, out, error);
}

bool OpenCompoundFile(const std::string& path, bool writable, const CompoundFileOptions& options,
                      ComPtr<IStorage>* out, std::string* error) {
  return Guarded(error, [&] { return cfb::OpenCompoundFile(cfb::SystemFiles(), path, writable, options, out, error); });
}

bool CreateCompoundFile(const std::string& path, ComPtr<IStorage>* out, std::string* error) {
  return CreateCompoundFile(path, 3, {}, out, error);
}

bool CreateCompoundFile(const std::string& path, int majorVersion, ComPtr<IStorage>* out,
                        std::string* error) {
  return CreateCompoundFile(path, majorVersion, {}, out, error);
}

bool CreateCompoundFile(const std::string& path, int majorVersion, const CompoundFileOptions& options,
                        ComPtr<IStorage>* out, std::string* error) {
  return Guarded(error,
                 [&] { return cfb::CreateCompoundFile(cfb::SystemFiles(), path, majorVersion, options, out, error); });
}

bool CommitCompoundFile(IStorage* storage, std::string* error) {
  return CommitCompoundFile(storage, {}, nullptr, error);
}

bool CommitCompoundFile(IStorage* storage, const CompoundFileOptions& options,
                        std::vector<std::string>* leftOut, std::string* error) {
  return Guarded(error,
                 [&] { return cfb::CommitCompoundFile(cfb::SystemFiles(), storage, options, leftOut, error); });
}

std::vector<std::string> CompoundFileWarnings(IStorage* storage) {
  cfb::DocStorage* root = cfb::RootOf(storage);
  return root ? root->Tree()->warnings : std::vector<std::string>{};
}

CompoundEntryState CompoundFileEntryState(IStorage* storage, const std::string& name) {
  cfb::DocStorage* root = cfb::RootOf(storage);
  if (!root) return CompoundEntryState::kAbsent;
  try {
    return root->State(FromUtf8(name));
  } catch (const std::bad_alloc&) {
    return CompoundEntryState::kDamaged;  // unknown is never taken for absent
  }
}

namespace cfb {

std::shared_ptr<HandleLedger> CompoundFileLedger(IStorage* storage) {
  auto* doc = dynamic_cast<cfb::DocStorage*>(storage);
  return doc ? doc->Ledger() : nullptr;
}

}  // namespace cfb

bool ParseCompoundFile(const std::vector<std::uint8_t>& bytes, ComPtr<IStorage>* out, std::string* error,
                       int* majorVersion) {
  if (!out) return cfb::Fail(error, "no place for the storage");
  out->Reset();
  return Guarded(error, [&] {
    cfb::ReadResult read;
    if (!cfb::ReadCompoundFile(cfb::MemorySource(bytes), true, &read, error)) return false;
    if (majorVersion) *majorVersion = read.layout->majorVersion;
    auto file = std::make_shared<cfb::FileState>();  // in memory: nothing to commit to
    file->format = {read.layout->majorVersion, read.layout->sectorSize};
    *out = cfb::MakeRoot(std::move(read.layout), std::move(read.root), std::move(file),
                         std::move(read.warnings));
    return true;
  });
}

bool SerializeCompoundFile(IStorage* storage, int majorVersion, std::vector<std::uint8_t>* out,
                           std::string* error) {
  if (!storage || !out) return cfb::Fail(error, "no storage or no output given");
  out->clear();
  return Guarded(error, [&] {
    cfb::VectorSink sink(out);
    const cfb::WriteFormat format{majorVersion, majorVersion == 4 ? 4096u : 512u};
    if (auto* doc = dynamic_cast<cfb::DocStorage*>(storage))
      return cfb::CheckBeforeWrite(doc, error) &&
             cfb::WriteTree(*doc->Node(), doc->Tree()->layout, format, false, sink, nullptr, error);
    std::shared_ptr<cfb::DocNode> root;
    if (!cfb::ImportStorage(storage, &root, error)) return false;
    return cfb::WriteTree(*root, nullptr, format, false, sink, nullptr, error);
  });
}

}  // namespace nametree
