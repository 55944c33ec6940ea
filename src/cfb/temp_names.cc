#include "cfb/temp_names.h"

#include <climits>
#include <random>

namespace nametree::cfb {
namespace {

constexpr char kMarker[] = ".nametree-tmp.";
constexpr std::size_t kTailLength = 6;
constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";

bool IsTailCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

std::string TempName(const std::string& target, const std::string& pid, const std::string& tail) {
  const std::size_t slash = target.rfind('/');
  const std::string directory = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  return directory + "." + name + kMarker + pid + "." + tail;
}

}  // namespace

std::string MakeTempName(const std::string& target, long pid, const std::string& tail) {
  return TempName(target, std::to_string(pid), tail);
}

std::string TempNamePattern(const std::string& target) { return TempName(target, "PID", std::string(kTailLength, 'X')); }

std::string RandomTempTail() {
  std::random_device seed;
  std::mt19937 random(seed());
  std::uniform_int_distribution<int> pick(0, sizeof kLetters - 2);
  std::string tail;
  for (std::size_t i = 0; i < kTailLength; ++i) tail += kLetters[pick(random)];
  return tail;
}

std::optional<long> TempNameOwner(const std::string& entry, const std::string& document) {
  // mutate: temp-owner-not-hidden
  const std::string prefix = "." + document + kMarker;
  if (entry.size() <= prefix.size() || entry.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
  std::size_t at = prefix.size();
  long pid = 0;
  const std::size_t digits = at;
  while (at < entry.size() && entry[at] >= '0' && entry[at] <= '9' && at - digits < 10) {
    pid = pid * 10 + (entry[at] - '0');
    ++at;
  }
  if (at == digits || entry[digits] == '0' || pid > INT_MAX) return std::nullopt;
  if (at >= entry.size() || entry[at] != '.' || entry.size() - at - 1 != kTailLength) return std::nullopt;
  for (std::size_t i = at + 1; i < entry.size(); ++i)
    // mutate: temp-tail-unchecked
    if (!IsTailCharacter(entry[i])) return std::nullopt;
  return pid;
}

}  // namespace nametree::cfb
