// Host operations decoded from the input: mostly straight through the
// containers the server hands out, now and then through the server itself,
// on trees that repeat IDs and texts. After every one, each lookup of the
// server must give what a plain walk of its tables gives.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "support/walk_model.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::size_t pos = 0;
  // As many input bytes as the range needs; zeros once the input is spent.
  const nametree::test::Pick pick = [&](std::uint32_t n) {
    std::uint32_t v = 0;
    for (std::uint64_t range = 1; range < n && pos < size; range <<= 8) v = v << 8 | data[pos++];
    return n ? v % n : 0;
  };
  const int steps = static_cast<int>(std::min<std::size_t>(80, size / 3));
  const std::string fault = nametree::test::RandomRun(
      +[](const nametree::CNameServer& s) { return s.GetTopLevelContainers(); }, pick, steps);
  if (!fault.empty()) {
    std::fprintf(stderr, "ops_fuzzer: %s\n", fault.c_str());
    std::abort();
  }
  return 0;
}
