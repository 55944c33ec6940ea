// 'nametree batch' as users run it at plant scale: 100 000 adds spread over
// 1 000 target sub-containers of a 100 000-container document, timed from
// loading the file to saving it, through the program's own batch code.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "batch.h"
#include "document.h"
#include "nametree/cfb_storage.h"

namespace nametree {
namespace {

constexpr int kTargets = 10;
constexpr int kPerTarget = 9999;  // sub-containers under each top-level target
constexpr int kBusy = 1000;       // sub-containers that receive names
constexpr int kAdds = 100000;

struct Scene {
  std::filesystem::path dir, original, working, batch;

  Scene() {
    std::string pattern = (std::filesystem::temp_directory_path() / "nametree-batch-XXXXXX").string();
    if (!mkdtemp(pattern.data())) std::abort();
    dir = pattern;
    original = dir / "plant.nt";
    working = dir / "work.nt";
    batch = dir / "edits.txt";

    CNameContainer::SetLastIssuedNameID(0);
    CNameServer server;
    const std::uint32_t global = server.AddContainer(0, kGlobalContainer);
    for (int i = 0; i < 1000; ++i) {
      std::uint32_t id = 0;
      server.AddName(id, global, u"Global" + std::u16string(1, u'A' + i % 26) + ToU16(i), kOrdinaryName, true);
    }
    std::vector<std::uint32_t> busy;
    for (int t = 0; t < kTargets; ++t) {
      const std::uint32_t top = server.AddContainer(0, kTargetContainer);
      for (int i = 0; i < kPerTarget; ++i) {
        const std::uint32_t sub = server.AddContainer(top, kTargetContainer);
        if (i % (kPerTarget * kTargets / kBusy + 1) == 0 && busy.size() < kBusy) busy.push_back(sub);
      }
    }
    ComPtr<IStorage> storage;
    std::string error;
    if (!CreateCompoundFile(original.string(), &storage, &error) || server.Save(storage.Get()) != S_OK ||
        !CommitCompoundFile(storage.Get(), &error))
      std::abort();

    std::ofstream out(batch, std::ios::binary);
    for (int i = 0; i < kAdds; ++i)
      out << "add " << busy[static_cast<std::size_t>(i) % busy.size()] << " Tag" << i << "\n";
  }
  ~Scene() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }

  static std::u16string ToU16(int v) {
    std::u16string s;
    for (char c : std::to_string(v)) s.push_back(static_cast<char16_t>(c));
    return s;
  }
};

void BM_Batch100kAddsIn100kContainers(benchmark::State& state) {
  static Scene scene;
  std::ifstream in(scene.batch, std::ios::binary);
  const std::string input((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (auto _ : state) {
    state.PauseTiming();
    std::filesystem::copy_file(scene.original, scene.working, std::filesystem::copy_options::overwrite_existing);
    state.ResumeTiming();
    Document doc = Document::InMemory();
    cli::Reporter reporter;
    if (cli::OpenDocument(reporter, doc, scene.working.string(), true) != 0) std::abort();
    const cli::BatchReport report = cli::RunBatch(doc, input, false);
    if (!report.refused.empty() || report.applied != kAdds || cli::SaveDocument(reporter, doc) != 0) {
      state.SkipWithError("the batch was refused");
      break;
    }
  }
  state.counters["adds"] = kAdds;
}
BENCHMARK(BM_Batch100kAddsIn100kContainers)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
}  // namespace nametree
