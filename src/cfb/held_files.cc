#include "cfb/held_files.h"

#include <unistd.h>

#include <compare>
#include <mutex>
#include <set>

namespace nametree::cfb {
namespace {

// With the process: a child made by fork inherits the list but holds no
// lock of its own, so it must wait for its parent like any other program.
struct Key {
  pid_t process;
  std::uint64_t device, inode;
  auto operator<=>(const Key&) const = default;
};

std::mutex& Guard() {
  static std::mutex m;
  return m;
}

std::set<Key>& Held() {
  static auto* held = new std::set<Key>();  // never destroyed: storages may outlive static teardown
  return *held;
}

}  // namespace

bool HeldFile::Take(std::uint64_t device, std::uint64_t inode) {
  Release();
  std::lock_guard<std::mutex> lock(Guard());
  process_ = ::getpid();
  if (!Held().insert({process_, device, inode}).second) return false;
  held_ = true;
  device_ = device;
  inode_ = inode;
  return true;
}

void HeldFile::Release() {
  if (!held_) return;
  std::lock_guard<std::mutex> lock(Guard());
  Held().erase({process_, device_, inode_});
  held_ = false;
}

bool IsHeldHere(std::uint64_t device, std::uint64_t inode) {
  std::lock_guard<std::mutex> lock(Guard());
  return Held().count({::getpid(), device, inode}) != 0;
}

}  // namespace nametree::cfb
