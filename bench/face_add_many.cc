// AddMany of 100 000 names through the modern face (four containers of
// 25 000, under the per-container limit): the C++ side of the Python ratio
// that bench/python_add_many.py prints. Prints the best of five in seconds.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "nametree/document.h"

int main() {
  constexpr int kContainers = 4, kPerContainer = 25000;
  std::vector<std::string> names;
  for (int i = 0; i < kPerContainer; ++i) names.push_back("Tag_" + std::to_string(i));
  double best = 1e9;
  for (int run = 0; run < 5; ++run) {
    nametree::Document doc = nametree::Document::InMemory();
    const auto start = std::chrono::steady_clock::now();
    for (int c = 0; c < kContainers; ++c) {
      const auto container = doc.AddContainer(0, nametree::ContainerType::kOwn);
      if (!container || !doc.AddMany(*container, std::span<const std::string>(names))) return 1;
    }
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  std::printf("%.4f\n", best);
}
