// A fixed run of checked AddName calls in a plant-shaped document, for
// counting instructions and cache misses under valgrind, where a timed
// benchmark would pick a different number of calls on every run. The same
// calls come in the same order every time; run it with 0 adds as well, and
// subtract, to leave out the building of the document.
//
//   add_name_driver [adds] [targets] [subs per tree]
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "nametree/name_server.h"

namespace {

using namespace nametree;

CString Text(const char16_t* prefix, std::uint64_t serial) {
  CString s = prefix;
  for (std::uint64_t v = serial + 1; v; v /= 26) s.push_back(static_cast<char16_t>(u'A' + v % 26));
  return s;
}

long Arg(int argc, char** argv, int i, long fallback) { return argc > i ? std::atol(argv[i]) : fallback; }

}  // namespace

int main(int argc, char** argv) {
  const long adds = Arg(argc, argv, 1, 100000);
  const long targets = Arg(argc, argv, 2, 20);
  const long subs = Arg(argc, argv, 3, 1000);

  // A global tree of global containers and target trees of programs (type
  // 3) and tag tables (type 4), ten names each, as plant_bench builds.
  CNameServer server;
  struct Slot {
    std::uint32_t id;
    std::int16_t type;
  };
  std::vector<Slot> slots;
  std::uint64_t serial = 0;
  auto fill = [&](std::uint32_t parent, std::int16_t type) {
    const std::uint32_t id = server.AddContainer(parent, type);
    CNameContainer* c = server.GetContainer(id);
    for (int n = 0; n < 10; ++n) c->AddName(Text(u"Tag", serial++));
    slots.push_back({id, type});
  };
  const std::uint32_t global = server.AddContainer(0, kGlobalContainer);
  for (long s = 0; s < subs; ++s) fill(global, kGlobalContainer);
  for (long t = 0; t < targets; ++t) {
    const std::uint32_t target = server.AddContainer(0, kTargetContainer);
    for (long s = 0; s < subs; ++s) fill(target, s % 2 ? kTargetContainer : 4);
  }

  // Fresh names into random containers, one in eight confined, one in
  // sixteen a duplicate of a name the document holds.
  std::mt19937 rng(7);
  long refused = 0;
  for (long i = 0; i < adds; ++i) {
    const Slot& slot = slots[rng() % slots.size()];
    const bool duplicate = i % 16 == 0;
    const CString text = duplicate ? Text(u"Tag", rng() % serial) : Text(u"Fresh", static_cast<std::uint64_t>(i));
    std::uint32_t id = 0;
    if (server.AddName(id, slot.id, text, kOrdinaryName, true, i % 8 == 1) != S_OK) ++refused;
  }
  std::printf("%zu containers, %llu names, %ld adds, %ld refused\n", slots.size(),
              static_cast<unsigned long long>(serial), adds, refused);
  return 0;
}
