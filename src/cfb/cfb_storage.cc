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
#include "cfb/held_files.h"
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
    if (fd_ >= 0) (void)files_.Close(fd_);
  }
  FdHandle(const FdHandle&) = delete;
  FdHandle& operator=(const FdHandle&) = delete;

  int Fd() const { return fd_; }
  FileLayer& Files() const { return files_; }

 private:
  FileLayer& files_;
  int fd_;
};

class FdSource final : public ByteSource {
 public:
  FdSource(std::shared_ptr<FdHandle> handle, std::uint64_t size) : handle_(std::move(handle)), size_(size) {}
  const FdHandle& Handle() const { return *handle_; }
  std::uint64_t Size() const override { return size_; }
  Status ReadAt(std::uint64_t offset, std::uint8_t* data, std::size_t size) override {
    std::size_t got = 0;
    if (Status s = handle_->Files().ReadAt(handle_->Fd(), offset, data, size, &got); !s.ok()) return s;
    if (got != size) return Status::Unreadable("the file ended early; was it cut short while open?");
    return Status();
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
  HeldFile held;                   // lists the locked file while `lock` holds it
};

namespace {

class VectorSink final : public ByteSink {
 public:
  explicit VectorSink(Bytes* out) : out_(*out) {}
  Status Put(const std::uint8_t* data, std::size_t size) override {
    out_.insert(out_.end(), data, data + size);
    return Status();
  }

 private:
  Bytes& out_;
};

// Gathers small pieces into large writes; large pieces go straight out.
// What went out is handed to the disk a few megabytes at a time, so the
// Sync that ends a commit waits for the last piece, not for the file.
class FileSink final : public ByteSink {
 public:
  FileSink(FileLayer& files, int fd, std::string name) : files_(files), fd_(fd), name_(std::move(name)) {
    buffer_.reserve(kBuffer);
  }

  Status Put(const std::uint8_t* data, std::size_t size) override {
    if (buffer_.size() + size <= kBuffer) {
      buffer_.insert(buffer_.end(), data, data + size);
      return Status();
    }
    if (Status s = Flush(); !s.ok()) return s;
    return size < kBuffer ? Put(data, size) : WriteAll(data, size);
  }

  Status Flush() {
    Status s = WriteAll(buffer_.data(), buffer_.size());
    buffer_.clear();
    return s;
  }

  // Runs of a file go from file to file inside the kernel where it can.
  Status CopyFrom(ByteSource& source, std::uint64_t offset, std::uint64_t length) override {
    auto* file = dynamic_cast<FdSource*>(&source);
    if (!file || !inKernel_ || length < kInKernel) return ByteSink::CopyFrom(source, offset, length);
    if (Status s = Flush(); !s.ok()) return s;
    for (std::uint64_t done = 0; done < length;) {
      std::size_t copied = 0;
      const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(length - done, kPiece));
      if (Status s = files_.CopyRange(file->Handle().Fd(), offset + done, fd_, n, &copied); !s.ok()) {
        if (s.code() != Status::Code::kUnsupported || done > 0) return s.Prefixed("cannot write " + name_ + ": ");
        inKernel_ = false;
        return ByteSink::CopyFrom(source, offset, length);
      }
      if (copied == 0) return Status::IoError("cannot write " + name_ + ": the copy stopped short");
      done += copied;
      Went(copied);
    }
    return Status();
  }

 private:
  static constexpr std::size_t kBuffer = std::size_t{1} << 20;
  static constexpr std::size_t kInKernel = std::size_t{64} << 10;
  static constexpr std::size_t kPiece = std::size_t{4} << 20;

  Status WriteAll(const std::uint8_t* data, std::size_t size) {
    for (std::size_t done = 0; done < size;) {
      std::size_t written = 0;
      // mutate: commit-write-past-piece
      if (Status s = files_.Write(fd_, data + done, std::min(size - done, kPiece), &written); !s.ok())
        return s.Prefixed("cannot write " + name_ + ": ");
      if (written == 0) return Status::IoError("cannot write " + name_ + ": no space was taken");
      done += written;
      Went(written);
    }
    return Status();
  }

  void Went(std::size_t bytes) {
    end_ += bytes;
    if (end_ - handed_ < kPiece) return;
    files_.StartWriteback(fd_, handed_, end_ - handed_);
    handed_ = end_;
  }

