// "NameServer" streams and trees too deep for any recursion over them, built
// byte by byte or through the public calls, for the depth tests and the
// depth benchmark.
#pragma once

#include <cstdint>
#include <vector>

#include "nametree/name_server.h"
#include "nametree/storage.h"

namespace nametree::test {

// One top-level record with `depth` records nested one in another, each of
// type `type` with `names` names; the record at nesting level i (0 at the
// top) has ID 2i+1 and names 2i+2.., texts "N<level>_<k>". The stream ends
// with last issued ID 0x10000000.
std::vector<std::uint8_t> NestedStream(std::uint32_t depth, std::int16_t type, int names);

// A memory storage whose "NameServer" stream holds `bytes`.
ComPtr<IStorage> StorageWith(const std::vector<std::uint8_t>& bytes);

// The "NameServer" stream of a storage, empty when there is none.
std::vector<std::uint8_t> StreamBytes(IStorage* storage);

// Runs f on a thread whose stack is `bytes` long and waits for it; false
// when no such thread could be made.
bool RunWithStack(std::size_t bytes, void (*f)(void*), void* arg);

}  // namespace nametree::test
