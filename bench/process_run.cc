#include "process_run.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

extern char** environ;

namespace nametree::bench {

ProcessRun RunProcess(std::vector<std::string> args, const std::string& in, const std::string& out,
                      const std::string& err) {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t io;
  posix_spawn_file_actions_init(&io);
  posix_spawn_file_actions_addopen(&io, 0, in.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&io, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&io, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  ProcessRun run;
  struct rusage use {};
  if (posix_spawn(&pid, argv[0], &io, nullptr, argv.data(), environ) != 0 || wait4(pid, &run.status, 0, &use) < 0) {
    std::fprintf(stderr, "cannot run %s\n", argv[0]);
    std::exit(1);
  }
  run.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  posix_spawn_file_actions_destroy(&io);
  run.cpu = static_cast<double>(use.ru_utime.tv_sec + use.ru_stime.tv_sec) +
            static_cast<double>(use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e6;
  return run;
}

}  // namespace nametree::bench