  FileLayer& files_;
  int fd_;
  std::string name_;
  Bytes buffer_;
  bool inKernel_ = true;
  std::uint64_t end_ = 0;     // bytes in the file so far
  std::uint64_t handed_ = 0;  // of which handed to the disk
};

// "2.50", "10.0", "100.0": three digits, at least one after the point.
std::string Seconds(int milliseconds) {
  const double s = std::max(milliseconds, 0) / 1000.0;
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", s < 10 ? 2 : 1, s);
  return text;
}

Status WritableChecks(const std::string& path, const FileInfo& info) {
  if (!info.Regular()) return Status::NotRegular(path + " is not a regular file");
  // Checked by hand: the superuser's writes pass every access check.
  // mutate: read-only-accepted
  if ((info.mode & 0222) == 0) return Status::Denied(path + " is read-only");
  if (info.links > 1)
    return Status::Refused(path + " has " + std::to_string(info.links) +
                           " names (hard links); writing it would split them, so it is not opened for writing");
  return Status();
}

// Opens and, for writing, locks the file that `target` names, making sure
// that the locked file is still the one at the path.
Status OpenAndLock(FileLayer& files, const std::string& target, bool writable, int waitMs,
                   std::shared_ptr<FdHandle>* handle, FileInfo* info) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(std::max(waitMs, 0));
  for (int attempt = 0; attempt < 1000; ++attempt) {
    FileInfo seen;
    bool exists = false;
    if (Status s = files.StatPath(target, &seen, &exists); !s.ok()) return s;
    if (!exists) return Status::NotFound(target + " does not exist");
    // Before any open that could block on a FIFO or device.
    if (!seen.Regular()) return Status::NotRegular(target + " is not a regular file");
    if (writable)
      if (Status s = WritableChecks(target, seen); !s.ok()) return s;
    int fd = -1;
    if (Status s = files.OpenExisting(target, writable, &fd); !s.ok()) return s;
    *handle = std::make_shared<FdHandle>(files, fd);
    if (Status s = files.StatFd(fd, info); !s.ok()) return s;
    if (!info->Regular()) return Status::NotRegular(target + " is not a regular file");
    if (!writable) return Status();
    if (Status s = WritableChecks(target, *info); !s.ok()) return s;
    // mutate: second-writer-here-waits
    if (IsHeldHere(info->device, info->inode))
      return Status::Busy(target + " is open for writing in this program already; close it there first");
    for (;;) {
      bool busy = false;
      if (Status s = files.TryLock(fd, &busy); !s.ok()) return s.Prefixed("cannot lock " + target + ": ");
      if (!busy) break;
      if (Clock::now() >= deadline)
        // mutate: lock-wait-kind-lost
        return Status::Busy(target + " is being changed by another program; gave up waiting after " +
                               Seconds(waitMs) + " s");
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // The writer before us may have renamed a new file into place.
    FileInfo now;
    if (Status s = files.StatPath(target, &now, &exists); !s.ok()) return s;
    if (exists && now.SameFile(*info)) return files.StatFd(fd, info);
    handle->reset();
  }
  return Status::Busy(target + " keeps being replaced; gave up");
}

}  // namespace

Status OpenCompoundFile(FileLayer& files, const std::string& path, bool writable,
                        const CompoundFileOptions& options, ComPtr<IStorage>* out) {
  if (!out) return Status::Invalid("no place for the storage");
  out->Reset();
  auto file = std::make_shared<FileState>();
  file->path = path;
  file->writable = writable;
  file->onDisk = true;
  if (Status s = files.ResolvePath(path, &file->target); !s.ok()) return s;
  std::shared_ptr<FdHandle> handle;
  Status s = OpenAndLock(files, file->target, writable, options.lockWaitMilliseconds, &handle, &file->locked);
  if (!s.ok()) return s;
  ReadResult read;
  if (s = ReadCompoundFile(std::make_shared<FdSource>(handle, file->locked.size), false, &read); !s.ok()) return s;
  file->format = {read.layout->majorVersion, read.layout->sectorSize};
  if (writable) {
    // Two threads may both have passed the look in OpenAndLock; one lock wins.
    if (!file->held.Take(file->locked.device, file->locked.inode))
      return Status::Busy(file->target + " is open for writing in this program already; close it there first");
    file->lock = std::move(handle);
  }
  *out = MakeRoot(std::move(read.layout), std::move(read.root), std::move(file), std::move(read.warnings));
  return Status();
}

Status CreateCompoundFile(FileLayer&, const std::string& path, int majorVersion,
                          const CompoundFileOptions& options, ComPtr<IStorage>* out) {
  if (!out) return Status::Invalid("no place for the storage");
  out->Reset();
  if (majorVersion != 3 && majorVersion != 4)
    return Status::Invalid("major version " + std::to_string(majorVersion) + " is not 3 or 4");
  auto file = std::make_shared<FileState>();
  file->path = path;
  file->writable = true;
  file->exclusive = options.exclusive;
  file->format = {majorVersion, majorVersion == 4 ? 4096u : 512u};
  auto root = std::make_shared<DocNode>();
  root->storage = true;
  *out = MakeRoot(nullptr, std::move(root), std::move(file), {});
  return Status();
}

