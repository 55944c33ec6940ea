// Classic-API calls decoded from the input, fed to the library and to the
// naive model of the classic API; after every call the two must agree (see
// tests/support/model_driver.h). Each call takes a byte for the operation
// and four for each of its selectors, zeros once the input is spent.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "support/model_driver.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace nametree::modeldiff;
  std::size_t pos = 0;
  auto next = [&](int bytes) {
    std::uint32_t v = 0;
    for (int i = 0; i < bytes && pos < size; ++i) v = v << 8 | data[pos++];
    return v;
  };
  std::vector<Command> commands(std::min<std::size_t>(80, size / 5));
  for (Command& c : commands) {
    c.op = static_cast<std::uint8_t>(next(1));
    for (auto& r : c.r) r = next(4);
  }
  const Outcome outcome = Run(commands);
  if (outcome.failedStep >= 0) {
    std::fprintf(stderr, "ops_fuzzer:\n%s", Describe(outcome).c_str());
    std::abort();
  }
  return 0;
}
