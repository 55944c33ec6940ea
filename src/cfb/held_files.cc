#include "cfb/held_files.h"

#include <mutex>
#include <set>
#include <utility>

namespace nametree::cfb {
namespace {

using Key = std::pair<std::uint64_t, std::uint64_t>;

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
  if (!Held().insert({device, inode}).second) return false;
  held_ = true;
  device_ = device;
  inode_ = inode;
  return true;
}

void HeldFile::Release() {
  if (!held_) return;
  std::lock_guard<std::mutex> lock(Guard());
  Held().erase({device_, inode_});
  held_ = false;
}

bool IsHeldHere(std::uint64_t device, std::uint64_t inode) {
  std::lock_guard<std::mutex> lock(Guard());
  return Held().count({device, inode}) != 0;
}

}  // namespace nametree::cfb