Status CommitCompoundFile(FileLayer& files, IStorage* storage, const CompoundFileOptions& options,
                          std::vector<std::string>* leftOut) {
  DocStorage* root = RootOf(storage);
  if (!root) return Status::Invalid("the storage was not opened from a compound file");
  FileState& file = *root->File();
  if (file.path.empty()) return Status::Invalid("the storage was not opened from a compound file");
  if (!file.writable) return Status::Invalid(file.path + " was opened read-only");

  std::string target = file.target;
  FileInfo like;
  bool haveLike = file.onDisk;
  if (file.onDisk) {
    like = file.locked;
  } else {
    bool exists = false;
    if (Status s = files.StatPath(file.path, &like, &exists); !s.ok()) return s;
    if (exists && file.exclusive) return Status::Refused(file.path + " already exists; it is not replaced");
    if (exists && !like.Regular()) return Status::NotRegular(file.path + " is not a regular file");
    if (exists)
      if (Status s = files.ResolvePath(file.path, &target); !s.ok()) return s;
    if (!exists) target = file.path;
    haveLike = exists;
  }
  RemoveStaleTemps(files, target);

  int fd = -1;
  std::string temp;
  if (Status s = files.CreateTemp(target, haveLike ? &like : nullptr, &fd, &temp); !s.ok()) return s;
  auto handle = std::make_shared<FdHandle>(files, fd);
  std::string named = temp;  // the temporary name to remove on failure
  auto abandon = [&](const Status& why) {
    handle.reset();
    if (!named.empty()) (void)files.Remove(named);
    return why;
  };

  FileSink sink(files, fd, temp.empty() ? "a new file beside " + target : temp);
  Status s = CheckBeforeWrite(root);
  if (s.ok()) s = WriteTree(*root->Node(), root->Tree()->layout, file.format, options.force, sink, leftOut);
  if (s.ok()) s = sink.Flush();
  if (!s.ok()) return abandon(s);
  // mutate: sync-failure-ignored
  if (s = files.Sync(fd); !s.ok()) return abandon(s.Suffixed(" (a new file beside " + target + ")"));
  if (file.onDisk) {
    FileInfo now, still;
    bool exists = false;
    s = files.StatPath(target, &now, &exists);
    if (s.ok()) s = files.StatFd(file.lock->Fd(), &still);
    if (!s.ok()) return abandon(s);
    if (!exists || !now.SameFile(file.locked) || !still.Unchanged(file.locked))
      return abandon(Status::Busy(
          target + " was changed or replaced by another program since it was opened; it is left as it is"));
  }
  // The new file is locked before anyone can see it.
  bool busy = false;
  if (s = files.TryLock(fd, &busy); !s.ok()) return abandon(s.Prefixed("cannot lock the new file: "));
  // A created file takes a new name, never replacing one that appeared meanwhile.
  const bool replace = file.onDisk || !file.exclusive;
  if (temp.empty() && !replace) {
    if (s = files.LinkTemp(fd, target); !s.ok()) return abandon(s);
  } else {
    if (temp.empty()) {
      named = MakeTempName(target, ::getpid(), RandomTempTail());
      if (s = files.LinkTemp(fd, named); !s.ok()) {
        named.clear();
        return abandon(s);
      }
    }
    if (s = files.Rename(named, target, replace); !s.ok()) return abandon(s);
  }
  named.clear();

  FileInfo info;
  const bool statted = files.StatFd(fd, &info).ok();
  if (file.lock) (void)file.lock->Files().Unlock(file.lock->Fd());
  file.lock = handle;
  file.held.Release();
  if (statted) {
    file.locked = info;
    // mutate: held-file-lost-at-commit
    (void)file.held.Take(info.device, info.inode);  // a new inode: nobody else lists it
  }
  file.target = target;
  file.onDisk = true;
  ForgetDamage(*root->Node());
  return files.SyncDirectory(DirectoryOf(target)).Prefixed(target + " was replaced but may not survive a crash: ");
}

}  // namespace cfb

