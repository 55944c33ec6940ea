// Running the built nametree program as a user would, and the file helpers
// the tests around it share.
#pragma once

#include <string>
#include <vector>

#include "support/scratch.h"

namespace nametree::test {

std::string ReadBytes(const std::string& path);  // empty when unreadable
void WriteBytes(const std::string& path, const std::string& bytes);

struct ProgramRun {
  int exit = -1;  // -1 for a signal; 124 when the time limit ended it
  std::string out, err;
};

// Runs the program with `args` and `input` on stdin, its files kept in
// `dir`. stdout goes to `out` when given (say /dev/full), else is captured;
// `seconds` > 0 limits the run.
ProgramRun RunProgram(const TempDir& dir, const std::vector<std::string>& args, const std::string& input = "",
                      const std::string& out = "", int seconds = 0);

}  // namespace nametree::test
