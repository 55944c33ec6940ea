// The nametree program, whole process, on the shape a PLC plant has: 20
// targets, each with 1 000 tags and 10 plain programs of 2 300 local
// names, the same local names in every program (480 000 names). Each
// command's wall time, median of five runs, is read against opening the
// document (a 'show' of one ID) or against the same run without the edit
// check, measured in the same run. Usage: plant_program_bench [PROGRAM]
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

// Medians of `runs` runs (wall, and user + system CPU), each on a fresh
// copy of `doc` when given.
struct Timing {
  double wall, cpu;
};
template <class F>
Timing Median(F&& once, const fs::path& doc = {}) {
  std::vector<double> wall, cpu;
  for (int i = 0; i < runs; ++i) {
    if (!doc.empty()) Copy(doc, dir / "work.nt");
    wall.push_back(once());
    cpu.push_back(lastCpu);
  }
  std::sort(wall.begin(), wall.end());
  std::sort(cpu.begin(), cpu.end());
  return {wall[wall.size() / 2], cpu[cpu.size() / 2]};
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

  const Timing open = Median([&] { return Run({"show", work.string(), name}); }, plant);
  auto timed = [&](std::vector<std::string> args, const fs::path& doc, const fs::path& in = "/dev/null") {
    return Median([&] { return Run(args, in); }, doc);
  };
  std::vector<Row> rows;
  const Timing build = timed({"batch", work.string(), (dir / "plant.txt").string()}, empty);
  const Timing buildBare = timed({"batch", work.string(), (dir / "plant.txt").string(), "--no-edit-check"}, empty);
  rows.push_back({"batch building the plant", build, buildBare, "--no-edit-check", 1.5});
  const Timing more = timed({"batch", work.string(), (dir / "adds.txt").string()}, plant);
  const Timing moreBare = timed({"batch", work.string(), (dir / "adds.txt").string(), "--no-edit-check"}, plant);
  rows.push_back({"batch of 10 000 adds into it", more, moreBare, "--no-edit-check", 1.5});
  rows.push_back({"add of a name", timed({"add", work.string(), prog, "Fresh1"}, plant), open, "open", 1.2});
  rows.push_back({"add of a name, --no-edit-check", timed({"add", work.string(), prog, "Fresh1", "--no-edit-check"}, plant),
                  open, "open", 0});
  rows.push_back({"rename of a name", timed({"rename", work.string(), name, "Fresh1"}, plant), open, "open", 1.2});
  rows.push_back({"delete of a name", timed({"delete", work.string(), name}, plant), open, "open", 1.2});
  rows.push_back({"delete --container of a program", timed({"delete", work.string(), prog, "--container"}, plant),
                  open, "open", 2});
  rows.push_back({"the same, --dry-run",
                  timed({"delete", work.string(), prog, "--container", "--dry-run"}, plant), open, "open", 2});
  rows.push_back({"delete --container of a target", timed({"delete", work.string(), target, "--container"}, plant),
                  open, "open", 3});
  rows.push_back({"lint", timed({"lint", work.string()}, plant), open, "open", 0});
  rows.push_back({"export", timed({"export", work.string()}, plant), open, "open", 0});
  rows.push_back({"batch of the export into a new document",
                  timed({"batch", work.string(), (dir / "export.txt").string()}, empty), open, "open", 0});

  std::printf("plant: %d targets x (%d tags + %d programs x %d locals), medians of %d runs; open %.3f s wall, %.3f s CPU\n",
              kTargets, tags, kPrograms, locals, runs, open.wall, open.cpu);
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
