// Records the largest single allocation made while a probe is alive, so
// that a test can show a reader never sizes memory from untrusted counts.
#pragma once

#include <cstddef>

namespace nametree::test {

class AllocationProbe {
 public:
  AllocationProbe();
  ~AllocationProbe();
  AllocationProbe(const AllocationProbe&) = delete;
  AllocationProbe& operator=(const AllocationProbe&) = delete;

  std::size_t Largest() const;
  // False in sanitizer builds, whose runtime owns operator new.
  static bool Available();
};

}  // namespace nametree::test
