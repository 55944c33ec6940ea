// The long run of the library against the classic model: random sequences
// until the command budget is spent, each disagreement printed once per kind.
// Prints the seed, commands per second and how many sequences reached each
// crowded state.
//
//   classic_model_soak [--commands N] [--seed S] [--calls-only]
// --calls-only leaves out the comparison of the whole trees after each
// call, so that disagreements show in the calls whose answers they change.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>

#include "support/model_driver.h"

int main(int argc, char** argv) {
  using namespace nametree::modeldiff;
  long long budget = 2000000;
  std::uint64_t seed = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  bool survey = true;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--calls-only")) survey = false;
    else if (i + 1 < argc && !std::strcmp(argv[i], "--commands")) budget = std::atoll(argv[++i]);
    else if (i + 1 < argc && !std::strcmp(argv[i], "--seed")) seed = std::strtoull(argv[++i], nullptr, 10);
    else return std::fprintf(stderr, "usage: %s [--commands N] [--seed S] [--calls-only]\n", argv[0]), 2;
  }
  std::string why;
  if (!LibraryFoldsLikeModel(&why)) return std::fprintf(stderr, "%s\n", why.c_str()), 2;
  std::printf("seed %llu, %lld commands\n", static_cast<unsigned long long>(seed), budget);
  std::fflush(stdout);

  std::mt19937_64 rng(seed);
  long long done = 0, sequences = 0, failed = 0;
  long long shared = 0, caseOnly = 0, ontoHeld = 0, loaded = 0;
  std::map<std::string, long long> kinds;
  const auto start = std::chrono::steady_clock::now();
  while (done < budget) {
    const int length = 60 + static_cast<int>(rng() % 400);
    const auto commands = Generate(rng, length);
    const Outcome o = Run(commands, survey);
    ++sequences;
    done += o.failedStep < 0 ? length : o.failedStep + 1;
    shared += o.reached.sharedKey;
    caseOnly += o.reached.caseOnlyRename;
    ontoHeld += o.reached.ontoHeldKey;
    loaded += o.reached.loadedDuplicate;
    if (o.failedStep < 0) continue;
    ++failed;
    if (kinds[o.kind]++ == 0) {
      std::printf("\nsequence %lld disagrees:\n%s", sequences, Describe(o).c_str());
      std::fflush(stdout);
    }
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("\n%lld commands in %lld sequences, %.1f s, %.0f commands/s\n", done, sequences, seconds,
              done / seconds);
  std::printf("sequences reaching: a shared key %lld, a case-only rename %lld, a rename onto a held key %lld, "
              "a loaded duplicate %lld\n",
              shared, caseOnly, ontoHeld, loaded);
  std::printf("disagreeing sequences: %lld\n", failed);
  for (const auto& [kind, n] : kinds) std::printf("  %s: %lld\n", kind.c_str(), n);
  return failed ? 1 : 0;
}
