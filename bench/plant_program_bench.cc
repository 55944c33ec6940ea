// The nametree program, whole process, on the shape a PLC plant has: 20
// targets, each with 1 000 tags and 10 plain programs of 2 300 local
// names, the same local names in every program (480 000 names). Each
// command's wall time, median of five runs, is read against opening the
// document (a 'show' of one ID) or against the same run without the edit
// check, the two run by turns. Usage: plant_program_bench [PROGRAM]
// [RUNS]; NAMETREE_PLANT_SCALE=N divides the programs' locals and tags by N.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "process_run.h"

namespace {

namespace fs = std::filesystem;

constexpr int kTargets = 20, kPrograms = 10;
int tags = 1000, locals = 2300;

std::string program = NAMETREE_PROGRAM;
fs::path dir;
int runs = 5;

double lastCpu = 0;  // user + system seconds of the last run

// Wall seconds of one run; its output goes to files, never to the screen.
double Run(std::vector<std::string> args, const fs::path& in = "/dev/null", int* status = nullptr) {
  args.insert(args.begin(), program);
  const nametree::bench::ProcessRun run =
      nametree::bench::RunProcess(args, in.string(), (dir / "out.txt").string(), (dir / "err.txt").string());
  if (status) *status = run.status;
  lastCpu = run.cpu;
  return run.wall;
}

void Copy(const fs::path& from, const fs::path& to) { fs::copy_file(from, to, fs::copy_options::overwrite_existing); }

// Medians of `runs` runs (wall, and user + system CPU) of a command and of
// its baseline, taken by turns so that a change in the machine's load
// falls on both; each run on a fresh copy of its document.
struct Timing {
  double wall, cpu;
};
template <class F, class G>
std::pair<Timing, Timing> ByTurns(F&& once, const fs::path& doc, G&& base, const fs::path& baseDoc) {
  std::vector<double> wall[2], cpu[2];
  for (int i = 0; i < runs; ++i) {
    for (int side = 0; side < 2; ++side) {
      Copy(side ? baseDoc : doc, dir / "work.nt");
      wall[side].push_back(side ? base() : once());
      cpu[side].push_back(lastCpu);
    }
  }
  Timing median[2];
  for (int side = 0; side < 2; ++side) {
    std::sort(wall[side].begin(), wall[side].end());
    std::sort(cpu[side].begin(), cpu[side].end());
    median[side] = {wall[side][wall[side].size() / 2], cpu[side][cpu[side].size() / 2]};
  }
  return {median[0], median[1]};
}

void Write(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::string PlantBatch() {
  std::string out;
  for (int t = 0; t < kTargets; ++t) {
    out += "add-container 0 --type target --as t" + std::to_string(t) + "\n";
    for (int i = 0; i < tags; ++i) out += "add @t" + std::to_string(t) + " T" + std::to_string(t) + "Tag" + std::to_string(i) + "\n";
    for (int p = 0; p < kPrograms; ++p) {
      const std::string ref = "t" + std::to_string(t) + "p" + std::to_string(p);
      out += "add-container @t" + std::to_string(t) + " --as " + ref + "\n";
      for (int i = 0; i < locals; ++i) out += "add @" + ref + " Local" + std::to_string(i) + "\n";
    }
  }
  return out;
}

// The first word of the last line of the last run's output, as a number.
unsigned LastId() {
  std::ifstream in(dir / "out.txt");
  unsigned id = 0;
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) id = static_cast<unsigned>(std::strtoul(line.c_str(), nullptr, 10));
  return id;
}

struct Row {
  std::string what;
  Timing seconds, base;
  const char* against;
  double target;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) program = argv[1];
  if (argc > 2) runs = std::max(1, std::atoi(argv[2]));
  if (const char* scale = std::getenv("NAMETREE_PLANT_SCALE"); scale && std::atoi(scale) > 1) {
    tags /= std::atoi(scale);
    locals /= std::atoi(scale);
  }
  std::string pattern = (fs::temp_directory_path() / "nametree-plant-XXXXXX").string();
  if (!mkdtemp(pattern.data())) return 1;
  dir = pattern;
  const fs::path empty = dir / "empty.nt", plant = dir / "plant.nt", work = dir / "work.nt";
  Run({"init", empty.string()});
  Write(dir / "plant.txt", PlantBatch());
  Copy(empty, plant);
  Run({"batch", plant.string(), (dir / "plant.txt").string(), "--no-edit-check"});

