// The file operations that opening and saving a document are made of,
// behind an interface so that tests can make any single one of them fail.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace nametree::cfb {

class FileLayer {
 public:
  virtual ~FileLayer() = default;

  virtual bool ReadFile(const std::string& path, std::vector<std::uint8_t>* out, std::string* error) = 0;
  virtual bool CheckWritable(const std::string& path, std::string* error) = 0;
  // Creates a new empty file "<target>.tmp-XXXXXX" beside `target`, with
  // the permission bits of `target` when that exists.
  virtual bool CreateTemp(const std::string& target, int* fd, std::string* tempPath,
                          std::string* error) = 0;
  // Writes up to `size` bytes; *written tells how many went out.
  virtual bool Write(int fd, const std::uint8_t* data, std::size_t size, std::size_t* written,
                     std::string* error) = 0;
  virtual bool Sync(int fd, std::string* error) = 0;
  virtual bool Close(int fd, std::string* error) = 0;
  virtual bool Rename(const std::string& from, const std::string& to, std::string* error) = 0;
  virtual bool Remove(const std::string& path, std::string* error) = 0;
  virtual bool SyncDirectory(const std::string& directory, std::string* error) = 0;
};

// The operating system's files.
FileLayer& SystemFiles();

// Puts `bytes` at `path` so that a failure or crash at any point leaves
// either the old file or the whole new one: a temporary file beside it,
// written and synced, renamed over it, then the directory synced. On
// failure the temporary file is removed.
bool ReplaceFile(FileLayer& files, const std::string& path, const std::vector<std::uint8_t>& bytes,
                 std::string* error);

enum class FileFault { kFail, kShortWrite };

// Passes every call to `inner` except the one numbered `at` (from 0,
// counting every call): that one fails, or, for kShortWrite, a Write there
// stores fewer bytes than asked and says so.
class FaultyFileLayer final : public FileLayer {
 public:
  FaultyFileLayer(FileLayer& inner, FileFault fault, int at) : inner_(inner), fault_(fault), at_(at) {}

  int Calls() const { return calls_; }
  bool Fired() const { return fired_; }

  bool ReadFile(const std::string& path, std::vector<std::uint8_t>* out, std::string* error) override;
  bool CheckWritable(const std::string& path, std::string* error) override;
  bool CreateTemp(const std::string& target, int* fd, std::string* tempPath, std::string* error) override;
  bool Write(int fd, const std::uint8_t* data, std::size_t size, std::size_t* written,
             std::string* error) override;
  bool Sync(int fd, std::string* error) override;
  bool Close(int fd, std::string* error) override;
  bool Rename(const std::string& from, const std::string& to, std::string* error) override;
  bool Remove(const std::string& path, std::string* error) override;
  bool SyncDirectory(const std::string& directory, std::string* error) override;

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
