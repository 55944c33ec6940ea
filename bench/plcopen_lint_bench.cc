// lint of PLCopen XML projects, whole process, against pugixml parsing the
// same files, measured in the same run. The whole directory is linted in
// one run of the program; the largest file is then linted alone, and its
// judging (import, document check, naming rules) is timed in this process
// against pugixml parsing it. Usage: plcopen_lint_bench [DIR] [PROGRAM]
// [RUNS]; without DIR it reads NAMETREE_PLCOPEN_DIR, else
// /work/shared/plcopen, and skips with a message when that is absent.
#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <pugixml.hpp>

#include "nametree/document_check.h"
#include "nametree/keyword_sets.h"
#include "nametree/name_server.h"
#include "nametree/plcopen_import.h"
#include "nametree/plcopen_rules.h"
#include "process_run.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string program = NAMETREE_PROGRAM;
int runs = 7;

double Since(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

double lastCpu = 0;  // user + system seconds of the last Run

// Wall seconds of one run of the program, its output thrown away.
double Run(const std::vector<std::string>& words) {
  std::vector<std::string> args{program};
  args.insert(args.end(), words.begin(), words.end());
  const nametree::bench::ProcessRun run = nametree::bench::RunProcess(args, "/dev/null", "/dev/null", "/dev/null");
  lastCpu = run.cpu;
  // Findings exit 1; anything else means the run did not do the work.
  if (!WIFEXITED(run.status) || WEXITSTATUS(run.status) > 1) {
    std::fprintf(stderr, "%s lint failed (status %d)\n", program.c_str(), run.status);
    std::exit(1);
  }
  return run.wall;
}

template <class F>
double Median(F&& once) {
  std::vector<double> t;
  for (int i = 0; i < runs; ++i) t.push_back(once());
  std::sort(t.begin(), t.end());
  return t[t.size() / 2];
}

double Parse(const std::vector<std::string>& files) {
  const auto start = Clock::now();
  for (const std::string& f : files) {
    pugi::xml_document doc;
    if (!doc.load_file(f.c_str())) std::fprintf(stderr, "pugixml cannot parse %s\n", f.c_str());
  }
  return Since(start);
}

// Seconds of each part of the last Judge: keywords, import, document
// check, naming rules.
double parts[4];

// What lint does with one file, as the program does it by default.
double Judge(const std::string& file) {
  const auto start = Clock::now();
  auto mark = start;
  auto lap = [&](int i) {
    const auto now = Clock::now();
    parts[i] = std::chrono::duration<double>(now - mark).count();
    mark = now;
  };
  nametree::CNameServer server;
  for (std::u16string_view word : nametree::KeywordSet("iec61131-3-ed3")) server.AddKeyword(nametree::CString(word));
  lap(0);  nametree::plcopen::ImportReport report;
  nametree::plcopen::ImportOptions options;
  options.propose = true;
  if (nametree::plcopen::ImportPlcopenFile(file, server, &report, options).status != nametree::plcopen::ImportStatus::kOk)
    std::fprintf(stderr, "cannot import %s\n", file.c_str());
  lap(1);  nametree::DocumentCheckOptions check;
  check.profile = options.profile;
  const auto findings = nametree::CheckDocument(server, check);
  lap(2);  const auto rules = nametree::plcopen::CheckNamingRules(report, nametree::plcopen::DefaultNamingConfig());
  lap(3);
  const double seconds = Since(start);
  if (findings.size() + rules.size() == static_cast<std::size_t>(-1)) std::puts("");  // keeps the work
  return seconds;
}

const char* Met(bool met) { return met ? "met" : "NOT met"; }

}  // namespace

int main(int argc, char** argv) {
  const char* env = std::getenv("NAMETREE_PLCOPEN_DIR");
  const fs::path dir = argc > 1 ? argv[1] : env ? env : "/work/shared/plcopen";
  if (argc > 2) program = argv[2];
  if (argc > 3) runs = std::max(1, std::atoi(argv[3]));
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) {
    std::printf("skipped: no directory of PLCopen projects at %s\n", dir.c_str());
    return 0;
  }
  std::vector<std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(dir, ec))
    if (e.is_regular_file() && e.path().extension() == ".xml") files.push_back(e.path().string());
  if (files.empty()) {
    std::printf("skipped: no .xml file under %s\n", dir.c_str());
    return 0;
  }
  // A run of lint imports a file once; repeated here, each import's free
  // would hand the heap's top back to the system and the next fault it in
  // again (a TLB shootdown each time on a VM), which no single run pays.
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
  std::sort(files.begin(), files.end());
  std::string largest = files.front();
  for (const std::string& f : files)
    if (fs::file_size(f) > fs::file_size(largest)) largest = f;

  double allCpu = 0, oneCpu = 0, startCpu = 0;
  const double start = Median([&] { return Run({"--version"}); });
  startCpu = Median([&] { return Run({"--version"}), lastCpu; });
  const double all = Median([&] { return Run({"lint", dir.string()}); });
  allCpu = Median([&] { return Run({"lint", dir.string()}), lastCpu; });
  const double parseAll = Median([&] { return Parse(files); });
  const double one = Median([&] { return Run({"lint", largest}); });
  oneCpu = Median([&] { return Run({"lint", largest}), lastCpu; });
  const double parseOne = Median([&] { return Parse({largest}); });
  const double judgeOne = Median([&] { return Judge(largest); });

  std::printf("%zu files under %s; largest %s (%ju bytes); medians of %d runs\n", files.size(), dir.c_str(),
              largest.c_str(), static_cast<std::uintmax_t>(fs::file_size(largest)), runs);
  std::printf("start of the program (--version): %.1f ms wall, %.1f ms CPU\n", start * 1e3, startCpu * 1e3);
  std::printf("lint of the directory, whole process: %.1f ms wall, %.1f ms CPU (pugixml parses the same files in "
              "%.1f ms): target <= 1000 ms, %s\n",
              all * 1e3, allCpu * 1e3, parseAll * 1e3, Met(all <= 1.0));
  std::printf("lint of the largest file, whole process: %.1f ms wall, %.1f ms CPU: target <= 50 ms, %s\n",
              one * 1e3, oneCpu * 1e3, Met(one <= 0.05));
  std::printf("judging the largest file in process: %.2f ms against pugixml's parse %.2f ms: %.2fx, "
              "target <= 3x, %s\n",
              judgeOne * 1e3, parseOne * 1e3, judgeOne / parseOne, Met(judgeOne <= 3 * parseOne));
  std::printf("  of which (last run) keywords %.2f ms, import %.2f ms, document check %.2f ms, rules %.2f ms\n",
              parts[0] * 1e3, parts[1] * 1e3, parts[2] * 1e3, parts[3] * 1e3);
  return 0;
}
