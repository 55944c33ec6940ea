#include "container/tree_generation.h"

#include <atomic>

namespace nametree {
namespace {

std::atomic<std::uint64_t> g_generation{0};

}  // namespace

std::uint64_t TreeGeneration() { return g_generation.load(std::memory_order_acquire); }

void NoteTreeChange() { g_generation.fetch_add(1, std::memory_order_acq_rel); }

}  // namespace nametree
