// The files this process holds the write lock of, by device and inode.
//
// A file's lock belongs to the open that took it, so a second writable
// open in this same process would wait for a lock that only its own
// program can release. Asking here first lets it fail at once instead.
//
// Invariant: a file is listed exactly while a HeldFile naming it is alive;
// a storage keeps one beside its lock for as long as it holds the lock and
// moves it to the new file when a commit moves the lock. Safe to use from
// any thread; a child made by fork starts with none listed as its own.
#pragma once

#include <cstdint>

namespace nametree::cfb {

class HeldFile {
 public:
  HeldFile() = default;
  // Lists the file; false (and listing nothing) when it is listed already.
  bool Take(std::uint64_t device, std::uint64_t inode);
  ~HeldFile() { Release(); }
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;

  void Release();

 private:
  bool held_ = false;
  int process_ = 0;
  std::uint64_t device_ = 0, inode_ = 0;
};

// Whether this process holds the file's lock now.
bool IsHeldHere(std::uint64_t device, std::uint64_t inode);

}  // namespace nametree::cfb
