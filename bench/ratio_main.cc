// Runs the benchmarks, then reads each result against the baseline that
// was measured in the same run and prints the ratios with their targets.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

namespace {

struct Result {
  double cpuNs = 0;
  double realNs = 0;
  std::map<std::string, double> counters;
};

class Collector : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (r.run_type != Run::RT_Iteration) continue;
      Result& out = results[r.benchmark_name()];
      out.cpuNs = r.GetAdjustedCPUTime();
      out.realNs = r.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(r.time_unit) * 1e9;
      for (const auto& [name, counter] : r.counters) out.counters[name] = counter.value;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  // The first result whose name begins with `prefix`.
  const Result* Find(const std::string& prefix) const {
    for (const auto& [name, r] : results)
      if (name.rfind(prefix, 0) == 0) return &r;
    return nullptr;
  }
  std::map<std::string, Result> results;
};

void Ratio(const char* what, const Result* a, const Result* b, double target, bool atMost,
           const char* counter = nullptr) {
  if (!a || !b) return;
  const double x = counter ? a->counters.at(counter) : a->cpuNs;
  const double y = counter ? b->counters.at(counter) : b->cpuNs;
  const double r = x / y;
  std::printf("  %-66s %8.3fx  (target %s %.2fx: %s)\n", what, r, atMost ? "<=" : ">=", target,
              (atMost ? r <= target : r >= target) ? "met" : "NOT met");
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  Collector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);
  std::printf("\nRatios against baselines of this run:\n");
  if (const Result* few = collector.Find("BM_ContainerFootprint/10")) {
    const double bytes = few->counters.at("bytes_per_container");
    std::printf("  %-66s %8.0f B   (target <= 2048 B: %s)\n", "initialised container with 10 names", bytes,
                bytes <= 2048 ? "met" : "NOT met");
  }
  Ratio("AddName checked, 100 000 containers / 10 containers", collector.Find("BM_AddNameChecked/100000"),
        collector.Find("BM_AddNameChecked/10"), 2.0, true);
  Ratio("AddName checked, 100 000 containers / unordered_map insert+find",
        collector.Find("BM_AddNameChecked/100000"), collector.Find("BM_BaselineUnorderedMapInsertFind"), 3.0, true);
  Ratio("Save+Load of 1M names / memcpy of the same bytes (bytes/s)", collector.Find("BM_SaveLoadMillionNames"),
        collector.Find("BM_BaselineMemcpySameBytes"), 0.25, false, "bytes_per_second");
  if (const Result* batch = collector.Find("BM_Batch100kAddsIn100kContainers")) {
    const double seconds = batch->realNs / 1e9;
    std::printf("  %-66s %8.2f s   (target < 5 s: %s)\n", "batch: 100 000 adds into 1 000 of 100 000 containers",
                seconds, seconds < 5 ? "met" : "NOT met");
  }
  benchmark::Shutdown();
  return 0;
}
