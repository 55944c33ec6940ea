// One whole run of a program, timed as a user would see it, for the
// benchmarks that measure the program rather than the library.
#pragma once

#include <string>
#include <vector>

namespace nametree::bench {

struct ProcessRun {
  double wall = 0;  // seconds from start to exit
  double cpu = 0;   // user + system seconds
  int status = 0;   // as wait() gives it
};

// Runs args[0] with args, its standard input, output and error on the given
// files (output and error truncated); a program that cannot be started ends
// the benchmark with a message.
ProcessRun RunProcess(std::vector<std::string> args, const std::string& in, const std::string& out,
                      const std::string& err);

}  // namespace nametree::bench
