// Runs a test's body in a child process whose address space may grow by
// only so much, to see what code does when the system has no more memory
// to map.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace nametree::test {

// False where the runtime (a sanitizer, valgrind) cannot live under such a
// limit; tests skip then.
bool AddressLimitsWork();

// Runs body in a child that may map roomMb MiB beyond what it holds. The
// child exits with body's result, or 125 should body throw; what body writes to its argument comes
// back in *said. Returns the exit code, or 128 plus the signal that ended it.
int RunWithinAddressSpace(std::size_t roomMb, const std::function<int(std::string&)>& body, std::string* said);

}  // namespace nametree::test
