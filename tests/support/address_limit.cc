#include "support/address_limit.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <exception>
#include <fstream>

namespace nametree::test {

bool AddressLimitsWork() {
#if defined(__SANITIZE_ADDRESS__)
  return false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  return false;
#endif
#endif
  const char* preload = std::getenv("LD_PRELOAD");
  return !(preload && std::string(preload).find("vgpreload") != std::string::npos);
}

int RunWithinAddressSpace(std::size_t roomMb, const std::function<int(std::string&)>& body, std::string* said) {
  int pipeEnds[2];
  if (::pipe(pipeEnds) != 0) return -1;
  const pid_t child = ::fork();
  if (child < 0) return -1;
  if (child == 0) {
    ::close(pipeEnds[0]);
    std::ifstream statm("/proc/self/statm");
    std::size_t pages = 0;
    statm >> pages;
    const rlim_t limit = pages * static_cast<rlim_t>(::sysconf(_SC_PAGESIZE)) + (rlim_t{roomMb} << 20);
    const rlimit r{limit, limit};
    ::setrlimit(RLIMIT_AS, &r);
    std::string out;
    int code;
    // Nothing may leave the child but its exit code: an exception would
    // run the rest of the test program in it.
    try {
      code = body(out);
    } catch (const std::exception& e) {
      out += e.what();
      code = 125;
    } catch (...) {
      code = 125;
    }
    (void)!::write(pipeEnds[1], out.data(), out.size());
    ::_exit(code);
  }
  ::close(pipeEnds[1]);
  char buffer[512];
  for (ssize_t n; (n = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0;) said->append(buffer, static_cast<std::size_t>(n));
  ::close(pipeEnds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace nametree::test
