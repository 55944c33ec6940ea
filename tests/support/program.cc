#include "support/program.h"

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace nametree::test {

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

ProgramRun RunProgram(const TempDir& dir, const std::vector<std::string>& args, const std::string& input,
                      const std::string& out, int seconds) {
  WriteBytes(dir.File(".in"), input);
  WriteBytes(dir.File(".out"), "");
  std::string command = seconds > 0 ? "timeout " + std::to_string(seconds) + " " : "";
  command += ShellQuote(NAMETREE_CLI);
  for (const std::string& a : args) command += " " + ShellQuote(a);
  command += " >" + ShellQuote(out.empty() ? dir.File(".out") : out) + " 2>" + ShellQuote(dir.File(".err")) +
             " <" + ShellQuote(dir.File(".in"));
  const int status = std::system(command.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadBytes(dir.File(".out")), ReadBytes(dir.File(".err"))};
}

}  // namespace nametree::test
