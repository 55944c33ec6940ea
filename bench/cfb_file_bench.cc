// Document files at the sizes hosts have: a "NameServer" stream of a few
// KB beside 1 GiB of the host's own data, against the same beside
// 1 MiB, and a commit of the large one against cp of it plus fsync.
// Every measurement runs in a fresh process (this program, re-executed),
// so that its peak RSS is its own. Files go to a temporary directory
// ($TMPDIR or /tmp); the benchmarks are skipped when it lacks room.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "nametree/cfb_storage.h"
#include "nametree/name_server.h"

using namespace nametree;

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;
constexpr std::uint64_t kNeeded = std::uint64_t{3} << 30;

double Seconds(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

Bytes NameServerBytes() {
  CNameServer server;
  const std::uint32_t global = server.AddContainer(0, kGlobalContainer);
  for (int i = 0; i < 300; ++i) {
    std::uint32_t id = 0;
    std::string text = "Tag_" + std::to_string(i);
    server.AddName(id, global, CString(text.begin(), text.end()), 0, false);
  }
  ComPtr<IStorage> memory = CreateMemoryStorage();
  server.Save(memory.Get());
  ComPtr<IStream> s;
  memory->OpenStream(u"NameServer", kOpenMode, s.Put());
  return MemoryStreamBytes(s.Get());
}

bool WriteAll(IStream* stream, const std::uint8_t* data, std::uint64_t size) {
  for (std::uint64_t done = 0; done < size;) {
    const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(size - done, 64 * kMiB));
    std::uint32_t written = 0;
    if (Failed(stream->Write(data + done, n, &written)) || written != n) return false;
    done += n;
  }
  return true;
}

// A document of `filler` bytes of host data and a "NameServer" stream.
int MakeDocument(const std::string& path, std::uint64_t filler) {
  ComPtr<IStorage> root;
  std::string error;
  if (!CreateCompoundFile(path, &root, &error)) return std::fprintf(stderr, "%s\n", error.c_str()), 1;
  {
    ComPtr<IStream> s;
    root->CreateStream(u"HostData", kCreateMode, s.Put());
    Bytes chunk(64 * kMiB);
    for (std::size_t i = 0; i < chunk.size(); ++i)
      chunk[i] = static_cast<std::uint8_t>(i * 2654435761u >> 13);
    for (std::uint64_t done = 0; done < filler; done += chunk.size())
      if (!WriteAll(s.Get(), chunk.data(), std::min<std::uint64_t>(chunk.size(), filler - done))) return 1;
  }
  CNameServer server;
  {
    const Bytes names = NameServerBytes();
    ComPtr<IStream> s;
    root->CreateStream(u"NameServer", kCreateMode, s.Put());
    if (!WriteAll(s.Get(), names.data(), names.size())) return 1;
  }
  if (!CommitCompoundFile(root.Get(), &error)) return std::fprintf(stderr, "%s\n", error.c_str()), 1;
  std::printf("0\n");
  return 0;
}

// The operations measured, each run as `<this program> --child <op> <path>`;
// the child prints the seconds its operation took.
int ChildOpenAndRead(const std::string& path) {
  const auto start = Clock::now();
  ComPtr<IStorage> root;
  std::string error;
  if (!OpenCompoundFile(path, false, &root, &error)) return std::fprintf(stderr, "%s\n", error.c_str()), 1;
  CNameServer server;
  if (server.Load(root.Get()) != S_OK) return 1;
  std::printf("%.9f\n", Seconds(start));
  return 0;
}

int ChildCommit(const std::string& path) {
  const auto start = Clock::now();
  ComPtr<IStorage> root;
  std::string error;
  if (!OpenCompoundFile(path, true, &root, &error)) return std::fprintf(stderr, "%s\n", error.c_str()), 1;
  CNameServer server;
  std::uint32_t id = 0;
  if (server.Load(root.Get()) != S_OK ||
      server.AddName(id, server.GetTopLevelContainerIDs().at(0), u"Added" + CString(1, u'A' + getpid() % 26),
                     0, false) != S_OK ||
      server.Save(root.Get()) != S_OK || !CommitCompoundFile(root.Get(), &error))
    return std::fprintf(stderr, "%s\n", error.c_str()), 1;
  std::printf("%.9f\n", Seconds(start));
  return 0;
}

int ChildCopy(const std::string& path) {
  const std::string copy = path + ".cp";
  const auto start = Clock::now();
  const std::string command = "cp " + path + " " + copy;
  if (std::system(command.c_str()) != 0) return 1;
  const int fd = ::open(copy.c_str(), O_RDONLY);
  if (fd < 0 || ::fsync(fd) != 0) return 1;
  ::close(fd);
  std::printf("%.9f\n", Seconds(start));
  std::remove(copy.c_str());
  return 0;
}

struct ChildResult {
  bool ok = false;
  double seconds = 0;  // the operation, as the child timed it
  double process = 0;  // the whole child, exec to exit
  double peakRssMiB = 0;
};

ChildResult RunChild(const std::string& op, const std::string& path) {
  ChildResult r;
  int out[2];
  if (::pipe(out) != 0) return r;
  const auto start = Clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out[1], 1);
    ::close(out[0]);
    ::execl("/proc/self/exe", "cfb_file_bench", "--child", op.c_str(), path.c_str(),
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(out[1]);
  std::string text;
  char buf[256];
  for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;) text.append(buf, static_cast<std::size_t>(n));
  ::close(out[0]);
  int status = 0;
  struct rusage usage {};
  ::wait4(pid, &status, 0, &usage);
  r.process = Seconds(start);
  r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0 && !text.empty();
  r.seconds = r.ok ? std::strtod(text.c_str(), nullptr) : 0;
  r.peakRssMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
  return r;
}

