// The import's cost on the largest shared project: its time, and its peak
// heap counted by replacing the global allocator. A binary of its own, kept
// out of the valgrind run, whose allocator it would fight.
#include <gtest/gtest.h>
#include <malloc.h>

#include <pugixml.hpp>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <new>

#include "nametree/keyword_sets.h"
#include "nametree/name_server.h"
#include "nametree/plcopen_import.h"

// Heap in use and its peak, for the import's memory bound.
namespace {
std::size_t g_heap = 0, g_peak = 0;
void* Counted(std::size_t size) {
  void* p = std::malloc(size ? size : 1);
  if (!p) throw std::bad_alloc();
  g_heap += malloc_usable_size(p);
  g_peak = std::max(g_peak, g_heap);
  return p;
}
void Uncounted(void* p) {
  if (p) g_heap -= malloc_usable_size(p);
  std::free(p);
}
}  // namespace
void* operator new(std::size_t size) { return Counted(size); }
void* operator new[](std::size_t size) { return Counted(size); }
void operator delete(void* p) noexcept { Uncounted(p); }
void operator delete[](void* p) noexcept { Uncounted(p); }
void operator delete(void* p, std::size_t) noexcept { Uncounted(p); }
void operator delete[](void* p, std::size_t) noexcept { Uncounted(p); }

namespace nametree::test {
namespace {

// The largest shared project: time and peak heap of the import itself.
TEST(PlcopenCost, LargestSharedProjectStaysWithinItsBudget) {
  const std::filesystem::path shared = NAMETREE_PLCOPEN_DIR;
  if (!std::filesystem::is_directory(shared)) GTEST_SKIP() << "no " << shared;
  std::filesystem::path largest;
  for (const auto& e : std::filesystem::recursive_directory_iterator(shared))
    if (e.path().extension() == ".xml" && (largest.empty() || e.file_size() > std::filesystem::file_size(largest)))
      largest = e.path();
  pugi::set_memory_management_functions(Counted, Uncounted);
  CNameServer server;
  for (std::u16string_view w : KeywordSet("iec61131-3")) server.AddKeyword(CString(w));
  plcopen::ImportReport report;
  const std::size_t start = g_heap;
  g_peak = g_heap;
  const auto began = std::chrono::steady_clock::now();
  ASSERT_EQ(plcopen::ImportPlcopenFile(largest.string(), server, &report).status, plcopen::ImportStatus::kOk);
  const auto took = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - began).count();
  const double growth = static_cast<double>(g_peak - start) / static_cast<double>(std::filesystem::file_size(largest));
  std::printf("%s: %.2f ms, peak heap growth %.2f x the file\n", largest.c_str(), took, growth);
  EXPECT_GT(report.accepted, 10u);
  EXPECT_LT(growth, 4.0);
}

}  // namespace
}  // namespace nametree::test