  // What the single commands take: the last program and target by their
  // labels, and a local name of that program.
  Run({"export", plant.string()});
  Copy(dir / "out.txt", dir / "export.txt");
  Run({"find", plant.string(), "Local7"});
  const std::string name = std::to_string(LastId());
  const std::string target = "@t" + std::to_string(kTargets - 1), prog = target + "p" + std::to_string(kPrograms - 1);
  if (name == "0") {
    std::fprintf(stderr, "cannot find a local name in the program's output\n");
    return 1;
  }

  std::string adds;
  for (int i = 0; i < 10000; ++i)
    adds += "add @t" + std::to_string(i % kTargets) + "p" + std::to_string(i / kTargets % kPrograms) + " Extra" +
            std::to_string(i / (kTargets * kPrograms)) + "\n";
  Write(dir / "adds.txt", adds);

  std::vector<Row> rows;
  const auto open = [&] { return Run({"show", work.string(), name}); };
  auto row = [&](const char* what, std::vector<std::string> args, const fs::path& doc, double target,
                 const fs::path& in = "/dev/null") {
    const auto [seconds, base] = ByTurns([&] { return Run(args, in); }, doc, open, plant);
    rows.push_back({what, seconds, base, "open", target});
  };
  auto bare = [&](const char* what, std::vector<std::string> args, const fs::path& doc) {
    std::vector<std::string> without = args;
    without.push_back("--no-edit-check");
    const auto [seconds, base] = ByTurns([&] { return Run(args); }, doc, [&] { return Run(without); }, doc);
    rows.push_back({what, seconds, base, "--no-edit-check", 1.5});
  };
  bare("batch building the plant", {"batch", work.string(), (dir / "plant.txt").string()}, empty);
  bare("batch of 10 000 adds into it", {"batch", work.string(), (dir / "adds.txt").string()}, plant);
  row("add of a name", {"add", work.string(), prog, "Fresh1"}, plant, 1.2);
  row("add of a name, --no-edit-check", {"add", work.string(), prog, "Fresh1", "--no-edit-check"}, plant, 0);
  row("rename of a name", {"rename", work.string(), name, "Fresh1"}, plant, 1.2);
  row("delete of a name", {"delete", work.string(), name}, plant, 1.2);
  row("delete --container of a program", {"delete", work.string(), prog, "--container"}, plant, 2);
  row("the same, --dry-run", {"delete", work.string(), prog, "--container", "--dry-run"}, plant, 2);
  row("delete --container of a target", {"delete", work.string(), target, "--container"}, plant, 3);
  row("lint", {"lint", work.string()}, plant, 0);
  row("export", {"export", work.string()}, plant, 0);
  row("batch of the export into a new document", {"batch", work.string(), (dir / "export.txt").string()}, empty, 0);

  std::printf("plant: %d targets x (%d tags + %d programs x %d locals), medians of %d runs, each by turns with its baseline\n",
              kTargets, tags, kPrograms, locals, runs);
  std::printf("| command | wall s | against, wall s | ratio | CPU s | against, CPU s | ratio | target |\n"
              "|---|---|---|---|---|---|---|---|\n");
  for (const Row& r : rows) {
    const double wall = r.seconds.wall / r.base.wall, cpu = r.seconds.cpu / r.base.cpu;
    std::printf("| %s | %.3f | %s %.3f | %.2fx | %.3f | %.3f | %.2fx | %s |\n", r.what.c_str(), r.seconds.wall, r.against,
                r.base.wall, wall, r.seconds.cpu, r.base.cpu, cpu,
                r.target == 0 ? "none" : (wall <= r.target ? "met" : "NOT met"));
  }
  fs::remove_all(dir);
  return 0;
}
