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

void Ratio(const std::string& what, const Result* a, const Result* b, double target, bool atMost,
           const char* counter = nullptr) {
  if (!a || !b) return;
  const double x = counter ? a->counters.at(counter) : a->cpuNs;
  const double y = counter ? b->counters.at(counter) : b->cpuNs;
  const double r = x / y;
  std::printf("  %-72s %8.3fx  (target %s %.2fx: %s)\n", what.c_str(), r, atMost ? "<=" : ">=", target,
              (atMost ? r <= target : r >= target) ? "met" : "NOT met");
}

// Plant shapes: each operation at the largest shape against the smallest,
// each check or lookup against the bare map of the same document, and each
// checked add against that map's find + insert.
void PlantRatios(const Collector& c) {
  const std::string large = "/100x1000/", small = "/1x10/";
  const char* const lookups[] = {"IsDuplicateName", "IsGlobalName", "FindName/", "GetID",
                                 "GetName", "FindContainerOfName", "GetContainer"};
  for (const auto& [name, r] : c.results) {
    const std::size_t at = name.find(large);
    if (name.rfind("Plant/", 0) != 0 || at == std::string::npos || name.find("BareMap") != std::string::npos)
      continue;
    const std::string head = name.substr(0, at), tail = name.substr(at + large.size());
    const std::string variant = tail.substr(0, tail.find('/'));
    const std::string op = head.substr(6);
    Ratio(op + ", " + variant + ": largest / smallest shape", &r,
          c.Find(head + small + variant), 2.0, true);
    for (const char* l : lookups) {
      if (op.rfind(l, 0) != 0) continue;
      Ratio(op + ", " + variant + ": largest shape / bare map", &r,
            c.Find("Plant/BareMap" + large + variant), 2.0, true);
      break;
    }
    if (op.rfind("AddName/", 0) == 0)
      Ratio(op + ", " + variant + ": largest shape / bare map add", &r,
            c.Find("Plant/BareMapAdd" + large + variant), 2.0, true);
  }
  Ratio("GetNextName + AddName, 30 000 / 1 000 distinct bases", c.Find("BM_DistinctBaseNames/30000"),
        c.Find("BM_DistinctBaseNames/1000"), 2.0, true);
  Ratio("DeleteContainer + AddName, 30 000 / 1 000 siblings", c.Find("BM_DeleteAmongSiblings/30000"),
        c.Find("BM_DeleteAmongSiblings/1000"), 2.0, true);
  Ratio("DeleteContainer + AddContainer on the parent, 30 000 / 1 000 siblings",
        c.Find("BM_DeleteAmongSiblingsInContainer/30000"), c.Find("BM_DeleteAmongSiblingsInContainer/1000"), 2.0, true);
  // Per name object: the rate of the small import over that of the large one.
  Ratio("LoadOldVersion per name object, 100 000 / 1 000 records, no bags",
        c.Find("BM_LoadOldVersion/objects:1000/bags:0"), c.Find("BM_LoadOldVersion/objects:100000/bags:0"), 2.0,
        true, "items_per_second");
  Ratio("LoadOldVersion per name object, 100 000 / 1 000 records, half in bags of ten",
        c.Find("BM_LoadOldVersion/objects:1000/bags:1"), c.Find("BM_LoadOldVersion/objects:100000/bags:1"), 2.0,
        true, "items_per_second");
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
  PlantRatios(collector);
  if (const Result* batch = collector.Find("BM_Batch100kAddsIn100kContainers")) {
    const double seconds = batch->realNs / 1e9;
    std::printf("  %-66s %8.2f s   (target < 5 s: %s)\n", "batch: 100 000 adds into 1 000 of 100 000 containers",
                seconds, seconds < 5 ? "met" : "NOT met");
  }
  benchmark::Shutdown();
  return 0;
}