struct Documents {
  std::string dir, large, small;
  std::string skip;  // why the benchmarks cannot run
};

const Documents& Prepare() {
  static Documents docs = [] {
    Documents d;
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/nametree-bench-XXXXXX";
    if (!::mkdtemp(pattern.data())) {
      d.skip = "cannot make a temporary directory";
      return d;
    }
    d.dir = pattern;
    struct statvfs fs {};
    if (::statvfs(d.dir.c_str(), &fs) != 0 || std::uint64_t{fs.f_bavail} * fs.f_frsize < kNeeded) {
      d.skip = "fewer than 3 GiB free in " + d.dir + "; set TMPDIR to a roomier place";
      return d;
    }
    d.large = d.dir + "/large.doc";
    d.small = d.dir + "/small.doc";
    for (const auto& [path, size] : {std::pair{d.large, 1024 * kMiB}, std::pair{d.small, kMiB}})
      if (!RunChild("make-" + std::to_string(size), path).ok) d.skip = "cannot write " + path;
    return d;
  }();
  return docs;
}

void Measure(benchmark::State& state, const std::string& op, const std::string& path, double bytes) {
  const Documents& docs = Prepare();
  if (!docs.skip.empty()) {
    state.SkipWithError(docs.skip.c_str());
    return;
  }
  double rss = 0, process = 0;
  for (auto _ : state) {
    const ChildResult r = RunChild(op, path);
    if (!r.ok) {
      state.SkipWithError(("the child for " + op + " failed").c_str());
      return;
    }
    state.SetIterationTime(r.seconds);
    rss = std::max(rss, r.peakRssMiB);
    process += r.process;
  }
  state.counters["peak_rss_mib"] = rss;
  state.counters["process_s"] = benchmark::Counter(process, benchmark::Counter::kAvgIterations);
  if (bytes > 0)
    state.counters["bytes_per_second"] =
        benchmark::Counter(bytes, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_OpenReadNameServer_1MiB(benchmark::State& state) { Measure(state, "open", Prepare().small, 0); }
void BM_OpenReadNameServer_1GiB(benchmark::State& state) { Measure(state, "open", Prepare().large, 0); }
void BM_CommitNameServer_1GiB(benchmark::State& state) {
  Measure(state, "commit", Prepare().large, static_cast<double>(std::filesystem::file_size(Prepare().large)));
}
void BM_BaselineCpFsync_1GiB(benchmark::State& state) {
  Measure(state, "copy", Prepare().large, static_cast<double>(std::filesystem::file_size(Prepare().large)));
}

// Medians of repetitions: the machine's other work shows up as outliers.
BENCHMARK(BM_OpenReadNameServer_1MiB)
    ->UseManualTime()
    ->Iterations(20)
    ->Repetitions(7)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenReadNameServer_1GiB)
    ->UseManualTime()
    ->Iterations(20)
    ->Repetitions(7)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BaselineCpFsync_1GiB)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CommitNameServer_1GiB)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(3)
    ->Unit(benchmark::kMillisecond);

struct Row {
  double seconds = 0;
  std::map<std::string, double> counters;
};

class Collector : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (r.run_type != Run::RT_Aggregate || r.aggregate_name != "median" || r.error_occurred) continue;
      Row& row = rows[r.benchmark_name()];
      row.seconds = r.GetAdjustedRealTime();
      for (const auto& [name, c] : r.counters) row.counters[name] = c.value;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  const Row* Find(const std::string& prefix) const {
    for (const auto& [name, row] : rows)
      if (name.rfind(prefix, 0) == 0) return &row;
    return nullptr;
  }
  std::map<std::string, Row> rows;
};

void Verdict(const char* what, double value, const char* unit, double target, bool atMost) {
  std::printf("  %-58s %9.3f%s (target %s %.2f%s: %s)\n", what, value, unit, atMost ? "<=" : ">=", target,
              unit, (atMost ? value <= target : value >= target) ? "met" : "NOT met");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--child") == 0) {
    const std::string op = argv[2], path = argv[3];
    if (op == "open") return ChildOpenAndRead(path);
    if (op == "commit") return ChildCommit(path);
    if (op == "copy") return ChildCopy(path);
    if (op.rfind("make-", 0) == 0) return MakeDocument(path, std::stoull(op.substr(5)));
    return 2;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  Collector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);
  const Documents& docs = Prepare();
  if (!docs.dir.empty()) std::filesystem::remove_all(docs.dir);
  if (!docs.skip.empty()) {
    std::printf("\nSkipped: %s\n", docs.skip.c_str());
    return 0;
  }
  std::printf("\nAgainst baselines of this run:\n");
  const Row* small = collector.Find("BM_OpenReadNameServer_1MiB");
  const Row* large = collector.Find("BM_OpenReadNameServer_1GiB");
  const Row* commit = collector.Find("BM_CommitNameServer_1GiB");
  const Row* cp = collector.Find("BM_BaselineCpFsync_1GiB");
  std::printf("(medians of repetitions)\n");
  if (small && large) {
    Verdict("open + load NameServer, 1 GiB / 1 MiB document (time)", large->seconds / small->seconds, "x",
            2.0, true);
    Verdict("the same, whole child process (time)",
            large->counters.at("process_s") / small->counters.at("process_s"), "x", 2.0, true);
    Verdict("peak RSS opening the 1 GiB document", large->counters.at("peak_rss_mib"), " MiB", 32.0, true);
  }
  if (commit && cp)
    Verdict("commit of 1 GiB document / cp + fsync (throughput)",
            commit->counters.at("bytes_per_second") / cp->counters.at("bytes_per_second"), "x", 0.5, false);
  return 0;
}