namespace {

CompoundFileFailure FailureOf(cfb::Status::Code code) {
  using Code = cfb::Status::Code;
  switch (code) {
    case Code::kOk: return CompoundFileFailure::kNone;
    case Code::kCorrupt:
    case Code::kShortChain:
    case Code::kUnreadable: return CompoundFileFailure::kCorrupt;
    case Code::kIoError:
    case Code::kUnsupported: return CompoundFileFailure::kIo;
    case Code::kInvalid: return CompoundFileFailure::kInvalid;
    case Code::kNotFound: return CompoundFileFailure::kNotFound;
    case Code::kDenied: return CompoundFileFailure::kDenied;
    case Code::kBusy: return CompoundFileFailure::kBusy;
    case Code::kNotRegular: return CompoundFileFailure::kNotRegular;
    case Code::kRefused: return CompoundFileFailure::kRefused;
  }
  return CompoundFileFailure::kIo;
}

constexpr char kOutOfMemory[] = "out of memory (the file or its tree is too large for the memory available)";

// Public entries promise a message, never an exception: allocation fails
// only on files or trees too large for the memory at hand.
template <class Call>
bool Guarded(CompoundFileError* error, Call call) {
  try {
    const cfb::Status s = call();
    if (!s.ok() && error) *error = {FailureOf(s.code()), s.message()};
    return s.ok();
  // mutate: out-of-memory-escapes
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  }
  if (error) *error = {CompoundFileFailure::kOutOfMemory, kOutOfMemory};
  return false;
}

template <class Call>
bool Guarded(std::string* error, Call call) {
  CompoundFileError typed;
  if (Guarded(&typed, call)) return true;
  if (error) *error = std::move(typed.message);
  return false;
}

}  // namespace

bool OpenCompoundFile(const std::string& path, bool writable, ComPtr<IStorage>* out, std::string* error) {
  return OpenCompoundFile(path, writable, {}, out, error);
}

bool OpenCompoundFile(const std::string& path, bool writable, const CompoundFileOptions& options,
                      ComPtr<IStorage>* out, std::string* error) {
  return Guarded(error, [&] { return cfb::OpenCompoundFile(cfb::SystemFiles(), path, writable, options, out); });
}

bool OpenCompoundFile(const std::string& path, bool writable, const CompoundFileOptions& options,
                      ComPtr<IStorage>* out, CompoundFileError* error) {
  return Guarded(error, [&] { return cfb::OpenCompoundFile(cfb::SystemFiles(), path, writable, options, out); });
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
                 [&] { return cfb::CreateCompoundFile(cfb::SystemFiles(), path, majorVersion, options, out); });
}

bool CreateCompoundFile(const std::string& path, int majorVersion, const CompoundFileOptions& options,
                        ComPtr<IStorage>* out, CompoundFileError* error) {
  return Guarded(error,
                 [&] { return cfb::CreateCompoundFile(cfb::SystemFiles(), path, majorVersion, options, out); });
}

bool CommitCompoundFile(IStorage* storage, std::string* error) {
  return CommitCompoundFile(storage, {}, nullptr, error);
}

bool CommitCompoundFile(IStorage* storage, const CompoundFileOptions& options,
                        std::vector<std::string>* leftOut, std::string* error) {
  return Guarded(error,
                 [&] { return cfb::CommitCompoundFile(cfb::SystemFiles(), storage, options, leftOut); });
}

bool CommitCompoundFile(IStorage* storage, const CompoundFileOptions& options,
                        std::vector<std::string>* leftOut, CompoundFileError* error) {
  return Guarded(error,
                 [&] { return cfb::CommitCompoundFile(cfb::SystemFiles(), storage, options, leftOut); });
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
  if (!out) return cfb::Status::Invalid("no place for the storage").Report(error);
  out->Reset();
  return Guarded(error, [&] {
    cfb::ReadResult read;
    if (cfb::Status s = cfb::ReadCompoundFile(cfb::MemorySource(bytes), true, &read); !s.ok()) return s;
    if (majorVersion) *majorVersion = read.layout->majorVersion;
    auto file = std::make_shared<cfb::FileState>();  // in memory: nothing to commit to
    file->format = {read.layout->majorVersion, read.layout->sectorSize};
    *out = cfb::MakeRoot(std::move(read.layout), std::move(read.root), std::move(file),
                         std::move(read.warnings));
    return cfb::Status();
  });
}

bool SerializeCompoundFile(IStorage* storage, int majorVersion, std::vector<std::uint8_t>* out,
                           std::string* error) {
  if (!storage || !out) return cfb::Status::Invalid("no storage or no output given").Report(error);
  out->clear();
  return Guarded(error, [&] {
    cfb::VectorSink sink(out);
    const cfb::WriteFormat format{majorVersion, majorVersion == 4 ? 4096u : 512u};
    if (auto* doc = dynamic_cast<cfb::DocStorage*>(storage)) {
      cfb::Status s = cfb::CheckBeforeWrite(doc);
      return s.ok() ? cfb::WriteTree(*doc->Node(), doc->Tree()->layout, format, false, sink, nullptr) : s;
    }
    std::shared_ptr<cfb::DocNode> root;
    if (cfb::Status s = cfb::ImportStorage(storage, &root); !s.ok()) return s;
    return cfb::WriteTree(*root, nullptr, format, false, sink, nullptr);
  });
}

}  // namespace nametree
